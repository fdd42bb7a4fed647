# Shared machinery of the Windows-program tests that drive its window: a
# private X server, the program under Wine in the test prefix, windows found
# and driven with xdotool, screenshots read from xwd, and COM ports that Wine
# maps to a pseudo-terminal of the test. Every wait is bounded.
import os
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import tty
import zlib

# A fresh prefix is created on the first start: wineboot alone takes 10-30 s,
# more on a loaded machine.
FIRST_START_SECONDS = 240
# Everything else (a redraw, a byte on the serial port, the end of the
# process) comes within a few seconds; these are only upper bounds.
REACTION_SECONDS = 30

WHITE = (255, 255, 255)
BLACK = (0, 0, 0)
BLACK_KEY = (80, 80, 80)
WHITE_ON = (255, 120, 120)


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def _raise_on_term(signum, frame):
    # CTest ends a test that runs out of time with SIGTERM: leave through the
    # clean-up path so that no Wine process and no X server is left behind.
    raise SystemExit("terminated")


def run_test(body, exe):
    """Runs body(session) inside a session; prints the verdict and exits."""
    signal.signal(signal.SIGTERM, _raise_on_term)
    try:
        with WineSession(exe) as session:
            try:
                body(session)
            except Failure:
                session.dump_wine_output()
                raise
    except Failure as failure:
        print("FAILED: %s" % failure)
        sys.exit(1)
    print("passed")
    sys.exit(0)


class Image:
    """Pixels of one window, as xwd wrote them (24-bit TrueColor)."""

    def __init__(self, width, height, rows):
        self.width = width
        self.height = height
        self.rows = rows  # list of rows, each a list of (r, g, b)

    def pixel(self, x, y):
        return self.rows[y][x]

    def crop(self, x, y, w, h):
        return Image(w, h, [row[x:x + w] for row in self.rows[y:y + h]])

    def runs(self, y, colour):
        """Number of runs of colour in row y."""
        count = 0
        inside = False
        for p in self.rows[y]:
            if p == colour and not inside:
                count += 1
            inside = p == colour
        return count

    def colours(self):
        return {p for row in self.rows for p in row}

    def write_png(self, path):
        """Writes the image as an indexed PNG (a few KB for a keyboard)."""
        palette = sorted(self.colours())
        check(len(palette) <= 256, "too many colours for an indexed PNG")
        index = {c: i for i, c in enumerate(palette)}
        raw = b"".join(b"\0" + bytes(index[p] for p in row) for row in self.rows)

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        png = b"\x89PNG\r\n\x1a\n"
        png += chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8, 3, 0, 0, 0))
        png += chunk(b"PLTE", b"".join(bytes(c) for c in palette))
        png += chunk(b"IDAT", zlib.compress(raw, 9))
        png += chunk(b"IEND", b"")
        with open(path, "wb") as f:
            f.write(png)


def parse_xwd(data):
    header = struct.unpack(">25I", data[:100])
    header_size, version, pixmap_format, depth, width, height = header[:6]
    byte_order, bits_per_pixel, bytes_per_line = header[7], header[11], header[12]
    red_mask, green_mask, blue_mask, ncolors = header[14], header[15], header[16], header[19]
    check(version == 7 and pixmap_format == 2 and bits_per_pixel == 32,
          "unexpected xwd format (version %d, format %d, %d bpp)" % (version, pixmap_format, bits_per_pixel))
    check((red_mask, green_mask, blue_mask) == (0xFF0000, 0xFF00, 0xFF), "unexpected xwd colour masks")
    pixels = data[header_size + 12 * ncolors:]
    order = "little" if byte_order == 0 else "big"
    rows = []
    for y in range(height):
        line = pixels[y * bytes_per_line:y * bytes_per_line + 4 * width]
        row = []
        for x in range(width):
            v = int.from_bytes(line[4 * x:4 * x + 4], order)
            row.append(((v >> 16) & 255, (v >> 8) & 255, v & 255))
        rows.append(row)
    return Image(width, height, rows)


