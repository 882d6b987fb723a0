"""Create, use and tear down framebuffers over and over, and report resident memory.

    python scripts/cycles.py [CYCLES] [--check-rss]    (default 1000; scripts/valgrind.sh runs it)

Each cycle builds a framebuffer on SDL's dummy video driver, takes both views, draws (pixels and
the drawing kit), flips, quits and drops everything, so SDL is started and shut down every time.
Resident size is printed after 100 cycles and at the end: memory the module loses per cycle
shows as growth.
With --check-rss, growth of more than 1 MiB fails (one lost picture per cycle would be 15 MiB).
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
    # The drawing kit, clipped at the edges; one blit reads the picture itself (a snapshot).
    fb.line(-5, i % 60, 90, 47 - i % 40, 2)
    fb.rect(i % 70 - 5, 40, 20, 9, 3, fill=i % 2 == 0)
    fb.circle(30, 20, i % 40, 4, fill=i % 3 == 0)
    fb.blit(i % 80 - 8, -3, pixels[::2, :16], key=0)
    fb.text(i % 50 - 10, 30, f"cycle {i}\n\xe9\u4e2d", 5)
    fb.flip()
    fb.running()
    fb.quit()
    del fb, pixels, palette


def main() -> None:
    args = [a for a in sys.argv[1:] if a != "--check-rss"]
    cycles = int(args[0]) if args else 1000
    marks = {}
    for i in range(1, cycles + 1):
        cycle(i)
        if i in (100, cycles):
            gc.collect()
            marks[i] = rss_kib()
    for i, kib in marks.items():
        print(f"cycles: RSS after {i:>5} cycles: {kib} KiB")
    if 100 in marks and cycles > 100:
        growth = marks[cycles] - marks[100]
        print(f"cycles: growth from cycle 100 to {cycles}: {growth} KiB")
        if "--check-rss" in sys.argv and growth > 1024:
            sys.exit("cycles: resident memory grows with the cycles: something is lost each time")


if __name__ == "__main__":
    main()
