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
BAR_START = (84, 652)
TRACK_END = (635, 652)
PACKAGE_SIZE = 6 << 20
SLOW_NODE = {"node": {"throttleBytesPerSecond": 256 << 10}}
# Slow enough that the download cannot end while the close test still works with it.
CRAWLING_NODE = {"node": {"throttleBytesPerSecond": 32 << 10}}
CHOSEN = window_driver.SELECTED | window_driver.CHECKED
STATUS, BUTTON, PROGRESS = window_driver.STATUS_TEXT, window_driver.MAIN_BUTTON, window_driver.PROGRESS


def part_size(root):
    parts = files_named(root, ".part")
    return os.path.getsize(parts[0]) if parts else 0


def percent(window):
    item = window.tree().get(PROGRESS)
    return int(item["value"].rstrip("%")) if item else None


class WindowDownload(unittest.TestCase):
    def start(self, center, root):
        return ProgramRun(["--diagnostic-lan=none", "--server-url=" + center.base_url,
                           "--diagnostic-data-root=" + winetest.windows_path(root)])

    def wait_for_progress(self, window):
        wait_until(lambda: window.canvas_capture().pixel(*BAR_START) == BAR, 90, what="the progress bar")

    def choose_edition(self, window, name, child):
        window.do(name)
        window.wait_child(child, state=CHOSEN)

    def test_pause_resume_and_completion(self):
        center = start_center(self, demo_size=PACKAGE_SIZE, faults=SLOW_NODE)
        root = data_root(self)
        earlier = launch_proof.launch_folders()
        prepared = center_answer(center, "prepare", {"deviceId": "window-test", "packageType": "Server"})
        self.assertTrue(prepared["isAllowed"])
        with self.start(center, root) as run:
            window = run.window()
            self.choose_edition(window, "服务端版", window_driver.SERVER_CARD)

            # A slow center keeps the worker busy, so the pause request is on screen until it stops.
            center.control.queue("prepare", body=prepared, delayMs=8000)
            window.do("下载并安装")
            wait_until(lambda: center.control.log(kind="api", operation="prepare"), 30, what="the prepare request")
            window.wait_child(STATUS, name="正在检查最新安装包", timeout=10)
            window.do("暂停下载")
            window.wait_child(STATUS, name="正在暂停…", timeout=6)
            # Paused before any byte: the idle panel returns and the label is 下载并安装 again.
            window.wait_child(BUTTON, name="下载并安装", timeout=30)
            self.assertIsNone(percent(window))
            self.assertEqual(window.canvas_capture().pixel(*TRACK_END), PANEL, "idle panel")

            window.do("下载并安装")
            self.wait_for_progress(window)
            window.park_mouse()
            shot = window.canvas_capture()
            screenshot(shot, "downloading.png")
            assert_colour(self, shot, TRACK_END, 0xE5ECF3, what="progress track")
            # The bar's value follows the download.
            first = wait_until(lambda: percent(window), 30, what="a progress value")
            wait_until(lambda: percent(window) > first, 30, what="the progress value to move from %d%%" % first)

            window.do("暂停下载")
            wait_until(lambda: (lambda log: log and log[-1]["aborted"])(center.control.log(kind="node")), 30,
                       what="the transfer to stop")
            window.wait_child(BUTTON, name="继续下载", timeout=20)
            self.assertGreater(percent(window), first)
            shot = window.canvas_capture()
            screenshot(shot, "paused.png")
            assert_colour(self, shot, BAR_START, BAR, what="progress kept after the pause")
            parts = files_named(root, ".part")
            self.assertEqual(len(parts), 1)
            kept = os.path.getsize(parts[0])
            self.assertGreater(kept, 0)

            center.control.set_faults(node={"throttleBytesPerSecond": None})
            window.do("继续下载")
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
            self.choose_edition(window, "仅客户端版", window_driver.CLIENT_CARD)
            window.do("下载并安装")
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
            self.choose_edition(window, "仅客户端版", window_driver.CLIENT_CARD)
            window.do("下载并安装")
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
