# The Windows program under Wine with display settings only: the keyboard
# window gets the title "Notalumen " and a 407 x 50 client area, shows the
# keys of notes 24..72, lights key 60 while the left button holds it, and
# Escape ends the process with exit code 0.
#   wine_keyboard_window.py EXE [--save-screenshot PNG]
# --save-screenshot writes the window with key 60 held (docs/windows-wine.png).
import sys

from wine_gui import BLACK, BLACK_KEY, WHITE, WHITE_ON, check, run_test

# Back-buffer x of a unit u in octave 5 (notes 60..71) with the default range:
# (5 x 98 + u) x MagX - gxleft, gxleft = 196.
OCTAVE5 = 5 * 98 - 196


def expect(image, points, what):
    for (x, y), colour in points.items():
        got = image.pixel(x, y)
        check(got == colour, "%s: pixel (%d, %d) is %s, expected %s" % (what, x, y, got, colour))


def body(session, save_path):
    session.write_file("sonrack.ini", "-nMin=24 -nMax=72\r\n")
    window = session.start_keyboard()

    image = session.wait_pixel(window, OCTAVE5 + 6, 40, WHITE)
    check(image.colours() == {WHITE, BLACK, BLACK_KEY},
          "colours other than the three of released keys: %s" % sorted(image.colours()))
    # 29 white keys (C1..C5) with 20 black keys between them.
    check(image.runs(40, WHITE) == 29, "row 40 shows %d white keys, not 29" % image.runs(40, WHITE))
    check(image.runs(10, BLACK_KEY) == 20, "row 10 shows %d black keys, not 20" % image.runs(10, BLACK_KEY))
    released = {
        (OCTAVE5 + 6, 10): WHITE,       # C4 (60), upper interior
        (OCTAVE5 + 6, 40): WHITE,       # C4, lower interior
        (OCTAVE5 + 13, 40): WHITE,      # C4, lower interior under C#4
        (OCTAVE5 + 12, 10): BLACK_KEY,  # C#4 (61)
        (OCTAVE5, 10): BLACK,           # C4's left outline
        (OCTAVE5 + 6, 0): BLACK,        # top edge
        (OCTAVE5 + 9, 10): BLACK,       # C#4's left outline
        (OCTAVE5 + 12, 30): BLACK,      # C#4's bottom edge
        (OCTAVE5 + 14, 40): BLACK,      # C4 / D4 boundary
        (0, 40): BLACK,                 # C1 (24), the first key's left outline
        (406, 40): BLACK,               # C5 (72), the last key's right outline
        (400, 10): WHITE,               # C5, a plain rectangle
        (400, 49): WHITE,               # the bottom edge lies below the window
    }
    expect(image, released, "released keyboard")

    # Left button down on C4 (60): lit while held, 1 pixel shorter with black
    # below; neighbours untouched.
    session.xdotool("mousemove", "--window", window, str(OCTAVE5 + 6), "40")
    session.xdotool("mousedown", "1")
    image = session.wait_pixel(window, OCTAVE5 + 6, 40, WHITE_ON)
    expect(image, {
        (OCTAVE5 + 6, 10): WHITE_ON,
        (OCTAVE5 + 6, 40): WHITE_ON,
        (OCTAVE5 + 13, 40): WHITE_ON,
        (OCTAVE5 + 6, 48): WHITE_ON,
        (OCTAVE5 + 6, 49): BLACK,
        (OCTAVE5 + 12, 10): BLACK_KEY,
        (OCTAVE5 + 20, 40): WHITE,      # D4
        (OCTAVE5 - 6, 40): WHITE,       # B3
        (OCTAVE5, 40): BLACK,
    }, "key 60 held")
    if save_path:
        image.write_png(save_path)

    session.xdotool("mouseup", "1")
    image = session.wait_pixel(window, OCTAVE5 + 6, 40, WHITE)
    expect(image, {(OCTAVE5 + 6, 10): WHITE, (OCTAVE5 + 6, 40): WHITE, (OCTAVE5 + 6, 49): WHITE},
           "key 60 released")

    session.focus(window)
    session.xdotool("key", "Escape")
    code = session.wait_exit()
    check(code == 0, "Escape ended the program with exit code %d, not 0" % code)


if __name__ == "__main__":
    save = None
    if len(sys.argv) == 4 and sys.argv[2] == "--save-screenshot":
        save = sys.argv[3]
    run_test(lambda session: body(session, save), sys.argv[1])
