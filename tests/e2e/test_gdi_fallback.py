"""The GDI layout for real: the program on an X display without GLX, where
Direct2D cannot create its window render target, paints its plain-GDI screen
over the whole window and maps clicks onto what that screen shows.

The screenshot is kept as build/screenshots/gdi-fallback.png."""
import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import display  # noqa: E402
import winetest  # noqa: E402
from window_driver import wait_until  # noqa: E402

TITLE = "欧瑞凡达安装助手"
REFUSAL_TITLE = "主机安装需客服协助"
GDI_BACKGROUND = (0xF6, 0xF8, 0xFB)
# A simulated LAN result: no discovery runs, nothing is sent to this address.
SIMULATED_HOST = "127.0.0.9"
SCREENSHOT = os.path.join(winetest.BUILD_DIR, "screenshots", "gdi-fallback.png")


def program_has_window():
    with open(winetest.program_path(), "rb") as stream:
        return "OrivantaInstallerWindow".encode("utf-16-le") in stream.read()


def near(color, expected, tolerance=8):
    return all(abs(a - b) <= tolerance for a, b in zip(color, expected))


class GdiFallback(unittest.TestCase):
    def setUp(self):
        self.data_root = winetest.temp_dir("gdi")
        self.display = display.VirtualDisplay(glx=False).start()
        self.program = None

    def tearDown(self):
        if self.program is not None and self.program.poll() is None:
            self.program.kill()
            self.program.wait(timeout=30)
        self.display.stop()
        shutil.rmtree(self.data_root, ignore_errors=True)

    def canvas_pixel(self, shot, width, height, x, y):
        """The screenshot pixel under a point of the 820 x 640 GDI canvas."""
        return display.pixel(shot, x * width // 820, y * height // 640)

    def test_gdi_layout_fills_the_window_and_takes_the_clicks(self):
        self.program = winetest.start_program(winetest.program_path(), [
            "--diagnostic-lan=" + SIMULATED_HOST,
            "--diagnostic-data-root=" + winetest.windows_path(self.data_root),
            "--server-url=http://127.0.0.1:9",
        ], env_extra=self.display.env())
        window = self.display.find_window(name=TITLE)
        _, _, width, height = self.display.geometry(window)

        # The light GDI background reaches the bottom-right corner (the frame is drawn off screen
        # and copied at once) and the white header spans the width (the Direct2D header is a dark band).
        def gdi_frame_shown():
            self.display.screenshot(SCREENSHOT, window)
            return near(display.pixel(SCREENSHOT, width - 12, height - 12), GDI_BACKGROUND)
        wait_until(gdi_frame_shown, 60, what="the GDI frame")
        self.assertTrue(near(display.pixel(SCREENSHOT, width - 12, height - 12), GDI_BACKGROUND))
        self.assertTrue(near(display.pixel(SCREENSHOT, width - 12, 6), (0xFF, 0xFF, 0xFF)))
        self.assertTrue(near(self.canvas_pixel(SCREENSHOT, width, height, 5, 70), (0xFF, 0xFF, 0xFF)))
        # The simulated host preselects the client edition: blue button, blue client outline.
        self.assertTrue(near(self.canvas_pixel(SCREENSHOT, width, height, 580, 450), (0x0A, 0x7F, 0xC3)))
        outline = [self.canvas_pixel(SCREENSHOT, width, height, 600, y) for y in (188, 189)]
        self.assertTrue(any(near(color, (0x0A, 0x7F, 0xC3), 24) for color in outline), outline)
        # The support QR image sits in the help corner.
        dark = [self.canvas_pixel(SCREENSHOT, width, height, x, y) for x in range(650, 710, 6) for y in range(560, 625, 6)]
        self.assertTrue(any(near(color, (0, 0, 0), 30) for color in dark))

        # The server card, where this layout draws it, is refused with the host-found box.
        self.display.click(window, 200 * width // 820, 250 * height // 640)
        box = self.display.find_window(name=REFUSAL_TITLE, timeout=30)
        self.display.key(box, REFUSAL_TITLE, "Return")
        wait_until(lambda: not self.display.find_windows(name=REFUSAL_TITLE), 30, what="the refusal box to close")

        # Idle: Escape closes at once and the run ends normally.
        self.display.key(window, TITLE, "Escape")
        self.assertEqual(self.program.wait(timeout=60), 0)


if __name__ == "__main__":
    if not display.available():
        print("skipped: Xvfb, xdotool, xwd or ImageMagick missing")
        sys.exit(77)
    if not program_has_window():
        print("skipped: the program has no window yet")
        sys.exit(77)
    result = unittest.main(exit=False, verbosity=2).result
    sys.exit(0 if result.wasSuccessful() else 1)
