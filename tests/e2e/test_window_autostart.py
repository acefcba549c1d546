"""The automatic-start mode against the development center: no window is shown,
the worker runs at once and the process ends by itself with 0 or 4; a data root
keeps everything of the run, its launch included; and only one run with a root
works at a time."""
import json
import os
import subprocess
import unittest

from window_common import data_root, skip_without_tools, start_center, window_driver, winetest

import launch_proof

ProgramRun = window_driver.ProgramRun
wait_until = window_driver.wait_until


def markers():
    folder = os.path.join(window_driver.report_root(), "sessions")
    return set(os.listdir(folder)) if os.path.isdir(folder) else set()


def shown(window):
    return window.canvas_capture().pixel(30, 400) == window_driver.BACKGROUND


def tree(root):
    return sorted(os.path.join(folder, name) for folder, folders, names in os.walk(root) for name in folders + names)


def outside_the_root():
    """What a run with a data root must leave as it was: the usual machine folder and the folder records."""
    vendor = tree(os.path.join(winetest.prefix(), "drive_c", "ProgramData", "Orivanta"))
    query = winetest.wine_command("reg", "query", "HKLM\\SOFTWARE\\Orivanta\\InstallerAssistant\\Folders", "/reg:64")
    records = subprocess.run(query, env=winetest.wine_env(), stdin=subprocess.DEVNULL, capture_output=True, text=True,
                             timeout=120, check=False).stdout
    return [(path, os.lstat(path).st_mtime_ns) for path in vendor], records


