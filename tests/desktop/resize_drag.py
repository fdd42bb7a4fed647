# The Linux program's window under a real window manager (openbox in a private
# Xvfb), resized the way a user does it: the frame's bottom-right corner
# dragged with the mouse, held still for a moment, then let go. Each end of
# such a drag fits the window: the keyboard's height plus the horizontal
# scroll bar while the window is narrower than the keyboard, the keyboard's
# size once it is wider again. Also checks the window's class against the
# .desktop file and that the window carries the program's icon.
#   resize_drag.py PROGRAM DESKTOP_FILE
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

BAR = 17              # scroll-bar thickness
HOLD_SECONDS = 0.8    # the hand rests on the frame longer than the program's quiet period
PATIENCE = 15         # upper bound of every wait


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(what, probe):
    end = time.monotonic() + PATIENCE
    while time.monotonic() < end:
        value = probe()
        if value:
            return value
        time.sleep(0.05)
    raise Failure("timed out waiting for " + what)


class Session:
    def __init__(self, program):
        self.dir = tempfile.mkdtemp(prefix="nltest-resize-")
        self.children = []
        self.program = None
        self.copy = os.path.join(self.dir, "notalumen")
        shutil.copy(program, self.copy)
        read, write = os.pipe()
        self.children.append(subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        os.close(write)
        number = b""
        with os.fdopen(read, "rb") as pipe:
            while not number.endswith(b"\n"):
                byte = pipe.read(1)
                if not byte:
                    raise Failure("Xvfb did not report its display")
                number += byte
        self.env = dict(os.environ, DISPLAY=":" + number.decode().strip(), XDG_CONFIG_HOME=self.dir,
                        XDG_RUNTIME_DIR=self.dir, NOTALUMEN_MIDI="alsa")
        self.env.pop("WAYLAND_DISPLAY", None)
        self.children.append(subprocess.Popen(["openbox", "--sm-disable"], env=self.env,
                                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        wait_for("the window manager", lambda: "window id" in self.x("xprop", "-root", "_NET_SUPPORTING_WM_CHECK"))

    def x(self, *args):
        done = subprocess.run(args, env=self.env, capture_output=True, text=True, timeout=PATIENCE)
        return done.stdout

    def start(self, settings):
        with open(os.path.join(self.dir, "sonrack.ini"), "w") as f:
            f.write(settings)
        self.log = open(os.path.join(self.dir, "output.log"), "w")
        self.program = subprocess.Popen([self.copy], cwd=self.dir, env=self.env, stdout=self.log,
                                        stderr=subprocess.STDOUT)
        self.window = wait_for("the keyboard window", lambda: self.x(
            "xdotool", "search", "--name", "^Notalumen $").split()[:1])[0]

    def stop(self):
        if self.program is None:
            return
        self.x("xdotool", "windowclose", self.window)
        try:
            self.program.wait(timeout=PATIENCE)
        except subprocess.TimeoutExpired:
            self.program.kill()
            self.program.wait()
        self.program = None

    def geometry(self):
        """Client area: left, top, width, height on the screen."""
        info = self.x("xwininfo", "-id", self.window)
        field = lambda name: int(re.search(name + r":\s+(-?\d+)", info).group(1))
        return (field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"), field("Height"))

    def settled_size(self, expected):
        """Waits until the window has the expected size; returns the last size seen."""
        seen = []
        def probe():
            seen[:] = self.geometry()[2:]
            return tuple(seen) == expected
        try:
            wait_for("size %dx%d" % expected, probe)
        except Failure:
            pass
        return tuple(seen)

    def drag_corner(self, dx):
        """Drags the frame's bottom-right corner by dx, rests, lets go."""
        left, top, width, height = self.geometry()
        extents = re.findall(r"\d+", self.x("xprop", "-id", self.window, "_NET_FRAME_EXTENTS").split("=")[-1])
        check(len(extents) == 4, "no frame extents from the window manager")
        right, bottom = int(extents[1]), int(extents[3])
        x, y = left + width + right - 1, top + height + max(bottom // 2, 0)
        self.x("xdotool", "mousemove", str(x), str(y))
        time.sleep(0.2)
        self.x("xdotool", "mousedown", "1")
        steps = 8
        for i in range(1, steps + 1):
            self.x("xdotool", "mousemove", str(x + dx * i // steps), str(y))
            time.sleep(0.05)
        time.sleep(HOLD_SECONDS)
        self.x("xdotool", "mouseup", "1")
        # Away from the frame, as a hand moves on.
        self.x("xdotool", "mousemove", "5", "5")

    def close(self):
        self.stop()
        for child in reversed(self.children):
            child.terminate()
            try:
                child.wait(timeout=5)
            except subprocess.TimeoutExpired:
                child.kill()
                child.wait()
        shutil.rmtree(self.dir, ignore_errors=True)

    def output(self):
        with open(os.path.join(self.dir, "output.log")) as f:
            return f.read()


def drags(session, settings, keyboard):
    session.start(settings)
    width, height = keyboard
    check(session.settled_size(keyboard) == keyboard, "the window does not start at the keyboard's size")
    session.drag_corner(-80)
    got = session.settled_size((width - 80, height + BAR))
    check(got == (width - 80, height + BAR),
          "narrower than the keyboard (%s): %dx%d, expected %dx%d" % (settings.strip(), got[0], got[1],
                                                                       width - 80, height + BAR))
    session.drag_corner(150)
    got = session.settled_size(keyboard)
    check(got == keyboard, "wider than the keyboard again (%s): %dx%d, expected %dx%d" % (
        settings.strip(), got[0], got[1], width, height))
    session.stop()


def body(session, desktop_file):
    drags(session, "-mX=1\r\n", (407, 50))
    drags(session, "-mX=2 -mY=2\r\n", (813, 100))

    session.start("-mX=1\r\n")
    wm_class = session.x("xprop", "-id", session.window, "WM_CLASS")
    with open(desktop_file) as f:
        startup = re.search(r"^StartupWMClass=(.*)$", f.read(), re.M).group(1)
    check('"%s"' % startup in wm_class, "window class %s, the .desktop file says %s" % (wm_class.strip(), startup))
    icon = session.x("xprop", "-id", session.window, "-notype", "32c", "_NET_WM_ICON")
    check(re.search(r"_NET_WM_ICON = 64, 64,", icon) is not None, "the window carries no 64-pixel icon")
    session.stop()


def main():
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("terminated"))
    missing = [tool for tool in ("Xvfb", "openbox", "xdotool", "xprop", "xwininfo") if shutil.which(tool) is None]
    if missing:
        print("not installed: " + " ".join(missing))
        sys.exit(1 if os.environ.get("CI") else 77)
    session = None
    try:
        session = Session(sys.argv[1])
        body(session, sys.argv[2])
    except Failure as failure:
        print("FAILED: %s" % failure)
        if session is not None and session.program is not None:
            print(session.output())
        sys.exit(1)
    finally:
        if session is not None:
            session.close()
    print("passed")


if __name__ == "__main__":
    main()
