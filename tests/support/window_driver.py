"""Drives the program's window under Xvfb with xdotool and reads its pixels.

The window is drawn on a fixed 1120 x 710 canvas; points are given in canvas
units and mapped onto the window's current screen rectangle.
"""
import json
import os
import re
import shutil
import signal
import struct
import subprocess
import tempfile
import time
import zlib

import display

CANVAS_WIDTH = 1120
CANVAS_HEIGHT = 710
WINDOW_TITLE = "欧瑞凡达安装助手"
# Canvas points where hovering changes the colour: the main button's fill turns
# dark blue (with an edition chosen), the close button's backdrop red.
MAIN_BUTTON_FILL = (1040, 625)
MAIN_BUTTON_HOVER = 0x075F9B
CLOSE_BUTTON_FILL = (1104, 50)
# A point of the ring drawn around the main button while it has the keyboard focus.
FOCUS_RING_POINT = (880, 625)
FOCUS_RING = 0x15A9DB
# The size of the screen Wine assumes when its desktop process was started
# without a display, as the test prefix's set-up does; a private display of the
# same size gives every window test the same work area, whoever started Wine's
# desktop.
SCREEN = (1024, 768)


# The accessible children's ids (AccessibleChild) and states (STATE_SYSTEM_*) the tests look at.
STATUS_TEXT, PROGRESS, MAIN_BUTTON = 11, 12, 13
SERVER_CARD, CLIENT_CARD = 6, 7
UNAVAILABLE, SELECTED, FOCUSED, CHECKED, INVISIBLE = 0x1, 0x2, 0x4, 0x10, 0x8000


class DriverError(AssertionError):
    pass


def wait_until(predicate, timeout, interval=0.2, what="condition"):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise DriverError("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(interval)


class VirtualDisplay:
    """A private Xvfb server on a display number it picks itself (-displayfd)."""

    @classmethod
    def attach(cls, name, fbdir):
        """A display someone else started and stops; stop() leaves it running."""
        screen = cls.__new__(cls)
        screen.name, screen.fbdir, screen.process = name, fbdir, None
        return screen

    def __init__(self, width=SCREEN[0], height=SCREEN[1]):
        # The screen is also kept as an XWD file in fbdir, so reading pixels costs no X request.
        self.fbdir = tempfile.mkdtemp(prefix="orivanta-xvfb-")
        try:
            self.process, number = display.start_xvfb(width, height, fbdir=self.fbdir, timeout=30)
        except RuntimeError as error:
            shutil.rmtree(self.fbdir, ignore_errors=True)
            raise DriverError(str(error)) from None
        self.name = ":%d" % number

    def env(self):
        return {"DISPLAY": self.name}

    def run(self, *command, timeout=30, check=True):
        env = dict(os.environ, DISPLAY=self.name)
        result = subprocess.run(list(command), env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, timeout=timeout, check=False)
        if check and result.returncode != 0:
            raise DriverError("%s failed with %d" % (command[0], result.returncode))
        return result.stdout.decode("utf-8", errors="replace")

    def stop(self):
        if self.process is None:
            return
        display.stop_process(self.process)
        shutil.rmtree(self.fbdir, ignore_errors=True)

    # Windows -----------------------------------------------------------------

    def find_windows(self, title):
        """Visible top-level windows whose title is exactly `title`."""
        output = self.run("xdotool", "search", "--onlyvisible", "--name", "^%s$" % re.escape(title), check=False)
        return [int(line) for line in output.split()]

    def window_pids(self):
        """Linux process ids of every process that shows a window on this display."""
        pids = set()
        for window in self.run("xdotool", "search", "--name", ".", check=False).split():
            pid = self.run("xdotool", "getwindowpid", window, check=False).strip()
            if pid.isdigit():
                pids.add(int(pid))
        return pids

    def kill_window_processes(self, keep=()):
        """Ends what the test caused to show up here (Explorer, installers), by process id."""
        for pid in self.window_pids() - set(keep):
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass

    def geometry(self, window):
        values = {}
        for line in self.run("xdotool", "getwindowgeometry", "--shell", str(window)).splitlines():
            key, _, value = line.partition("=")
            values[key] = int(value)
        return values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]

    def move_mouse(self, x, y):
        # --sync waits for the pointer to move, some 15 s when it is already there.
        where = dict(line.partition("=")[::2] for line in self.run("xdotool", "getmouselocation", "--shell").split())
        if (where.get("X"), where.get("Y")) != (str(int(x)), str(int(y))):
            self.run("xdotool", "mousemove", "--sync", str(int(x)), str(int(y)))

    def click(self, x, y):
        """A press and release where the pointer has arrived; Wine takes the position from the events."""
        self.move_mouse(x, y)
        self.run("xdotool", "click", "1")

    def key(self, window, title, *names):
        """Types into the window titled `title` (X window `window`), brought to the front first."""
        try:
            display.type_keys(self.name, window, title, *names)
        except TimeoutError as error:
            raise DriverError(str(error)) from None

    def foreground(self):
        """The title of the window that takes typed keys ("" when none)."""
        return display.foreground_title(self.name)

    # Pixels ------------------------------------------------------------------

    def capture(self):
        with open(os.path.join(self.fbdir, "Xvfb_screen0"), "rb") as stream:
            return Screenshot.from_xwd(stream.read())


