# The Windows program under Wine with OUT1 on COM1, which Wine maps to a
# pseudo-terminal of the test: a click on key 60 writes the note-on 90 3C 64
# to the port and the release the note-off 80 3C 32, nothing else; fifty
# quick clicks write fifty whole notes; Escape while the mouse holds the key
# writes its note-off on the way out.
import sys

from wine_gui import ComPort, check, hexbytes, run_test

C4_X, C4_Y = 5 * 98 - 196 + 6, 40  # lower interior of key 60


def body(session):
    with ComPort(session, 1) as port:
        session.write_file("sonrack.ini", '-OUT1:"COM1"\r\n')
        window = session.start_keyboard(" (COM1 did not open?)")
        check(port.read_more(0.5) == b"", "bytes on the port before any click")

        session.xdotool("mousemove", "--window", window, str(C4_X), str(C4_Y))
        session.xdotool("mousedown", "1")
        data = port.read(3)
        check(data == b"\x90\x3c\x64", "button down wrote %s, not 90 3C 64" % hexbytes(data))
        session.xdotool("mouseup", "1")
        data = port.read(3)
        check(data == b"\x80\x3c\x32", "button up wrote %s, not 80 3C 32" % hexbytes(data))
        more = port.read_more(1.0)
        check(more == b"", "more bytes after the release: %s" % hexbytes(more))

        # Down and up back to back: often read in one pass of the main loop.
        session.xdotool("click", "--repeat", "50", "--delay", "15", "1")
        data = port.read(300, 20)
        check(data == b"\x90\x3c\x64\x80\x3c\x32" * 50, "fifty clicks wrote %s" % hexbytes(data))

        session.xdotool("mousedown", "1")
        data = port.read(3)
        check(data == b"\x90\x3c\x64", "button down wrote %s, not 90 3C 64" % hexbytes(data))
        session.focus(window)
        session.xdotool("key", "Escape")
        code = session.wait_exit()
        check(code == 0, "Escape ended the program with exit code %d, not 0" % code)
        more = port.read_more(0.5)
        check(more == b"\x80\x3c\x32", "on the way out with the key held: %s, not 80 3C 32" % hexbytes(more))
        session.xdotool("mouseup", "1")


if __name__ == "__main__":
    run_test(body, sys.argv[1])
