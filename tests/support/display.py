"""An X display for tests that show real windows under Wine: a private Xvfb,
screenshots, pixel colours and window lookup with xdotool.

    with VirtualDisplay(glx=False) as display:
        program = winetest.start_program(exe, args, env_extra=display.env())
        window = display.find_window(name="欧瑞凡达安装助手")
        display.screenshot("shot.png", window)

Without GLX, Wine's Direct3D has no OpenGL to run on, so Direct2D cannot create
a window render target and a program falls back to GDI drawing.
Everything started here is detached from the caller's pipes and stopped by stop().

Keys go to the window Wine holds in the foreground, not to the X window with the
X focus, and with no window manager on the display nothing X does changes Wine's
foreground: a window is brought to the front through Wine (bring_to_front)
before anything is typed into it.
"""
import os
import re
import select
import shutil
import subprocess
import tempfile
import time

import winetest

_CONVERT = "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else "convert"


def available():
    """True when Xvfb, xdotool, xwd and ImageMagick are installed."""
    return all(shutil.which(tool) for tool in ("Xvfb", "xdotool", "xwd", _CONVERT))


def start_xvfb(width, height, glx=True, fbdir=None, timeout=20):
    """Starts Xvfb, detached, on the first free display number (Xvfb picks it and
    reports it); returns the process and the number. With fbdir the screen is also
    kept there as an XWD file."""
    read_end, write_end = os.pipe()
    command = ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % (width, height), "-nolisten",
               "tcp", "-noreset"]
    if not glx:
        command += ["-extension", "GLX"]
    if fbdir is not None:
        command += ["-fbdir", fbdir]
    try:
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, pass_fds=(write_end,), start_new_session=True)
    finally:
        os.close(write_end)
    try:
        text = b""
        deadline = time.monotonic() + timeout
        while not text.endswith(b"\n"):
            remaining = deadline - time.monotonic()
            if remaining <= 0 or not select.select([read_end], [], [], remaining)[0]:
                raise RuntimeError("Xvfb did not report its display")
            chunk = os.read(read_end, 32)
            if not chunk:
                raise RuntimeError("Xvfb ended before it was ready")
            text += chunk
        return process, int(text.strip())
    except Exception:
        stop_process(process)
        raise
    finally:
        os.close(read_end)


def _foreground_tool(display_name, *args):
    """Runs the test driver that reports (and with a title, changes) Wine's
    foreground window; returns its exit code and the title it reports. Its output
    goes through a file: a pipe could be held open by a Wine process it starts."""
    tool = os.path.join(winetest.BUILD_DIR, "tests", "foreground_window.exe")
    with tempfile.TemporaryFile() as output:
        result = subprocess.run(winetest.wine_command(tool, *args), env=winetest.wine_env({"DISPLAY": display_name}),
                                stdin=subprocess.DEVNULL, stdout=output, stderr=subprocess.DEVNULL, timeout=60,
                                check=False)
        output.seek(0)
        answer = output.read().decode("utf-8", errors="replace").strip()
    return result.returncode, answer.partition("foreground=")[2]


def bring_to_front(display_name, window, title, timeout=30):
    """Makes the window titled `title` Wine's foreground window and its X window
    (`window`) the X focus, so that typed keys reach it; raises TimeoutError when
    it does not come to the front."""
    deadline = time.monotonic() + timeout
    while _foreground_tool(display_name, title) != (0, title):
        if time.monotonic() > deadline:
            raise TimeoutError("%s did not come to the front within %d s; the foreground window is %r"
                               % (title, timeout, foreground_title(display_name)))
        time.sleep(0.2)
    subprocess.run(["xdotool", "windowfocus", "--sync", str(window)], env=dict(os.environ, DISPLAY=display_name),
                   stdin=subprocess.DEVNULL, capture_output=True, timeout=30, check=True)


def foreground_title(display_name):
    """The title of Wine's foreground window ("" when there is none)."""
    return _foreground_tool(display_name)[1]