class Screenshot:
    def __init__(self, width, height, rgb):
        self.width = width
        self.height = height
        self.rgb = rgb  # bytes, 3 per pixel, rows top to bottom

    @classmethod
    def from_xwd(cls, data):
        fields = struct.unpack(">25I", data[:100])
        header_size, depth = fields[0], fields[3]
        width, height = fields[4], fields[5]
        byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
        ncolors = fields[19]
        if bits_per_pixel not in (24, 32) or depth != 24:
            raise DriverError("unexpected xwd format: %d bits per pixel, depth %d" % (bits_per_pixel, depth))
        step = bits_per_pixel // 8
        offset = header_size + ncolors * 12
        rgb = bytearray(width * height * 3)
        for row in range(height):
            line = data[offset + row * bytes_per_line: offset + row * bytes_per_line + width * step]
            target = row * width * 3
            if byte_order == 0:  # LSBFirst: B G R (X)
                blue, green, red = line[0::step], line[1::step], line[2::step]
            else:  # MSBFirst: (X) R G B
                red, green, blue = line[step - 3::step], line[step - 2::step], line[step - 1::step]
            rgb[target:target + width * 3:3] = red
            rgb[target + 1:target + width * 3:3] = green
            rgb[target + 2:target + width * 3:3] = blue
        return cls(width, height, bytes(rgb))

    def pixel(self, x, y):
        index = (int(y) * self.width + int(x)) * 3
        return (self.rgb[index] << 16) | (self.rgb[index + 1] << 8) | self.rgb[index + 2]

    def crop(self, left, top, right, bottom):
        left, top, right, bottom = int(left), int(top), int(right), int(bottom)
        width = right - left
        rows = [self.rgb[(y * self.width + left) * 3:(y * self.width + right) * 3] for y in range(top, bottom)]
        return Screenshot(width, bottom - top, b"".join(rows))

    def save_png(self, path):
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        stride = self.width * 3
        raw = b"".join(b"\x00" + self.rgb[y * stride:(y + 1) * stride] for y in range(self.height))

        def chunk(kind, body):
            return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

        png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0))
        png += chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b"")
        with open(path, "wb") as stream:
            stream.write(png)


def colour_distance(a, b):
    return max(abs(((a >> s) & 0xFF) - ((b >> s) & 0xFF)) for s in (16, 8, 0))


