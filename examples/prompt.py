# Prompt: a name typed in and answered, drawn with text(). Type a name (Shift, AltGr and the
# keyboard layout all work as in any text box), Backspace deletes, Return answers, Escape quits.
#
# typed(edits=True) gives this frame's text as the keyboard layout made it, with the editing keys
# in their places among it ("\b" for Backspace, "\n" for Return, auto-repeat included), so that a
# held Backspace keeps deleting and a paste or a key macro faster than a frame comes out right.
# The question is drawn twice as large in the small 4x6 font, the help line in it at its own size;
# the name in the 8x8 font. The built-in fonts have ASCII only: any other character shows as a
# box, one per character.
from jxframebuf import FONT_4X6, Framebuffer

WIDTH, HEIGHT = 256, 96
LONGEST = 24  # characters: the line is 8 pixels a character, and the window 256 wide
PAPER, INK, DIM, ACCENT, FIELD = 0, 1, 16, 17, 18


def main() -> None:
    fb = Framebuffer(WIDTH, HEIGHT, scale=3, fps=60)
    fb.title = "What is your name?"
    palette = fb.palette()
    palette[PAPER], palette[DIM], palette[ACCENT] = 0xFF1B1F3A, 0xFF6C7293, 0xFFFFC857
    palette[FIELD] = 0xFF262B4F
    name, answer, frame = "", "", 0
    while fb.running() and not fb.pressed("Escape"):
        for ch in fb.typed(edits=True):
            if ch == "\b":
                name = name[:-1]
            elif ch == "\n":
                answer = f"HELLO, {name.strip() or 'STRANGER'}!"
                name = ""
            elif ch.isprintable() and len(name) < LONGEST:
                name += ch
        fb.clear(PAPER)
        fb.text(8, 6, "WHAT IS YOUR NAME?", DIM, font=FONT_4X6, scale=2)
        fb.rect(6, 22, WIDTH - 12, 14, FIELD)
        fb.rect(6, 22, WIDTH - 12, 14, DIM, fill=False)
        width = fb.text(10, 25, name, INK)
        if frame // 30 % 2 == 0:  # the caret blinks twice a second
            fb.rect(10 + width, 25, 2, 8, ACCENT)
        fb.text(8, 48, answer, ACCENT)
        fb.text(8, HEIGHT - 10, "RETURN: ANSWER   ESC: QUIT", DIM, font=FONT_4X6)
        fb.flip()
        frame += 1
    fb.quit()


if __name__ == "__main__":
    main()