class AutomaticStart(unittest.TestCase):
    def run_autostart(self, center, root, edition, server_url=None, launcher=(), exe=None):
        return ProgramRun(["--diagnostic-autostart=" + edition, "--server-url=" + (server_url or center.base_url),
                           "--diagnostic-data-root=" + winetest.windows_path(root)], exe=exe, launcher=launcher)

    def test_completed_download_launches_the_package_and_exits_0(self):
        center = start_center(self, demo_size=2 << 20)
        root = data_root(self)
        # A DLL left in the publish folder before the run, where an installer would load it from.
        os.makedirs(os.path.join(root, "packages"))
        with open(os.path.join(root, "packages", "version.dll"), "wb") as stream:
            stream.write(b"MZ planted")
        earlier, outside = launch_proof.launch_folders(), outside_the_root()
        with self.run_autostart(center, root, "client") as run:
            # Watched for the whole run: the window never shows.
            shown = window_driver.wait_until(
                lambda: run.display.find_windows(window_driver.WINDOW_TITLE) or run.process.poll() is not None, 120,
                what="the run to end")
            self.assertIs(shown, True, "the window stays hidden")
            self.assertEqual(run.wait_exit(120), 0)
            report = window_driver.report_fields(run.new_report())
            self.assertEqual(report["分类"], "Completed")
            self.assertEqual(report["退出码"], "0")
            self.assertEqual(report["下载类型"], "仅客户端版")
            # The worker writes the report itself, while busy is still set.
            self.assertEqual(report["关键状态"],
                             "busy=true, cancelRequested=false, integrityPassed=true, installerLaunched=true")
            self.assertEqual(report["稳定代码位置"], "OrivantaInstaller::Worker")
            launched = window_driver.wait_until(lambda: launch_proof.proofs(earlier), 30,
                                                what="the demo installer to start")
            self.assertIn("ClientOnly", os.path.basename(launched[0]["installer"]))
            launch_proof.assert_started_alone(self, launched[0])
            self.assertEqual(center.control.counters()["requests"].get("start"), 1)
            self.assertEqual(os.path.dirname(os.path.dirname(launched[0]["installer"])), os.path.join(root, "launch"))
            self.assertTrue(os.path.isfile(os.path.join(root, "machine", "working-run.lock")))
            self.assertEqual(outside_the_root(), outside, "a run with a data root changed the usual machine folder "
                             "or the folder records")

        # The next run, of the other architecture's build with the device identity computed anew, finds
        # the published package, hashes it and starts it: nothing is downloaded again.
        os.remove(os.path.join(root, "machine", "device-id.txt"))
        earlier = launch_proof.launch_folders()
        with self.run_autostart(center, root, "client", exe=winetest.other_program()) as run:
            self.assertEqual(run.wait_exit(120), 0)
            self.assertTrue(window_driver.report_fields(run.new_report())["原因"].startswith("本机已存在与中心最新元数据一致"))
            window_driver.wait_until(lambda: launch_proof.proofs(earlier), 30, what="the reused package to start")
        requests = center.control.counters()["requests"]
        self.assertEqual((requests.get("start"), requests.get("reuse"), requests.get("node")), (1, 1, 1))
        self.assertEqual(len({json.loads(entry["body"])["deviceId"] for entry in center.control.log(kind="api")}), 1)

    def test_failed_download_exits_4_with_the_failure_in_the_report(self):
        reason = "验收测试：中心拒绝本机下载"
        center = start_center(self, demo_size=2 << 20, faults={"refusePrepare": True, "rejectionReason": reason})
        root = data_root(self)
        earlier = launch_proof.launch_folders()
        with self.run_autostart(center, root, "server") as run:
            self.assertEqual(run.wait_exit(120), 4)
            report_text = run.new_report()
            report = window_driver.report_fields(report_text)
            self.assertEqual(report["分类"], "UnhandledException")
            self.assertEqual(report["退出码"], "4")
            self.assertEqual(report["原因"], "自动化下载验收未完成。")
            self.assertIn(reason, report["异常链"])
            self.assertFalse(launch_proof.proofs(earlier))

    def test_unresolvable_hosts_read_as_chinese_sentences_in_the_report(self):
        # Name lookups of the program's own process fail inside an empty network
        # namespace: no query for the .invalid names leaves the machine.
        launcher = winetest.empty_network_namespace()
        if launcher is None:
            self.skipTest("no network namespace can be made here")
        center = start_center(self, demo_size=2 << 20)
        package = center.control.packages()["ClientOnly"]
        answer = {key: package[key] for key in ("packageId", "versionName", "fileName", "sha256", "sizeBytes")}
        center.control.queue("start", body=dict(answer, downloadUrl="http://node.invalid/oss/package.exe"))
        root = data_root(self)
        with self.run_autostart(center, root, "client", launcher=launcher) as run:
            self.assertEqual(run.wait_exit(120), 4)
            report = window_driver.report_fields(run.new_report())
            self.assertEqual(report["异常链"], "下载连接失败：无法解析服务器名称 (12007)")
        with self.run_autostart(center, root, "client", "http://center.invalid/support-center", launcher) as run:
            self.assertEqual(run.wait_exit(120), 4)
            report = window_driver.report_fields(run.new_report())
            self.assertEqual(report["异常链"], "center request failed -> 无法解析服务器名称 (12007)")
    def test_a_second_run_gives_way_while_a_window_run_works(self):
        center = start_center(self, demo_size=2 << 20)
        program = winetest.program_path()
        root = data_root(self)
        with ProgramRun(["--diagnostic-lan=none", "--diagnostic-data-root=" + winetest.windows_path(root)]) as run:
            window = run.window()
            window.click(1036, 33)  # minimise
            wait_until(lambda: not shown(window), 10, what="the window to be minimised")

            # A second window run with the same root brings the working run's window back and leaves
            # no trace of its own.
            reports, running, data = set(window_driver.exit_reports()), markers(), tree(root)
            second = winetest.run_program(program, ["--diagnostic-lan=none",
                                                    "--diagnostic-data-root=" + winetest.windows_path(root)],
                                          timeout=60, env_extra=run.display.env())
            self.assertEqual(second.returncode, 0)
            wait_until(lambda: shown(window), 10, what="the working run's window to come back")
            self.assertEqual(set(window_driver.exit_reports()), reports, "the second window run wrote a report")
            self.assertEqual(markers(), running, "the second window run left a marker")
            self.assertEqual(tree(root), data, "the second window run wrote data")

            # A second automatic run ends with 4 and says why, before the center hears of it.
            refused = winetest.run_program(program, ["--diagnostic-autostart=client", "--server-url=" + center.base_url,
                                                     "--diagnostic-data-root=" + winetest.windows_path(root)],
                                           timeout=60, env_extra=run.display.env())
            self.assertEqual(refused.returncode, 4)
            written = [path for name, path in window_driver.exit_reports().items() if name not in reports]
            self.assertEqual(len(written), 1)
            with open(written[0], encoding="utf-8") as stream:
                report = window_driver.report_fields(stream.read())
            self.assertEqual(report["分类"], "UnhandledException")
            self.assertEqual(report["退出码"], "4")
            self.assertEqual(report["原因"], "另一个安装助手正在本机运行，本次自动化下载未开始。")
            self.assertEqual(center.control.counters()["requests"], {})
            self.assertEqual(tree(root), data)

            # The diagnostic tests run beside a working run.
            diagnostic = winetest.run_program(program, ["--diagnostic-lan=none", "--diagnostic-test=normal"])
            self.assertEqual(diagnostic.returncode, 0)

            window.press("Escape")
            self.assertEqual(run.wait_exit(30), 0)


if __name__ == "__main__":
    skip_without_tools()
    unittest.main()
