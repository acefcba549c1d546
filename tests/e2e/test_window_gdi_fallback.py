"""Without Direct3D (an X server without GLX) the window is painted by the GDI
renderer, and clicks are mapped onto the GDI layout that is on the screen."""
import time
import unittest

from window_common import assert_colour, data_root, screenshot, skip_without_tools, window_driver, winetest

GDI_WIDTH = 820
GDI_HEIGHT = 640
GDI_BACKGROUND = 0xF6F8FB
GDI_BUTTON_IDLE = 0xABBBCC
GDI_BUTTON_READY = 0x0A7FC3


def canvas(gx, gy):
    """A point of the GDI layout's 820 x 640 canvas in the window's 1120 x 710 canvas units."""
    return gx * window_driver.CANVAS_WIDTH / GDI_WIDTH, gy * window_driver.CANVAS_HEIGHT / GDI_HEIGHT


class GdiFallback(unittest.TestCase):
    def test_clicks_follow_the_gdi_layout(self):
        args = ["--diagnostic-lan=none", "--diagnostic-data-root=" + winetest.windows_path(data_root(self))]
        with window_driver.ProgramRun(args, glx=False) as run:
            window = run.window(point=canvas(10, 400), background=GDI_BACKGROUND)
            shot = window.canvas_capture()
            screenshot(shot, "gdi-fallback.png")
            assert_colour(self, shot, canvas(740, 450), GDI_BUTTON_IDLE, what="GDI button without edition")
            assert_colour(self, shot, canvas(760, 230), 0xFFFFFF, what="GDI client card")

            # GDI (740, 225) is canvas (1011, 250): above the cards of the Direct2D layout (y 310 and more).
            window.click(*canvas(740, 225))
            time.sleep(1)
            window.park_mouse()
            window_driver.wait_until(
                lambda: window_driver.colour_distance(window.canvas_capture().pixel(*canvas(740, 450)),
                                                      GDI_BUTTON_READY) <= 6, 15, what="the GDI button to turn blue")

            window.focus()
            run.display.key("Escape")
            self.assertEqual(run.wait_exit(30), 0)


if __name__ == "__main__":
    skip_without_tools()
    unittest.main()