class WineSession:
    """A private X server and the program's directory; the program runs in the
    Wine prefix that NOTALUMEN_WINEPREFIX names (kept between tests: creating
    one takes long)."""

    def __init__(self, exe):
        self.prefix = os.environ["NOTALUMEN_WINEPREFIX"]
        os.makedirs(self.prefix, exist_ok=True)
        self.dir = tempfile.mkdtemp(prefix="notalumen-wine-")
        self.exe = os.path.join(self.dir, "notalumen.exe")
        shutil.copy(exe, self.exe)
        self.log_path = os.path.join(self.dir, "wine.log")
        self.xvfb = None
        self.proc = None
        self.log = None
        # The program's texts follow the user's language; Wine takes it from
        # the locale variables, so fix them to get the English texts. Wine's
        # own errors stay on: they are shown when a test fails.
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all,err+all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", LANG="C.UTF-8", LC_ALL="C.UTF-8")
        self.env.pop("DISPLAY", None)

    # --- life cycle -----------------------------------------------------

    def __enter__(self):
        try:
            self._start_x()
            # A Wine session left over from an earlier run would keep its
            # own (dead) display: end it first.
            self.kill_wine()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def _start_x(self):
        # -displayfd: the server picks a free display number and writes it to
        # the pipe once it accepts connections, so parallel runs never clash.
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, start_new_session=True)
        os.close(write_end)
        text = b""
        deadline = time.monotonic() + REACTION_SECONDS
        try:
            while not text.endswith(b"\n"):
                left = deadline - time.monotonic()
                check(left > 0 and self.xvfb.poll() is None, "Xvfb did not start")
                if select.select([read_end], [], [], left)[0]:
                    chunk = os.read(read_end, 16)
                    check(chunk, "Xvfb did not start")
                    text += chunk
        finally:
            os.close(read_end)
        self.env["DISPLAY"] = ":" + text.decode().strip()

    def close(self):
        if self.proc is not None and self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.proc.wait(timeout=REACTION_SECONDS)
        self.kill_wine()
        if self.log is not None:
            self.log.close()
            self.log = None
        if self.xvfb is not None:
            try:
                os.killpg(self.xvfb.pid, signal.SIGTERM)
                self.xvfb.wait(timeout=REACTION_SECONDS)
            except (ProcessLookupError, subprocess.TimeoutExpired):
                os.killpg(self.xvfb.pid, signal.SIGKILL)
                self.xvfb.wait(timeout=REACTION_SECONDS)
            self.xvfb = None
        shutil.rmtree(self.dir, ignore_errors=True)

    def kill_wine(self):
        """Ends every process of the prefix and its wineserver."""
        env = dict(self.env, DISPLAY="")
        subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=REACTION_SECONDS)
        subprocess.run(["wineserver", "-w"], env=env, timeout=REACTION_SECONDS)

    def wait_server_gone(self):
        """Waits until the prefix's wineserver has ended by itself, so that the
        next start is a new Wine session (which maps the COM ports afresh)."""
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=FIRST_START_SECONDS)

    # --- the program ----------------------------------------------------

    def write_file(self, name, text):
        with open(os.path.join(self.dir, name), "wb") as f:
            f.write(text.encode("ascii"))

    def wine(self, args, timeout=FIRST_START_SECONDS):
        """Runs a Wine tool (reg, ...) in the prefix and returns its result."""
        return subprocess.run(["wine"] + args, env=self.env, cwd=self.dir, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout)

    def start(self, *args, debug=None):
        """Starts the program from its own directory; debug: Wine debug channels."""
        env = dict(self.env)
        if debug:
            env["WINEDEBUG"] = debug
        self.log = open(self.log_path, "wb")
        self.proc = subprocess.Popen(["wine", self.exe] + list(args), env=env, cwd=self.dir,
                                     stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT,
                                     start_new_session=True)

    def wine_output(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def dump_wine_output(self):
        if self.log is None and not os.path.exists(self.log_path):
            return
        # ALSA's complaints about a machine without sound cards are noise.
        lines = [l for l in self.wine_output().splitlines() if not l.startswith("ALSA lib")]
        if lines:
            print("--- Wine output (last lines) ---")
            print("\n".join(lines[-40:]))

    def wait_exit(self, timeout=REACTION_SECONDS):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure("the program did not end within %d s" % timeout)

    def running(self):
        return self.proc is not None and self.proc.poll() is None

    # --- X ----------------------------------------------------------------

    def x(self, *args, timeout=REACTION_SECONDS):
        result = subprocess.run(list(args), env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, timeout=timeout)
        return result.returncode, result.stdout.decode("utf-8", "replace")

    def windows(self, title):
        """Visible windows whose title is exactly title."""
        # xdotool takes a regular expression; compare the names ourselves.
        rc, out = self.x("xdotool", "search", "--onlyvisible", "--name", re.escape(title.strip()))
        found = []
        for wid in out.split():
            if self.title(wid) == title:
                found.append(wid)
        return found

    def title(self, wid):
        rc, out = self.x("xdotool", "getwindowname", wid)
        return out[:-1] if out.endswith("\n") else out

    def wait_window(self, title, timeout=FIRST_START_SECONDS):
        deadline = time.monotonic() + timeout
        while True:
            found = self.windows(title)
            if found:
                return found[0]
            if not self.running():
                # Without a display the program gets no window and ends on its
                # first main-loop pass: say whether the X server is still there.
                x_state = "running" if self.xvfb.poll() is None else "gone (%s)" % self.xvfb.returncode
                raise Failure("the program ended (exit code %s) before a window %r appeared; Xvfb %s"
                              % (self.proc.returncode, title, x_state))
            check(time.monotonic() < deadline, "no window %r within %d s" % (title, timeout))
            time.sleep(0.2)

    def start_keyboard(self, box_hint=""):
        """Starts the program and waits for its keyboard window with the default
        keyboard's client area, 407x50 (no window manager runs, so Wine leaves
        caption and frame out: the X window is the client area), and no message
        box beside it. Returns the window."""
        self.start()
        window = self.wait_window("Notalumen ")
        check(not self.windows("Notalumen"), "a message box is showing" + box_hint)
        size = self.wait_size(window, 407, 50)
        check(size == (407, 50), "client area is %dx%d, not 407x50" % size)
        return window

    def geometry(self, wid):
        """(x, y, width, height) of the X window."""
        rc, out = self.x("xwininfo", "-id", wid)
        check(rc == 0, "xwininfo failed for window %s" % wid)
        values = {}
        for key in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"):
            m = re.search(r"%s:\s+(-?\d+)" % key, out)
            check(m, "xwininfo gave no %s" % key)
            values[key] = int(m.group(1))
        return (values["Absolute upper-left X"], values["Absolute upper-left Y"], values["Width"], values["Height"])

    def wait_size(self, wid, width, height, timeout=REACTION_SECONDS):
        deadline = time.monotonic() + timeout
        while True:
            size = self.geometry(wid)[2:]
            if size == (width, height) or time.monotonic() >= deadline:
                return size
            time.sleep(0.2)

    def transient_for(self, wid):
        """The window that the X window is transient for (its owner), or None."""
        rc, out = self.x("xprop", "-id", wid, "WM_TRANSIENT_FOR")
        m = re.search(r"window id # (0x[0-9a-fA-F]+)", out)
        return int(m.group(1), 16) if m else None

    def screenshot(self, wid):
        result = subprocess.run(["xwd", "-id", wid, "-silent"], env=self.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=REACTION_SECONDS)
        check(result.returncode == 0, "xwd failed: %s" % result.stderr.decode(errors="replace"))
        return parse_xwd(result.stdout)

    def wait_pixel(self, wid, x, y, colour, timeout=REACTION_SECONDS):
        """Waits until pixel (x, y) of the window has colour; returns the last
        screenshot (drawing happens on the program's next main-loop pass)."""
        deadline = time.monotonic() + timeout
        while True:
            image = self.screenshot(wid)
            if image.pixel(x, y) == colour or time.monotonic() >= deadline:
                return image
            time.sleep(0.1)

    def focus(self, wid):
        # No window manager runs: X input focus is given directly, and Wine
        # activates the window when the focus arrives.
        rc, out = self.x("xdotool", "windowfocus", "--sync", wid)
        check(rc == 0, "could not focus window %s" % wid)

    def xdotool(self, *args):
        rc, out = self.x("xdotool", *args)
        check(rc == 0, "xdotool %s failed" % " ".join(args))


class ComPort:
    """COMn of the prefix mapped to a pseudo-terminal whose master side the
    test reads.

    Wine maps COMn through the link dosdevices/comN, but a link made by hand
    does not last: at the start of every Wine session the mount manager
    numbers the machine's serial devices (/dev/ttyS0 first) from COM1 and
    rewrites those links. Ports named in HKLM\\Software\\Wine\\Ports come first
    and keep their number, so the pseudo-terminal is entered there, and the
    session that wrote the entry is let end before the program starts."""

    KEY = "HKLM\\Software\\Wine\\Ports"

    def __init__(self, session, number):
        self.session = session
        self.name = "COM%d" % number
        self.master, self.slave = os.openpty()
        # The test's end of the line stays open, so reads never see the
        # hang-up of a slave that nobody holds. Raw: bytes pass unchanged.
        tty.setraw(self.slave)
        self.path = os.ttyname(self.slave)
        self.dosdevices = os.path.join(session.prefix, "dosdevices")
        self.links_before = self._com_links()
        try:
            result = session.wine(["reg", "add", self.KEY, "/v", self.name, "/d", self.path, "/f"])
            check(result.returncode == 0, "reg add failed: %s" % result.stdout.decode(errors="replace"))
            session.wait_server_gone()
            # The new session's mount manager makes the same link; making it
            # now as well leaves no moment in which the name points elsewhere.
            link = os.path.join(self.dosdevices, self.name.lower())
            if os.path.lexists(link):
                os.unlink(link)
            os.symlink(self.path, link)
        except BaseException:
            self.close()
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def _com_links(self):
        links = {}
        if os.path.isdir(self.dosdevices):
            for entry in os.listdir(self.dosdevices):
                path = os.path.join(self.dosdevices, entry)
                if re.fullmatch(r"com\d+", entry) and os.path.islink(path):
                    links[entry] = os.readlink(path)
        return links

    def read(self, count, timeout=REACTION_SECONDS):
        """Reads until count bytes have come or the time is up."""
        data = b""
        deadline = time.monotonic() + timeout
        while len(data) < count:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.master], [], [], left)[0]:
                break
            data += os.read(self.master, count - len(data))
        return data

    def read_more(self, quiet):
        """Whatever else arrives until the line has been quiet for quiet seconds."""
        data = b""
        while select.select([self.master], [], [], quiet)[0]:
            data += os.read(self.master, 256)
        return data

    def close(self):
        """Removes the mapping and puts the prefix's COM links back as they were."""
        self.session.kill_wine()
        try:
            self.session.wine(["reg", "delete", self.KEY, "/v", self.name, "/f"])
            self.session.wait_server_gone()
        finally:
            for entry, target in self._com_links().items():
                if self.links_before.get(entry) != target:
                    os.unlink(os.path.join(self.dosdevices, entry))
            for entry, target in self.links_before.items():
                path = os.path.join(self.dosdevices, entry)
                if not os.path.lexists(path):
                    os.symlink(target, path)
            os.close(self.master)
            os.close(self.slave)


def hexbytes(data):
    return " ".join("%02X" % b for b in data) or "(nothing)"