def send_dpi_changed(display_name, title, dpi, rectangle):
    """Sends the window titled `title` a WM_DPICHANGED to `dpi` suggesting `rectangle` (left, top, right, bottom)."""
    code, _ = _foreground_tool(display_name, "--dpi=%d" % dpi, title, *(str(value) for value in rectangle))
    if code != 0:
        raise RuntimeError("no window titled %s to send WM_DPICHANGED to" % title)


def type_keys(display_name, window, title, *keys):
    """Brings the window to the front, then types the keys (xdotool key names) into it."""
    bring_to_front(display_name, window, title)
    subprocess.run(["xdotool", "key", *keys], env=dict(os.environ, DISPLAY=display_name), stdin=subprocess.DEVNULL,
                   capture_output=True, timeout=30, check=True)


def stop_process(process):
    """Terminates a process started here, killing it if it does not end."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(timeout=10)


class VirtualDisplay:
    def __init__(self, glx=True, width=1600, height=1000):
        self.glx = glx
        self.size = (width, height)
        self.number = None
        self._process = None

    def start(self, timeout=20):
        self._process, self.number = start_xvfb(*self.size, glx=self.glx, timeout=timeout)
        return self

    def stop(self):
        if self._process is not None:
            stop_process(self._process)
            self._process = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    @property
    def name(self):
        return ":%d" % self.number

    def env(self):
        return {"DISPLAY": self.name}

    def _run(self, command, timeout=30, check=True):
        environment = dict(os.environ, DISPLAY=self.name)
        return subprocess.run(command, env=environment, stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=timeout, check=check)

    def find_windows(self, name=None, class_name=None, only_visible=True):
        """X window ids whose title (a regular expression) or WM_CLASS matches."""
        command = ["xdotool", "search"]
        if only_visible:
            command.append("--onlyvisible")
        if name is not None:
            command += ["--name", name]
        if class_name is not None:
            command += ["--class", class_name]
        result = self._run(command, check=False)
        return [int(line) for line in result.stdout.decode().split()]

    def find_window(self, name=None, class_name=None, timeout=60, only_visible=True):
        """The first matching window, waiting for it to appear; raises on timeout."""
        deadline = time.monotonic() + timeout
        while True:
            windows = self.find_windows(name, class_name, only_visible)
            if windows:
                return windows[0]
            if time.monotonic() > deadline:
                raise TimeoutError("no window matching name=%r class=%r" % (name, class_name))
            time.sleep(0.25)

    def geometry(self, window):
        """(x, y, width, height) of a window on the screen."""
        output = self._run(["xdotool", "getwindowgeometry", "--shell", str(window)]).stdout.decode()
        values = dict(re.findall(r"^(\w+)=(\d+)$", output, re.MULTILINE))
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def click(self, window, x, y):
        """A left click at (x, y) of the window's client pixels."""
        self._run(["xdotool", "mousemove", "--window", str(window), str(x), str(y), "click", "1"])

    def key(self, window, title, *keys):
        """Types into the window titled `title` (X window `window`), brought to the front first."""
        type_keys(self.name, window, title, *keys)

    def screenshot(self, path, window=None):
        """Saves the root window, or one window, as PNG."""
        with tempfile.TemporaryDirectory(prefix="orivanta-shot-") as work:
            dump = os.path.join(work, "screen.xwd")
            target = ["-root"] if window is None else ["-id", str(window)]
            self._run(["xwd", "-silent", *target, "-out", dump])
            os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
            subprocess.run([_CONVERT, "xwd:" + dump, "png:" + path], stdin=subprocess.DEVNULL,
                           capture_output=True, timeout=60, check=True)
        return path


def pixel(png_path, x, y):
    """(red, green, blue) of one pixel of a saved screenshot."""
    channels = " ".join("%%[fx:round(255*p{%d,%d}.%s)]" % (x, y, channel) for channel in "rgb")
    result = subprocess.run([_CONVERT, png_path, "-format", channels, "info:"], stdin=subprocess.DEVNULL,
                            capture_output=True, timeout=60, check=True)
    red, green, blue = (int(value) for value in result.stdout.decode().split())
    return red, green, blue
