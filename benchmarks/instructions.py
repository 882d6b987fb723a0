"""Instructions per call of the drawing members, counted by valgrind's cachegrind: what a change
to the engine or the binding costs a call, free of the machine's load and clock.

    python benchmarks/instructions.py [--baseline DIR] [CALL ...]

Each member is called N and 2N times in fresh processes under cachegrind; the difference over N
is its instructions per call, the loop included (the same for every build). With --baseline,
the same is counted with the jxframebuf package found in DIR (another build's installed package
directory's parent) and the change is printed beside it.
"""

from __future__ import annotations

import argparse
import os
import re
import subprocess
import sys
import tempfile

N = 5000

# Each call as a line of Python run in the loop; `fb` is a 320x200 framebuffer, `s` a 16x16
# sprite; the arguments put the shape partly outside the picture, as a game's often are.
CALLS = {
    "pset": "fb.pset(10, 20, 3)",
    "pget": "fb.pget(10, 20)",
    "line": "fb.line(-5, 7, 100, 60, 3)",
    "rect": "fb.rect(5, 7, 20, 12, 3)",
    "rect outline": "fb.rect(5, 7, 20, 12, 3, False)",
    "circle": "fb.circle(50, 40, 8, 3)",
    "blit": "fb.blit(30, 40, s, 0)",
    "text": "fb.text(3, 4, 'Score 1234', 7)",
    "text_size": "jxframebuf.text_size('Score 1234')",
}

PROGRAM = """
import os, sys
os.environ["SDL_VIDEO_DRIVER"] = "dummy"
import numpy as np
import jxframebuf
fb = jxframebuf.Framebuffer(320, 200, scale=1, fps=0)
s = (np.arange(256, dtype=np.uint8).reshape(16, 16) % 5)
def run(n):
    for _ in range(n):
        {call}
run({n})
"""


def instructions(call: str, n: int, path: str | None) -> int:
    with tempfile.TemporaryDirectory() as tmp:
        script = os.path.join(tmp, "calls.py")
        with open(script, "w") as f:
            f.write(PROGRAM.format(call=call, n=n))
        # Hash seeds and idle BLAS threads would make the counts differ from run to run.
        env = dict(os.environ, PYTHONHASHSEED="0", OPENBLAS_NUM_THREADS="1")
        if path:
            env["PYTHONPATH"] = path
        out = os.path.join(tmp, "cg.out")
        result = subprocess.run(
            ["valgrind", "--tool=cachegrind", "--cache-sim=no", f"--cachegrind-out-file={out}",
             sys.executable, script],
            env=env, capture_output=True, text=True, check=True,
        )  # fmt: skip
        match = re.search(r"I\s+refs:\s+([\d,]+)", result.stderr)
        if not match:
            raise RuntimeError(result.stderr)
        return int(match.group(1).replace(",", ""))


def per_call(call: str, path: str | None) -> float:
    return (instructions(call, 2 * N, path) - instructions(call, N, path)) / N


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--baseline", help="a directory holding another build's jxframebuf")
    parser.add_argument("calls", nargs="*", help="the calls to count (all by default)")
    args = parser.parse_args()
    print(f"Instructions per call (cachegrind, {N} and {2 * N} calls, loop included)")
    header = f"  {'call':<14}{'this build':>12}"
    if args.baseline:
        header += f"{'baseline':>12}{'change':>9}"
    print(header)
    for name, call in CALLS.items():
        if args.calls and name not in args.calls:
            continue
        ours = per_call(call, None)
        row = f"  {name:<14}{ours:>12.1f}"
        if args.baseline:
            base = per_call(call, args.baseline)
            row += f"{base:>12.1f}{(ours - base) / base:>+9.1%}"
        print(row, flush=True)


if __name__ == "__main__":
    main()
