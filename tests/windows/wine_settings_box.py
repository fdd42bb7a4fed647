# The Windows program under Wine without sonrack.ini: the start-up window shows
# white, the settings message box appears owned by it with the English text,
# and answering the box ends the process with exit code 1.
import sys

from wine_gui import WHITE, check, run_test

TEXT = "Cannot find: SONRACK.INI \\r\\n\\r\\nDouble-click Confmaker to \\r\\n make a SONRACK.INI file."


def body(session):
    # Wine's "msgbox" trace channel prints the text of every message box it
    # sets up; nothing else of the box's text can be read from outside.
    session.start(debug="-all,err+all,trace+msgbox")
    box = session.wait_window("Notalumen")
    keyboard = session.windows("Notalumen: initializing ... ")
    check(len(keyboard) == 1, "no start-up window beside the message box")
    keyboard = keyboard[0]

    # No window manager runs, so Wine leaves caption and frame out: the X
    # window is the client area.
    size = session.geometry(keyboard)[2:]
    check(size == (385, 50), "start-up window's client area is %dx%d, not 385x50" % size)
    image = session.screenshot(keyboard)
    colours = image.colours()
    check(colours == {WHITE}, "start-up window is not all white: %s" % sorted(colours))

    owner = session.transient_for(box)
    check(owner == int(keyboard), "message box is owned by %s, not by the keyboard window %s"
          % (owner, hex(int(keyboard))))

    shown = [line for line in session.wine_output().splitlines() if "MSGBOX_OnInit" in line]
    check(len(shown) == 1, "expected one message box, Wine set up %d" % len(shown))
    check(shown[0].endswith('L"%s"' % TEXT), "message box text: %s" % shown[0])

    session.focus(box)
    session.xdotool("key", "Return")
    code = session.wait_exit()
    check(code == 1, "ended with exit code %d after the settings message box, not 1" % code)


if __name__ == "__main__":
    run_test(body, sys.argv[1])
