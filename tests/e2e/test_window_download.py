"""A download driven through the window against the development center: start,
pause while the center is slow ("正在暂停…"), pause with progress ("继续下载"),
resume with a Range request, completion; and closing during a download, also
while the center holds its answer."""
import os
import time
import unittest

from window_common import (assert_colour, center_answer, data_root, files_named, screenshot, skip_without_tools,
                           start_center, window_driver, winetest)

import launch_proof

ProgramRun = window_driver.ProgramRun
wait_until = window_driver.wait_until

PANEL = 0xFFFFFF
BAR = 0x0A7FC3
BLUE_BUTTON = 0x0A7FC3
STATUS_LINE = (80, 613, 580, 640)
BUTTON_LABEL = (890, 610, 1042, 640)
BAR_START = (84, 652)
TRACK_END = (635, 652)
SERVER_CARD_FILL = (530, 460)
CLIENT_CARD_FILL = (1050, 460)
SELECTED_CARD = 0xF1F8FD
PACKAGE_SIZE = 6 << 20
SLOW_NODE = {"node": {"throttleBytesPerSecond": 256 << 10}}
# Slow enough that the download cannot end while the close test still works with it.
CRAWLING_NODE = {"node": {"throttleBytesPerSecond": 32 << 10}}


def ink(window, area, background):
    return window.canvas_capture().ink_columns(*area, background=background)


def ink_width(window, area, background):
    columns = ink(window, area, background)
    return 0 if columns is None else columns[1] - columns[0]


def part_size(root):
    parts = files_named(root, ".part")
    return os.path.getsize(parts[0]) if parts else 0


def label_pixels(window):
    return window.canvas_capture().region(*BUTTON_LABEL).rgb