class ProgramWindow:
    """The main window on a virtual display, addressed in canvas units."""

    def __init__(self, display, window):
        self.display = display
        self.window = window

    @classmethod
    def wait(cls, display, timeout=60, process=None):
        """The main window once it is shown; with a process, gives up as soon as that ends."""
        found = wait_until(lambda: display.find_windows(WINDOW_TITLE) or (process is not None and
                                                                          process.poll() is not None),
                           timeout, what="the main window")
        if found is True:
            raise DriverError("the program ended without a main window")
        return cls(display, found[0])

    def rectangle(self):
        return self.display.geometry(self.window)

    def to_screen(self, cx, cy):
        x, y, width, height = self.rectangle()
        return x + cx * width / CANVAS_WIDTH, y + cy * height / CANVAS_HEIGHT

    def click(self, cx, cy):
        self.display.click(*self.to_screen(cx, cy))

    def hover(self, cx, cy):
        self.display.move_mouse(*self.to_screen(cx, cy))

    def park_mouse(self):
        """Outside the window, and waits until no hover colour is drawn where the tests read colours."""
        self.display.move_mouse(5, SCREEN[1] - 5)
        wait_until(lambda: not self.hover_drawn(), 10, what="the hover colour to go")

    def hover_drawn(self):
        shot = self.canvas_capture()
        return (colour_distance(shot.pixel(*MAIN_BUTTON_FILL), MAIN_BUTTON_HOVER) <= 6
                or (shot.pixel(*CLOSE_BUTTON_FILL) >> 16) > 0x90)

    def main_button_focused(self, shot=None):
        """Whether the focus ring is drawn around the main button (on `shot`, or on the screen now)."""
        shot = shot or self.canvas_capture()
        return colour_distance(shot.pixel(*FOCUS_RING_POINT), FOCUS_RING) < 60

    def press(self, *keys):
        """Keys typed into the main window, brought to the front first."""
        self.display.key(self.window, WINDOW_TITLE, *keys)

    def exists(self):
        return bool(self.display.find_windows(WINDOW_TITLE))

    # The accessibility tree, read from another process as a screen reader does.

    def tree(self):
        """The shown children by id, each a dict of the driver's fields."""
        code, lines = tree_tool(self.display.name, "tree")
        if code != 0:
            raise DriverError("reading the accessibility tree failed with %d" % code)
        return {item["id"]: item for item in map(json.loads, lines) if not item["state"] & INVISIBLE}

    def wait_child(self, child, timeout=30, state=0, **fields):
        """The shown child once it has every state bit of `state` and the given field values (name=...)."""
        def matching():
            item = self.tree().get(child)
            return item if (item and item["state"] & state == state
                            and all(item[key] == value for key, value in fields.items())) else None
        return wait_until(matching, timeout, what="child %d with state %#x and %s" % (child, state, fields))

    def do(self, name):
        """The default action of the child named `name`: what a click on it does."""
        code, _ = tree_tool(self.display.name, "do", name)
        if code != 0:
            raise DriverError("no default action done for %r (%d)" % (name, code))

    def focus_events(self, until_child, seconds=30):
        """A watcher (a context) of the window's focus events; its result() lists the children they named."""
        return FocusWatch(self.display.name, until_child, seconds)

    def dpi_changed(self, dpi, rectangle):
        """What Windows sends when the window reaches a monitor of `dpi`; Wine never does."""
        display.send_dpi_changed(self.display.name, WINDOW_TITLE, dpi, rectangle)

    def canvas_capture(self):
        """The window's area of a root screenshot, with canvas-to-pixel mapping."""
        return CanvasShot(self.display.capture(), self.rectangle())


def tree_tool(display_name, *args, timeout=60):
    """Runs tests/window_tree.exe; returns its exit code and output lines (through a file, as
    a pipe could be held open by a Wine process)."""
    tool = os.path.join(_winetest().BUILD_DIR, "tests", "window_tree.exe")
    with tempfile.TemporaryFile() as output:
        result = subprocess.run(_winetest().wine_command(tool, *args), env=_winetest().wine_env({"DISPLAY": display_name}),
                                stdin=subprocess.DEVNULL, stdout=output, stderr=subprocess.DEVNULL, timeout=timeout,
                                check=False)
        output.seek(0)
        return result.returncode, output.read().decode("utf-8").splitlines()


