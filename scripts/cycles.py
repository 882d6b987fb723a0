"""Create, use and tear down framebuffers over and over, and report resident memory.

    python scripts/cycles.py [CYCLES]        (default 1000; scripts/valgrind.sh runs it)

Each cycle builds a framebuffer on SDL's dummy video driver, takes both views, draws, flips,
quits and drops everything, so SDL is started and shut down every time. Resident size is
printed after 100 cycles and at the end: memory the module loses per cycle shows as growth.
"""

import gc
import os
import sys

os.environ["SDL_VIDEO_DRIVER"] = "dummy"

import jxframebuf


def rss_kib() -> int:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS in /proc/self/status")


def cycle(i: int) -> None:
    fb = jxframebuf.Framebuffer(64 + i % 7, 48, scale=2, fps=0)
    pixels, palette = fb.buffer(), fb.palette()
    pixels[::3, ::5] = i % 256
    palette[i % 256] = 0xFF000000 | i
    fb.pset(i % 64, 5, 7)
    fb.flip()
    fb.running()
    fb.quit()
    del fb, pixels, palette


def main() -> None:
    cycles = int(sys.argv[1]) if len(sys.argv) > 1 else 1000
    marks = {}
    for i in range(1, cycles + 1):
        cycle(i)
        if i in (100, cycles):
            gc.collect()
            marks[i] = rss_kib()
    for i, kib in marks.items():
        print(f"cycles: RSS after {i:>5} cycles: {kib} KiB")
    if 100 in marks and cycles > 100:
        print(f"cycles: growth from cycle 100 to {cycles}: {marks[cycles] - marks[100]} KiB")


if __name__ == "__main__":
    main()
