# Paint: draw with the mouse. Left button paints, right button erases, the wheel sizes the brush,
# keys 1-9 pick a colour, 0 picks the rainbow, C clears the paper, S saves the picture to paint.png
# and L loads it back, F11 toggles fullscreen, Escape quits. The cursor hides while a stroke is
# drawn, so that only the paint shows where it goes.
#
# The picture is kept in an array of its own, drawn on through a Canvas and copied below the
# colour bar every frame with blit(); it is saved and loaded with its palette as an indexed PNG.
# Strokes are joined from one frame's pointer position to the next, so a fast stroke stays
# unbroken, and drawn as thick as the brush with circle(). The rainbow is a palette trick: it
# paints indices 32 to 95 in turn along the stroke, and every frame rotates those 64 palette
# entries, so everything painted with it keeps flowing without a single pixel being redrawn.
import numpy as np
import numpy.typing as npt

from jxframebuf import Canvas, Framebuffer, load_image, save_image, text_size

WIDTH, HEIGHT = 320, 200
BAR = 12  # the colour bar along the top
BRUSHES = range(0, 6)  # brush radii in pixels: the wheel picks one
PAPER, INK = 0, 15
RAINBOW = range(32, 96)
PICTURE = "paint.png"  # in the current folder
HELP = "S SAVE L LOAD"
# Keys 1-9: nine colours of the palette's first entries.
COLOURS = [0xFFFFFFFF, 0xFFE83B3B, 0xFFF59E2A, 0xFFF5E13B, 0xFF45C94A,
           0xFF3BB8E8, 0xFF3B5BE8, 0xFFA93BE8, 0xFF8A5A3B]  # fmt: skip


def rainbow(n: int) -> npt.NDArray[np.uint32]:
    """n opaque colours around the colour wheel, ending where they started."""
    t = np.linspace(0.0, 2.0 * np.pi, n, endpoint=False)
    channels = [
        (127.5 + 127.5 * np.sin(t + k * 2.0 * np.pi / 3.0)).astype(np.uint32) for k in range(3)
    ]
    return (0xFF000000 | channels[0] << 16 | channels[1] << 8 | channels[2]).astype(np.uint32)


def draw_bar(fb: Framebuffer, current: int, brush: int) -> None:
    fb.rect(0, 0, WIDTH, BAR, 14)
    for i in range(10):
        index = i + 1 if i < 9 else RAINBOW[0]
        x = 4 + i * 16
        fb.rect(x, 2, 12, 8, index)
        if (current in RAINBOW) if i == 9 else (index == current):
            fb.rect(x - 2, 0, 16, 12, INK, fill=False)
        fb.text(x + 3, 2, str((i + 1) % 10), PAPER if i < 9 else INK)
    fb.text(WIDTH - 18 - text_size(HELP)[0], 2, HELP, INK)
    fb.circle(WIDTH - 8, BAR // 2, brush, INK)  # the brush, as big as it paints


def save(paper: Canvas, palette: npt.NDArray[np.uint32]) -> str:
    """Saves the paper with its palette to PICTURE; says what happened."""
    try:
        save_image(PICTURE, paper.array, palette)
    except (ImportError, OSError) as error:  # no Pillow, or no room
        return f"cannot save {PICTURE}: {error}"
    return f"saved {PICTURE}"


def load(paper: Canvas, palette: npt.NDArray[np.uint32]) -> str:
    """Loads PICTURE onto the paper, with its palette; says what happened."""
    try:
        pixels, colours = load_image(PICTURE)
    except (ImportError, OSError, ValueError) as error:
        return f"cannot load {PICTURE}: {error}"
    if pixels.shape != paper.array.shape:
        return f"{PICTURE} is {pixels.shape[1]} x {pixels.shape[0]}, not {WIDTH} x {HEIGHT - BAR}"
    paper.array[:] = pixels
    palette[:] = colours
    return f"loaded {PICTURE}"


def main() -> None:
    fb = Framebuffer(WIDTH, HEIGHT, scale=3, fps=60)
    fb.title = "Paint"
    palette = fb.palette()
    palette[1:10] = COLOURS
    palette[14] = 0xFF2A2A35  # the bar
    palette[INK] = 0xFFE0E0E0
    colours = rainbow(len(RAINBOW))
    paper = Canvas(np.full((HEIGHT - BAR, WIDTH), PAPER, np.uint8))
    colour, stripe, shift = 1, 0, 0
    brush, turned = 2, 0.0  # the wheel's notches add up, fractions of a smooth wheel too
    last: tuple[int, int] | None = None
    while fb.running() and not fb.pressed("Escape"):
        for digit in range(10):
            if fb.pressed(str(digit)):
                colour = digit if digit else RAINBOW[0]
        if fb.pressed("C"):
            paper.clear(PAPER)
        if fb.pressed("S"):
            fb.title = f"Paint: {save(paper, palette)}"
        if fb.pressed("L"):
            fb.title = f"Paint: {load(paper, palette)}"
        if fb.pressed("F11"):
            fb.fullscreen = not fb.fullscreen  # mouse() keeps mapping to the picture's pixels

        turned += fb.wheel()[1]
        while abs(turned) >= 1:
            step = 1 if turned > 0 else -1
            brush = min(max(brush + step, BRUSHES.start), BRUSHES.stop - 1)
            turned -= step

        x, y = fb.mouse()
        painting, erasing = fb.key("mouse left"), fb.key("mouse right")
        fb.cursor = not (painting or erasing)
        if fb.pressed("mouse left") or fb.pressed("mouse right"):
            last = None  # a new stroke, even if the last one ended within this frame
        if (painting or erasing) and y >= BAR:
            start = last if last is not None else (x, y)
            steps = max(abs(x - start[0]), abs(y - start[1]), 1)
            for i in range(steps + 1):
                px = start[0] + (x - start[0]) * i // steps
                py = start[1] + (y - start[1]) * i // steps
                if erasing:
                    c = PAPER
                elif colour in RAINBOW:
                    c = RAINBOW[stripe // 2 % len(RAINBOW)]
                    stripe += 1
                else:
                    c = colour
                paper.circle(px, py - BAR, brush, c)
            last = (x, y)
        else:
            last = None

        palette[RAINBOW.start : RAINBOW.stop] = np.roll(colours, shift)
        shift += 1
        fb.blit(0, BAR, paper.array)
        draw_bar(fb, colour, brush)
        fb.flip()
    fb.quit()


if __name__ == "__main__":
    main()
