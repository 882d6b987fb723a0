"""The Python blocks of the README and of docs/ run as written, so a documented call cannot drift.

Each page's blocks run in order in one fresh interpreter (a block may use what the blocks before it
made), in a scratch folder, on SDL's dummy video and sound drivers. A `while fb.running():` loop
ends after a few frames: the testing kit closes the window as a user would. A block that needs what a
test cannot give (a screen, a file the page does not make) is marked `<!-- not run: why -->` on
the line before its fence.
"""

import json
import os
import re
import sys
from pathlib import Path

import pytest
from conftest import run_child

ROOT = Path(__file__).resolve().parent.parent
PAGES = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]
FENCE = re.compile(r"^```python\n(.*?)^```$", re.S | re.M)
SKIP = "<!-- not run:"
FRAMES = 5

# Runs in the child: every framebuffer's loop ends after FRAMES frames, then the blocks run, each
# compiled under its page's name and line so that a traceback points into the page.
DRIVER = f"""
import json, sys
import jxframebuf
from jxframebuf import testing

_running = jxframebuf.Framebuffer.running

def running(self):
    if self.frames >= {FRAMES}:
        testing.close(self)  # the window's close button, seen by this very call
    return _running(self)

jxframebuf.Framebuffer.running = running
namespace = {{"__name__": "__main__"}}
for name, line, code in json.load(sys.stdin):
    exec(compile("\\n" * (line - 1) + code, name, "exec"), namespace)
"""


def blocks(page):
    text = page.read_text()
    found = []
    for match in FENCE.finditer(text):
        before = text[: match.start()].rstrip("\n").rsplit("\n", 1)[-1]
        if before.startswith(SKIP):
            continue
        line = text.count("\n", 0, match.start(1)) + 1
        found.append((str(page.relative_to(ROOT)), line, match.group(1)))
    return found


@pytest.mark.parametrize(
    "page", [p for p in PAGES if blocks(p)], ids=lambda p: str(p.relative_to(ROOT))
)
def test_code_blocks_run(page, tmp_path):
    env = dict(os.environ, SDL_VIDEO_DRIVER="dummy", SDL_AUDIO_DRIVER="dummy")

    result = run_child(
        [sys.executable, "-c", DRIVER],
        env,
        input=json.dumps(blocks(page)),
        cwd=tmp_path,
        timeout=120,
    )
    assert result.returncode == 0, result.stderr


def test_skipped_blocks_say_why():
    for page in PAGES:
        for line in page.read_text().splitlines():
            if line.startswith(SKIP):
                assert line.endswith("-->") and len(line) > len(SKIP) + 8, (page, line)