class WindowDownload(unittest.TestCase):
    def start(self, center, root):
        return ProgramRun(["--diagnostic-lan=none", "--server-url=" + center.base_url,
                           "--diagnostic-data-root=" + winetest.windows_path(root)])

    def wait_for_progress(self, window):
        wait_until(lambda: window.canvas_capture().pixel(*BAR_START) == BAR, 90, what="the progress bar")

    def choose_edition(self, window, card, fill):
        window.click(*card)
        wait_until(lambda: window.canvas_capture().pixel(*fill) == SELECTED_CARD, 20, what="the chosen card")

    def test_pause_resume_and_completion(self):
        center = start_center(self, demo_size=PACKAGE_SIZE, faults=SLOW_NODE)
        root = data_root(self)
        earlier = launch_proof.launch_folders()
        prepared = center_answer(center, "prepare", {"deviceId": "window-test", "packageType": "Server"})
        self.assertTrue(prepared["isAllowed"])
        with self.start(center, root) as run:
            window = run.window()
            self.choose_edition(window, (300, 400), SERVER_CARD_FILL)

            # A slow center keeps the worker busy, so the pause request is on screen until it stops.
            center.control.queue("prepare", body=prepared, delayMs=8000)
            window.click(966, 625)
            window.park_mouse()
            wait_until(lambda: center.control.log(kind="api", operation="prepare"), 30, what="the prepare request")
            # "正在检查最新安装包", 9 characters, shown before the request; "正在准备安全下载" before it has 8.
            starting = wait_until(lambda: (lambda w: w if w >= 105 else None)(ink_width(window, STATUS_LINE, PANEL)),
                                  10, what="the 9-character check status")
            window.click(966, 625)
            window.park_mouse()
            pausing = wait_until(lambda: (lambda w: w if 45 <= w <= 80 else None)(
                ink_width(window, STATUS_LINE, PANEL)), 6, what="the 5-character pause status")
            self.assertGreater(starting, pausing + 30, "status changed from the 9-character check to 正在暂停…")
            # Paused before any byte: the idle panel returns and the label is 下载并安装 again (5 characters).
            wait_until(lambda: window.canvas_capture().pixel(*TRACK_END) == PANEL, 30, what="the idle panel")
            fresh_label = label_pixels(window)
            self.assertGreater(ink_width(window, BUTTON_LABEL, BLUE_BUTTON), 66)

            window.click(966, 625)
            self.wait_for_progress(window)
            window.park_mouse()
            shot = window.canvas_capture()
            screenshot(shot, "downloading.png")
            assert_colour(self, shot, TRACK_END, 0xE5ECF3, what="progress track")
            downloading_label = label_pixels(window)  # 暂停下载
            self.assertNotEqual(downloading_label, fresh_label)

            window.click(966, 625)
            window.park_mouse()
            wait_until(lambda: (lambda log: log and log[-1]["aborted"])(center.control.log(kind="node")), 30,
                       what="the transfer to stop")
            paused_label = wait_until(lambda: (lambda p: p if p != downloading_label else None)(label_pixels(window)),
                                      20, what="the label after the pause")
            self.assertNotEqual(paused_label, fresh_label)
            self.assertLess(ink_width(window, BUTTON_LABEL, BLUE_BUTTON), 66, "继续下载 has four characters")
            shot = window.canvas_capture()
            screenshot(shot, "paused.png")
            assert_colour(self, shot, BAR_START, BAR, what="progress kept after the pause")
            parts = files_named(root, ".part")
            self.assertEqual(len(parts), 1)
            kept = os.path.getsize(parts[0])
            self.assertGreater(kept, 0)

            center.control.set_faults(node={"throttleBytesPerSecond": None})
            window.click(966, 625)
            run.answer_completion_box()
            self.assertEqual(run.wait_exit(30), 0)

            node_log = center.control.log(kind="node")
            self.assertEqual(node_log[-1]["headers"].get("Range"), "bytes=%d-" % kept)
            self.assertEqual(node_log[-1]["status"], 206)
            report = window_driver.report_fields(run.new_report())
            self.assertEqual(report["分类"], "Completed")
            self.assertEqual(report["退出码"], "0")
            self.assertEqual(report["最后进度"], "%d / %d 字节" % (PACKAGE_SIZE, PACKAGE_SIZE))
            launched = wait_until(lambda: launch_proof.proofs(earlier), 30, what="the demo installer to start")
            launch_proof.assert_started_alone(self, launched[0])

    def close_confirmed(self, run, window):
        """Escape, then "是" in the question; the seconds from the question's going
        to the process's end (exit code 0), and its "UserCancelled" report."""
        window.press("Escape")
        run.answer_message_box("关闭安装助手", "y")
        answered = time.monotonic()
        self.assertEqual(run.wait_exit(30), 0)
        seconds = time.monotonic() - answered
        report = window_driver.report_fields(run.new_report())
        self.assertEqual(report["分类"], "UserCancelled")
        return seconds, report

    def test_close_during_download_asks_and_keeps_the_progress(self):
        center = start_center(self, demo_size=PACKAGE_SIZE, faults=CRAWLING_NODE)
        root = data_root(self)
        earlier = launch_proof.launch_folders()
        with self.start(center, root) as run:
            window = run.window()
            self.choose_edition(window, (800, 400), CLIENT_CARD_FILL)
            window.click(966, 625)
            self.wait_for_progress(window)

            window.click(1086, 33)
            run.answer_message_box("关闭安装助手", "n")
            self.assertTrue(window.exists())
            declined_at = part_size(root)
            wait_until(lambda: part_size(root) > declined_at, 30, what="the download to go on")
            self.assertFalse(center.control.log(kind="node")[-1]["aborted"])
            self.assertIsNone(run.process.poll())

            flowing, report = self.close_confirmed(run, window)
            self.assertEqual(report["退出码"], "0")
            self.assertEqual(report["下载类型"], "仅客户端版")
            parts = files_named(root, ".part")
            self.assertEqual(len(parts), 1)
            kept = os.path.getsize(parts[0])
            self.assertGreater(kept, declined_at)
            self.assertFalse(launch_proof.proofs(earlier))

        # Once more while the center holds its answer to the resumed start for 25 s:
        # the close breaks the call off instead of waiting for it.
        center.control.queue("start", body={}, delayMs=25000)
        with self.start(center, root) as run:
            window = run.window()
            self.choose_edition(window, (800, 400), CLIENT_CARD_FILL)
            window.click(966, 625)
            wait_until(lambda: [entry["status"] for entry in center.control.log(kind="api", operation="start")]
                       == [200, None], 60, what="the resumed start call to be held")
            held, report = self.close_confirmed(run, window)
            self.assertEqual(report["执行阶段"], "恢复已有下载会话")
            self.assertEqual(os.path.getsize(parts[0]), kept)
        # Wine takes its own time to take the window down (no window manager answers
        # it); the close of a flowing download shows how much.
        self.assertLess(held - flowing, 2.0, "closing took %.1f s while the center held its answer, %.1f s while "
                        "the download flowed" % (held, flowing))


if __name__ == "__main__":
    skip_without_tools()
    unittest.main()
