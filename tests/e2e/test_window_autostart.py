"""The automatic-start mode against the development center: no window is shown,
the worker runs at once and the process ends by itself with 0 or 4."""
import time
import unittest

from window_common import data_root, files_named, skip_without_tools, start_center, window_driver, winetest

ProgramRun = window_driver.ProgramRun


class AutomaticStart(unittest.TestCase):
    def run_autostart(self, center, root, edition):
        return ProgramRun(["--diagnostic-autostart=" + edition, "--server-url=" + center.base_url,
                           "--diagnostic-data-root=" + winetest.windows_path(root)])

    def test_completed_download_launches_the_package_and_exits_0(self):
        center = start_center(self, demo_size=2 << 20)
        root = data_root(self)
        with self.run_autostart(center, root, "client") as run:
            time.sleep(3)
            self.assertFalse(run.display.find_windows(window_driver.WINDOW_TITLE), "the window stays hidden")
            self.assertEqual(run.wait_exit(120), 0)
            report = window_driver.report_fields(run.new_report())
            self.assertEqual(report["分类"], "Completed")
            self.assertEqual(report["退出码"], "0")
            self.assertEqual(report["下载类型"], "仅客户端版")
            # The worker writes the report itself, while busy is still set.
            self.assertEqual(report["关键状态"],
                             "busy=true, cancelRequested=false, integrityPassed=true, installerLaunched=true")
            self.assertEqual(report["稳定代码位置"], "OrivantaInstaller::Worker")
            launched = window_driver.wait_until(lambda: files_named(root, ".launched.txt"), 30,
                                                what="the demo installer to start")
            self.assertIn("ClientOnly", launched[0])
            self.assertEqual(center.control.counters()["requests"].get("start"), 1)

    def test_failed_download_exits_4_with_the_failure_in_the_report(self):
        reason = "验收测试：中心拒绝本机下载"
        center = start_center(self, demo_size=2 << 20, faults={"refusePrepare": True, "rejectionReason": reason})
        root = data_root(self)
        with self.run_autostart(center, root, "server") as run:
            self.assertEqual(run.wait_exit(120), 4)
            report_text = run.new_report()
            report = window_driver.report_fields(report_text)
            self.assertEqual(report["分类"], "UnhandledException")
            self.assertEqual(report["退出码"], "4")
            self.assertEqual(report["原因"], "自动化下载验收未完成。")
            self.assertIn(reason, report["异常链"])
            self.assertFalse(files_named(root, ".launched.txt"))


if __name__ == "__main__":
    skip_without_tools()
    unittest.main()
