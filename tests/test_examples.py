"""Every example runs headless: on its own Xvfb, for a second, ending with a screenshot."""

import os
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest
from PIL import Image

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"
EXAMPLE_NAMES = sorted(p.stem for p in EXAMPLES.glob("*.py") if p.stem != "headless")


@pytest.mark.x11
@pytest.mark.parametrize("name", EXAMPLE_NAMES)
def test_example_runs_headless_and_shows_a_picture(name, tmp_path):
    shot = tmp_path / f"{name}.png"
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "SDL_VIDEO_DRIVER")}
    env.update(JXFB_DEMO_SECONDS="1", JXFB_SCREENSHOT=str(shot))
    result = subprocess.run(
        [sys.executable, str(EXAMPLES / f"{name}.py")],
        env=env,
        capture_output=True,
        text=True,
        timeout=60,
    )
    assert result.returncode == 0, result.stderr
    assert f"{name}: " in result.stdout and " fps" in result.stdout
    picture = np.asarray(Image.open(shot))
    assert len(np.unique(picture.reshape(-1, picture.shape[-1]), axis=0)) > 8  # not a blank window
