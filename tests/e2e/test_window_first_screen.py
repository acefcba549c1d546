"""The first screen with no host on the LAN: size, position, colours, hover,
keyboard focus, edition choice and closing while idle."""
import unittest

from window_common import (assert_colour, data_root, logo_ink_columns, screenshot, skip_without_tools, window_driver,
                           winetest)

ProgramRun = window_driver.ProgramRun
wait_until = window_driver.wait_until

BACKGROUND = 0xF8FAFC
WHITE = 0xFFFFFF
SELECTED_CARD = 0xF1F8FD
GREY_BUTTON = 0xA9B7C6
BLUE_BUTTON = 0x0A7FC3
HOVER_BUTTON = window_driver.MAIN_BUTTON_HOVER
LAN_BOX = 0xF1F7FB

MAIN = window_driver.MAIN_BUTTON
CHOSEN = window_driver.SELECTED | window_driver.CHECKED
SERVER_CARD_FILL = (530, 460)
CLIENT_CARD_FILL = (1050, 460)
BUTTON_FILL = window_driver.MAIN_BUTTON_FILL


class FirstScreen(unittest.TestCase):
    def start(self):
        return ProgramRun(["--diagnostic-lan=none", "--diagnostic-data-root=" + winetest.windows_path(data_root(self))])

    def test_first_screen_layout_and_close_while_idle(self):
        with self.start() as run:
            window = run.window()
            x, y, width, height = window.rectangle()
            # 96 DPI on a 1024 x 768 work area: the width fit (1024 - 40) / 1120 scales the canvas, centred.
            self.assertEqual((width, height), (984, 624))
            self.assertEqual((x, y), (20, 72))

            shot = window.canvas_capture()
            screenshot(shot, "first-screen.png")
            assert_colour(self, shot, (30, 400), BACKGROUND, what="background")
            assert_colour(self, shot, (480, 240), LAN_BOX, what="LAN box while checking is off")
            assert_colour(self, shot, SERVER_CARD_FILL, WHITE, what="server card")
            assert_colour(self, shot, CLIENT_CARD_FILL, WHITE, what="client card")
            assert_colour(self, shot, BUTTON_FILL, GREY_BUTTON, what="button without edition")
            assert_colour(self, shot, (870, 590), WHITE, what="bottom panel")
            self.assert_tree_matches_screen(window, {"安装助手", "局域网内暂未发现可连接主机", "服务端版", "仅客户端版",
                                                     "请选择版本", "请先选择安装版本", "联系客服的微信二维码"})
            header = shot.pixel(600, 40)
            self.assertTrue(all(((header >> s) & 0xFF) < 0x50 for s in (16, 8, 0)), "header is dark: #%06X" % header)
            # The logo's top 361 x 64 pixels fill (28, 14)-(235, 51) whatever the window's scale: the drawn ink
            # starts and ends where the image's own does, scaled, and nothing of the image is cut off.
            band = shot.pixel(250, 32)
            drawn = shot.ink_columns(28, 14, 240, 51, background=band)
            image = logo_ink_columns(band)
            self.assertIsNotNone(drawn, "logo drawn")
            self.assertAlmostEqual(drawn[0], 28 + image[0] * 207 / 361, delta=1.5)
            self.assertAlmostEqual(drawn[1], 28 + image[1] * 207 / 361, delta=1.5)

            # Hovering the close button paints its red backdrop.
            window.hover(1104, 50)
            wait_until(lambda: (window.canvas_capture().pixel(1104, 50) >> 16) > 0x90, 10, what="close hover")
            window.park_mouse()
            wait_until(lambda: (window.canvas_capture().pixel(1104, 50) >> 16) < 0x40, 10, what="hover to end")

            window.click(300, 360)  # server card
            wait_until(lambda: window.canvas_capture().pixel(*SERVER_CARD_FILL) == SELECTED_CARD, 10,
                       what="the server card chosen")
            window.park_mouse()
            shot = window.canvas_capture()
            assert_colour(self, shot, SERVER_CARD_FILL, SELECTED_CARD, what="chosen server card")
            assert_colour(self, shot, CLIENT_CARD_FILL, WHITE, what="other card")
            assert_colour(self, shot, BUTTON_FILL, BLUE_BUTTON, what="button with an edition")
            tree = window.tree()
            self.assertEqual(tree[window_driver.SERVER_CARD]["state"] & CHOSEN, CHOSEN)
            self.assertEqual(tree[window_driver.CLIENT_CARD]["state"] & CHOSEN, 0)
            self.assertEqual((tree[MAIN]["name"], tree[MAIN]["state"] & window_driver.UNAVAILABLE), ("下载并安装", 0))

            window.hover(900, 640)
            wait_until(lambda: window_driver.colour_distance(window.canvas_capture().pixel(*BUTTON_FILL),
                                                             HOVER_BUTTON) <= 6, 10, what="button hover")

            window.click(1086, 33)  # close while idle: no question
            self.assertEqual(run.wait_exit(30), 0)
            report = window_driver.report_fields(run.new_report())
            self.assertEqual(report["分类"], "ControlledStop")
            self.assertEqual(report["退出码"], "0")
            self.assertEqual(report["下载类型"], "服务端版")

    def assert_tree_matches_screen(self, window, names):
        """The shown children's names, and the places of the items the screen shows at canvas rectangles."""
        tree = window.tree()
        self.assertLessEqual(names, {item["name"] for item in tree.values()})
        self.assertNotIn(window_driver.PROGRESS, tree)
        self.assertTrue(tree[MAIN]["state"] & window_driver.UNAVAILABLE, "button without an edition")
        for child, rect in ((window_driver.SERVER_CARD, (54, 310, 546, 544)),
                            (window_driver.CLIENT_CARD, (574, 310, 1066, 544)), (MAIN, (884, 598, 1048, 652))):
            left, top = window.to_screen(*rect[:2])
            right, bottom = window.to_screen(*rect[2:])
            for got, expected in zip(tree[child]["location"], (left, top, right - left, bottom - top)):
                self.assertAlmostEqual(got, expected, delta=1.5, msg="child %d at %s" % (child, tree[child]))

    def test_keyboard_focus_and_activation(self):
        with self.start() as run:
            window = run.window()
            # Activation focuses the server card; Tab, Tab reaches the main button, and a screen reader
            # hears the focus move card by card.
            with window.focus_events(MAIN) as focus:
                window.press("Tab", "Tab")
                self.assertEqual(focus.result()[-2:], [window_driver.CLIENT_CARD, MAIN])
            wait_until(lambda: window.main_button_focused(), 10, what="focus ring")
            self.assertTrue(window.tree()[MAIN]["state"] & window_driver.FOCUSED)
            # No edition yet: Enter does nothing. Tab, handled after it, takes the ring away, and
            # Shift+Tab brings it back.
            window.press("Return", "Tab")
            wait_until(lambda: not window.main_button_focused(), 10, what="the ring to leave with Tab")
            assert_colour(self, window.canvas_capture(), BUTTON_FILL, GREY_BUTTON, what="button after Enter")
            window.press("shift+Tab")
            wait_until(lambda: window.main_button_focused(), 10, what="the ring back with Shift+Tab")

            window.press("Right", "space")  # arrow from the button goes to the server card
            wait_until(lambda: window.canvas_capture().pixel(*SERVER_CARD_FILL) == SELECTED_CARD, 10,
                       what="server card chosen by keyboard")
            shot = window.canvas_capture()
            self.assertFalse(window.main_button_focused(shot), "ring left")
            window.press("Right", "Return")
            wait_until(lambda: window.canvas_capture().pixel(*CLIENT_CARD_FILL) == SELECTED_CARD, 10,
                       what="client card chosen by keyboard")
            assert_colour(self, window.canvas_capture(), SERVER_CARD_FILL, WHITE, what="server card released")

            window.press("Escape")
            self.assertEqual(run.wait_exit(30), 0)

    def test_header_band_drags_the_window(self):
        with self.start() as run:
            window = run.window()
            x, y, _, _ = window.rectangle()
            sx, sy = window.to_screen(600, 30)
            display = run.display
            display.move_mouse(sx, sy)
            display.run("xdotool", "mousedown", "1")
            for step in range(1, 6):
                display.move_mouse(sx + 20 * step, sy + 10 * step)
                # The window follows the pointer while the button is held.
                wait_until(lambda: window.rectangle()[:2] == (x + 20 * step, y + 10 * step), 10,
                           what="the window to follow the pointer, step %d" % step)
            display.run("xdotool", "mouseup", "1")
            moved = wait_until(lambda: window.rectangle()[:2] != (x, y) and window.rectangle()[:2], 10,
                               what="the window to move")
            self.assertEqual(moved, (x + 100, y + 50))

            # Moved to a 144 DPI monitor: the window takes the suggested rectangle, its corners the
            # larger rounding, and what is drawn still lies where it is hit.
            window.dpi_changed(144, (10, 60, 1014, 696))
            wait_until(lambda: window.rectangle() == (10, 60, 1004, 636), 10, what="the suggested rectangle")
            window.click(*CLIENT_CARD_FILL)  # near the card's right edge
            window.park_mouse()
            wait_until(lambda: window.canvas_capture().pixel(*CLIENT_CARD_FILL) == SELECTED_CARD, 10,
                       what="the client card chosen where it is drawn")
            shot = window.canvas_capture()
            screenshot(shot, "dpi-144.png")
            corner, inside = shot.screenshot.pixel(13, 63), shot.screenshot.pixel(22, 63)
            self.assertGreater(window_driver.colour_distance(corner, inside), 30,
                               "corner cut at 27 pixels: #%06X beside #%06X" % (corner, inside))
            window.press("Escape")
            self.assertEqual(run.wait_exit(30), 0)


if __name__ == "__main__":
    skip_without_tools()
    unittest.main()
