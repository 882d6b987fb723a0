"""Engine code that Python cannot reach one way at a time, checked by small C++ programs built here
against the engine's own sources, with AddressSanitizer and UBSan."""

import os
import shutil
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
ENGINE = ROOT / "src" / "core"
# Under `make sanitize` the interpreter runs with libasan preloaded: the compiler and the program
# (which links its own) must not inherit that.
CLEAN = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "ASAN_OPTIONS")}


@pytest.mark.skipif(shutil.which("g++") is None, reason="needs g++")
@pytest.mark.parametrize(
    "name, sources, checked",
    [("test_expand", ["expand.cpp"], "portable: checked"),
     ("test_int128", ["font.cpp"], "test_int128: checked"),
     ("test_edges", ["font.cpp"], "test_edges: checked")],
)  # fmt: skip
def test_engine_program(tmp_path, name, sources, checked):
    program = tmp_path / name
    build = ["g++", "-std=c++17", "-O1", "-g", "-fsanitize=address,undefined",
             "-fno-sanitize-recover=all", f"-I{ENGINE}", "-o", str(program),
             str(ROOT / "tests" / "cpp" / f"{name}.cpp"), *(str(ENGINE / s) for s in sources)]  # fmt: skip
    subprocess.run(build, check=True, capture_output=True, text=True, env=CLEAN)
    done = subprocess.run([str(program)], capture_output=True, text=True, timeout=120, env=CLEAN)
    assert done.returncode == 0, done.stdout + done.stderr
    assert checked in done.stdout