class FocusWatch:
    """window_tree.exe hooked to the window's focus events until one names `until_child`."""

    def __init__(self, display_name, until_child, seconds):
        self.output = tempfile.TemporaryFile()
        tool = os.path.join(_winetest().BUILD_DIR, "tests", "window_tree.exe")
        self.process = subprocess.Popen(_winetest().wine_command(tool, "focus", str(until_child), str(seconds)),
                                        env=_winetest().wine_env({"DISPLAY": display_name}),
                                        stdin=subprocess.DEVNULL, stdout=self.output, stderr=subprocess.DEVNULL)
        wait_until(lambda: self.lines() or self.process.poll() is not None, 60, what="the focus hook")
        if self.lines()[:1] != [{"ready": True}]:
            raise DriverError("the focus hook did not start (%s)" % self.process.poll())

    def lines(self):
        self.output.seek(0)
        return [json.loads(line) for line in self.output.read().decode("utf-8").splitlines()]

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=30)
        self.output.close()

    def result(self):
        """The focused children's ids in event order, once the awaited one came."""
        code = self.process.wait(timeout=120)
        events = [line["id"] for line in self.lines()[1:]]
        if code != 0:
            raise DriverError("no focus event for the awaited child; events: %s" % events)
        return events


def _winetest():
    import winetest
    return winetest


class CanvasShot:
    def __init__(self, screenshot, rectangle):
        self.screenshot = screenshot
        self.x, self.y, self.width, self.height = rectangle

    def pixel(self, cx, cy):
        return self.screenshot.pixel(self.x + cx * self.width / CANVAS_WIDTH, self.y + cy * self.height / CANVAS_HEIGHT)

    def region(self, left, top, right, bottom):
        sx = self.width / CANVAS_WIDTH
        sy = self.height / CANVAS_HEIGHT
        return self.screenshot.crop(self.x + left * sx, self.y + top * sy, self.x + right * sx, self.y + bottom * sy)

    def save(self, path):
        self.screenshot.crop(self.x, self.y, self.x + self.width, self.y + self.height).save_png(path)

    def ink_columns(self, left, top, right, bottom, background, tolerance=40):
        """Canvas x range covered by anything that differs from the background, or None."""
        area = self.region(left, top, right, bottom)
        inked = [x for x in range(area.width)
                 if any(colour_distance(area.pixel(x, y), background) > tolerance for y in range(area.height))]
        if not inked:
            return None
        scale = CANVAS_WIDTH / self.width
        return left + inked[0] * scale, left + (inked[-1] + 1) * scale


# A whole program run ---------------------------------------------------------

BACKGROUND = 0xF8FAFC


def report_root():
    import winetest
    return os.path.join(winetest.windows_user_folder("AppData/Local"), "Orivanta", "InstallerDownloader",
                        "process-exit")


def exit_reports():
    root = report_root()
    if not os.path.isdir(root):
        return {}
    return {name: os.path.join(root, name) for name in os.listdir(root)
            if name.startswith("exit-") and name.endswith(".txt")}


def report_fields(text):
    """The report's "label: value" lines as a dict (first occurrence wins)."""
    fields = {}
    for line in text.splitlines():
        label, separator, value = line.partition(": ")
        if separator and label not in fields:
            fields[label] = value
    return fields


def desktop_display_file():
    import winetest
    return os.path.join(winetest.prefix(), "desktop-display.json")


def desktop_display():
    """The display of the prefix's Wine desktop, when the test set-up started one.

    Wine moves a window dragged by its caption band only on the display its
    desktop process uses, so window tests show their windows there."""
    try:
        with open(desktop_display_file(), encoding="utf-8") as stream:
            recorded = json.load(stream)
        os.kill(recorded["pid"], 0)
    except (OSError, ValueError):
        return None
    return VirtualDisplay.attach(recorded["name"], recorded["fbdir"])


