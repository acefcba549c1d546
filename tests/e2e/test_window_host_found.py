"""A host found on the LAN (simulated with --diagnostic-lan=<host>; nothing is
probed): the recommendation on screen and in the accessibility tree, the
refused server card and the keyboard skip."""
import unittest

from window_common import (assert_colour, data_root, screenshot, skip_without_tools, window_driver, winetest)

ProgramRun = window_driver.ProgramRun
wait_until = window_driver.wait_until

GREYED_SERVER_CARD = 0xF8FAFC
SELECTED_CARD = 0xF1F8FD
FOUND_BOX = 0xF0FBF9
FOUND_BADGE = 0x0FAE9B
SERVER_BADGE = 0xFFF0E9
CLIENT_BADGE = 0xDFF4FF
BLUE_BUTTON = 0x0A7FC3
REFUSAL_TITLE = "主机安装需客服协助"


class HostFound(unittest.TestCase):
    def test_host_found_recommends_the_client_and_refuses_a_second_host(self):
        args = ["--diagnostic-lan=192.168.1.20",
                "--diagnostic-data-root=" + winetest.windows_path(data_root(self))]
        with ProgramRun(args) as run:
            window = run.window()
            shot = window.canvas_capture()
            screenshot(shot, "host-found.png")
            assert_colour(self, shot, (480, 240), FOUND_BOX, what="LAN box")
            assert_colour(self, shot, (101, 237), FOUND_BADGE, what="badge disc")
            assert_colour(self, shot, (530, 460), GREYED_SERVER_CARD, what="greyed server card")
            assert_colour(self, shot, (1050, 460), SELECTED_CARD, what="preselected client card")
            assert_colour(self, shot, (424, 340), SERVER_BADGE, what="需客服协助 badge")
            assert_colour(self, shot, (964, 340), CLIENT_BADGE, what="推荐 badge")
            assert_colour(self, shot, (1040, 625), BLUE_BUTTON, what="main button")
            qr = shot.region(894, 108, 1052, 266)
            dark = sum(1 for y in range(qr.height) for x in range(qr.width)
                       if window_driver.colour_distance(qr.pixel(x, y), 0) < 0x40)
            self.assertGreater(dark / (qr.width * qr.height), 0.25, "support QR image drawn")

            tree = window.tree()
            self.assertEqual(tree[window_driver.CLIENT_CARD]["description"].split("\n")[:1], ["推荐"])
            self.assertIn("已发现门诊主机 192.168.1.20:9009", {item["name"] for item in tree.values()})
            chosen = window_driver.SELECTED | window_driver.CHECKED
            self.assertEqual(tree[window_driver.CLIENT_CARD]["state"] & chosen, chosen)
            self.assertTrue(tree[window_driver.SERVER_CARD]["state"] & window_driver.UNAVAILABLE)
            self.assertEqual(tree[window_driver.MAIN_BUTTON]["action"], "下载并安装")

            window.do("服务端版")  # refused as a click on it is
            run.answer_message_box(REFUSAL_TITLE, "Return")
            window.park_mouse()
            shot = window.canvas_capture()
            assert_colour(self, shot, (530, 460), GREYED_SERVER_CARD, what="server card after the refusal")
            assert_colour(self, shot, (1050, 460), SELECTED_CARD, what="client card after the refusal")

            # Keyboard: the server card cannot be reached, so Enter never selects it. Each Enter is
            # followed by a Tab to the main button, whose ring shows that the Enter before it was handled
            # (a refusal box would have taken the Tab instead).
            window.press("Left", "Return", "Tab")
            wait_until(lambda: window.main_button_focused() or run.display.find_windows(REFUSAL_TITLE), 10,
                       what="the ring after the arrow")
            self.assertFalse(run.display.find_windows(REFUSAL_TITLE), "the arrow skipped the server card")
            window.press("Tab")  # 3 -> 2, the server card skipped
            wait_until(lambda: not window.main_button_focused(), 10, what="the ring to leave with Tab")
            window.press("Return", "Tab")
            wait_until(lambda: window.main_button_focused() or run.display.find_windows(REFUSAL_TITLE), 10,
                       what="the ring back after Enter")
            self.assertFalse(run.display.find_windows(REFUSAL_TITLE), "Tab skipped the server card")
            assert_colour(self, window.canvas_capture(), (1050, 460), SELECTED_CARD, what="client card")

            window.press("Escape")
            self.assertEqual(run.wait_exit(30), 0)


if __name__ == "__main__":
    skip_without_tools()
    unittest.main()
