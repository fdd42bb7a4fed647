# The Windows program under Wine with a program on a computer key: progrm01.ini
# assigns program 1 (C0 05 90 40 7F) to the key-down trigger of A
# (512 + 0x41 = 577). Holding A, through X's key repeat and through repeated
# key presses, fires the program once: its bytes reach OUT1 on COM1 (a
# pseudo-terminal of the test) once, and key 64, which it plays, lights.
import sys
import time

from wine_gui import ComPort, WHITE_ON, check, hexbytes, run_test

PROGRAM = b"\xc0\x05\x90\x40\x7f"
E4_X, E4_Y = 5 * 98 - 196 + 35, 40  # lower interior of key 64


def body(session):
    with ComPort(session, 1) as port:
        session.write_file("sonrack.ini", '-OUT1:"COM1"\r\n')
        session.write_file("progrm01.ini", "' program change 5, then note-on 64\r\n"
                                           "/PGM1 192 5 144 64 127\r\n"
                                           "/SETKEY577:1\r\n")
        window = session.start_keyboard(" (COM1 did not open?)")
        check(port.read_more(0.5) == b"", "bytes on the port before any key")

        session.focus(window)
        session.xdotool("keydown", "a")
        data = port.read(len(PROGRAM))
        check(data == PROGRAM, "key A wrote %s, not %s" % (hexbytes(data), hexbytes(PROGRAM)))
        # Held past the X server's repeat delay (660 ms by default in Xvfb),
        # the key sends repeated presses, which Wine passes on as repeated
        # WM_KEYDOWN messages; more presses of the held key come from the test
        # itself in case the server repeats nothing.
        time.sleep(1.5)
        for _ in range(5):
            session.xdotool("keydown", "a")
        time.sleep(0.3)
        session.xdotool("keyup", "a")
        more = port.read_more(1.0)
        check(more == b"", "holding key A fired again: %s" % hexbytes(more))

        image = session.wait_pixel(window, E4_X, E4_Y, WHITE_ON)
        check(image.pixel(E4_X, E4_Y) == WHITE_ON,
              "key 64, played by the program, is %s, not lit" % (image.pixel(E4_X, E4_Y),))

        # A second press fires the program again.
        session.xdotool("key", "a")
        data = port.read(len(PROGRAM))
        check(data == PROGRAM, "a second press of A wrote %s, not %s" % (hexbytes(data), hexbytes(PROGRAM)))
        more = port.read_more(1.0)
        check(more == b"", "a second press of A wrote more: %s" % hexbytes(more))

        session.xdotool("key", "Escape")
        code = session.wait_exit()
        check(code == 0, "Escape ended the program with exit code %d, not 0" % code)


if __name__ == "__main__":
    run_test(body, sys.argv[1])