class ProgramRun:
    """The program on its own virtual display; everything it caused is ended on exit.

    Always give a --diagnostic-lan= or --diagnostic-autostart= option: without
    one the program would probe the machine's real networks.
    """

    def __init__(self, args, exe=None, env=None, launcher=()):
        if not any(a.startswith(("--diagnostic-lan=", "--diagnostic-autostart=")) for a in args):
            raise ValueError("a window run needs --diagnostic-lan= or --diagnostic-autostart=")
        self.args = list(args)
        self.exe = exe
        self.env = dict(env or {})
        self.launcher = tuple(launcher)
        self.display = None
        self.process = None

    def __enter__(self):
        import winetest
        self.display = desktop_display() or VirtualDisplay()
        self.resident_pids = self.display.window_pids()
        # A shared display still has the pointer where the last test left it.
        self.display.move_mouse(5, SCREEN[1] - 5)
        self.reports_before = set(exit_reports())
        self.started = time.monotonic()
        self.process = winetest.start_program(self.exe or winetest.program_path(), self.args,
                                              env_extra=dict(self.env, **self.display.env()), launcher=self.launcher)
        return self

    def __exit__(self, *exc_info):
        try:
            if self.process.poll() is None:
                self.process.kill()
                self.process.wait(timeout=30)
            self.display.kill_window_processes(keep=self.resident_pids)
            # The next run on a shared display must not find this run's window.
            wait_until(lambda: not self.display.find_windows(WINDOW_TITLE), 30, what="the window to go")
        finally:
            self.display.stop()

    def window(self, timeout=90):
        """The main window once its first frame is on the screen."""
        try:
            window = ProgramWindow.wait(self.display, timeout, self.process)
        except DriverError as error:
            raise DriverError("%s; %s" % (error, self.describe_state())) from None
        wait_until(lambda: window.canvas_capture().pixel(30, 400) == BACKGROUND, timeout, what="the first frame")
        window.park_mouse()
        return window

    def describe_state(self):
        """Whether the program still runs, or how it ended and what it reported."""
        code = self.process.poll()
        if code is None:
            return "the program is still running"
        names = sorted(set(exit_reports()) - self.reports_before)
        report = ""
        if names:
            with open(exit_reports()[names[-1]], encoding="utf-8") as stream:
                report = stream.read()
        return "the program ended with exit code %d; its report:\n%s" % (code, report or "(none)")

    def wait_exit(self, timeout=60):
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise DriverError("the program did not end within %d s" % timeout) from None

    def message_box(self, title, timeout=30):
        return wait_until(lambda: self.display.find_windows(title), timeout, what="message box " + title)[0]

    def answer_message_box(self, title, *keys):
        """Types the keys into the box, brought to the front first, and waits for the box to close."""
        box = self.message_box(title)
        self.display.key(box, title, *keys)
        try:
            wait_until(lambda: not self.display.find_windows(title), 20, what="message box %s to close" % title)
        except DriverError as error:
            raise DriverError("%s; Wine's foreground window is now %r" % (error, self.display.foreground()))

    def answer_completion_box(self, folder_title="packages", timeout=90):
        """Answers 下载完成 once Explorer shows the save folder: Explorer takes the
        foreground when its window comes, so a key typed before could go to it."""
        self.message_box("下载完成", timeout=timeout)
        wait_until(lambda: self.display.find_windows(folder_title), 60, what="Explorer on the save folder")
        self.answer_message_box("下载完成", "Return")

    def new_report(self, timeout=20):
        """The one exit report this run wrote, as text."""
        def written():
            names = sorted(set(exit_reports()) - self.reports_before)
            return names or None
        names = wait_until(written, timeout, what="the exit report")
        if len(names) != 1:
            raise DriverError("expected one new exit report, found %s" % names)
        with open(exit_reports()[names[0]], encoding="utf-8") as stream:
            return stream.read()
