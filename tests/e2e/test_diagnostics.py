"""The built program's diagnostic tests, exit codes and local reports under Wine.

Every run carries --diagnostic-lan=none (no LAN probe) and a unique bare
argument; the redacted command line keeps bare arguments visible, so each
run's exit report is found by that tag. The runs see a virtual display, so a
message box that should not appear would keep the process from ending.
"""
import os
import sys
import time
import unittest
import uuid

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "support"))
import display  # noqa: E402
import winetest  # noqa: E402

FORCE_VARIABLE = "ORIVANTA_DIAGNOSTIC_REPORT_ROOT_INVALID"
os.environ.pop(FORCE_VARIABLE, None)

LOCAL_APP_DATA = winetest.windows_user_folder("AppData/Local")
ROOT = os.path.join(LOCAL_APP_DATA, "Orivanta", "InstallerDownloader", "process-exit")
SESSIONS = os.path.join(ROOT, "sessions")
FALLBACK_ROOT = os.path.join(LOCAL_APP_DATA, "Temp", "OrivantaInstaller", "process-exit")
CAPTION = "欧瑞凡达安装助手"
RUN_TIMEOUT = 120


def read_text(path):
    with open(path, "rb") as handle:
        data = handle.read()
    return data.decode("utf-8")


def report_lines(text):
    """The lines of a report; every line, the last included, must end in CR LF."""
    assert text.endswith("\r\n"), "report does not end with CR LF"
    lines = text[:-2].split("\r\n")
    assert not any("\n" in line or "\r" in line for line in lines), "bare line break in report"
    return lines


def field(lines, label):
    matches = [line[len(label):] for line in lines if line.startswith(label)]
    assert len(matches) == 1, f"{label!r} appears {len(matches)} times"
    return matches[0]


def files(folder, prefix="", suffix=""):
    if not os.path.isdir(folder):
        return []
    return sorted(name for name in os.listdir(folder) if name.startswith(prefix) and name.endswith(suffix))


class DiagnosticRuns(unittest.TestCase):
    screen = None

    @classmethod
    def setUpClass(cls):
        if display.available():
            cls.screen = display.VirtualDisplay().start()

    @classmethod
    def tearDownClass(cls):
        if cls.screen:
            cls.screen.stop()

    def env(self, extra=None):
        values = {"DISPLAY": self.screen.name} if self.screen else {}
        values.update(extra or {})
        return values

    def arguments(self, test, extra=()):
        tag = "e2e-" + uuid.uuid4().hex
        return tag, ["--diagnostic-lan=none", "--diagnostic-test=" + test, tag, *extra]

    def run_test(self, test, extra=(), env=None):
        """Runs one diagnostic test to its end; returns the exit code and the run's report lines."""
        tag, args = self.arguments(test, extra)
        result = winetest.run_program(winetest.program_path(), args, timeout=RUN_TIMEOUT, env_extra=self.env(env))
        return result.returncode, self.report_of(tag)

    def report_of(self, tag, root=ROOT):
        found = []
        for name in files(root, "exit-", ".txt"):
            text = read_text(os.path.join(root, name))
            if " " + tag in text:
                found.append((name, text))
        self.assertEqual(len(found), 1, f"expected one report for {tag} in {root}")
        name, text = found[0]
        self.assertFalse(text.startswith("\ufeff"), "report starts with a byte-order mark")
        lines = report_lines(text)
        self.assertEqual(name, "exit-" + field(lines, "会话: ") + ".txt")
        return lines

    def assert_no_marker_of(self, lines):
        run_id = field(lines, "会话: ")
        self.assertEqual([name for name in files(SESSIONS) if run_id in name], [], "marker left after the end")

    def test_normal_ends_before_the_server_url_is_checked(self):
        code, lines = self.run_test("normal", ["--server-url=ftp://secret.example/"])
        self.assertEqual(code, 0)
        self.assertEqual(lines[0], "欧瑞凡达安装助手 - 本地退出报告")
        self.assertEqual(lines[1], "")
        self.assertEqual(field(lines, "分类: "), "Completed")
        self.assertEqual(field(lines, "退出码: "), "0")
        self.assertEqual(field(lines, "执行阶段: "), "诊断：正常退出")
        self.assertEqual(field(lines, "最后成功检查点: "), "诊断：正常退出")
        self.assertEqual(field(lines, "原因: "), "诊断验证按预期正常完成。")
        self.assertEqual(field(lines, "人工处理: "), "无需处理。")
        self.assertEqual(field(lines, "架构: "), winetest.architecture())
        self.assertEqual(field(lines, "依赖状态: "), "WindowsNetwork=已初始化, CenterApi=尚未收到响应")
        self.assertEqual(field(lines, "下载类型: "), "尚未选择")
        command = field(lines, "脱敏启动参数: ")
        self.assertIn(" --server-url=<已脱敏>", command)
        self.assertIn(" --diagnostic-test=<已脱敏>", command)
        self.assertNotIn("secret", command)
        self.assertFalse(any(line.startswith("异常链") for line in lines))
        self.assertTrue(field(lines, "证据路径: ").endswith("\\Orivanta\\InstallerDownloader\\process-exit"))
        self.assertEqual(report_lines(read_text(os.path.join(ROOT, "latest-exit.txt"))), lines)
        self.assert_no_marker_of(lines)

    def test_failures_end_with_code_two_and_their_chain_without_a_message_box(self):
        for test, chain in (("early-error", "diagnostic early initialization failure"),
                            ("nested-error", "outer diagnostic context -> inner diagnostic failure")):
            with self.subTest(test=test):
                code, lines = self.run_test(test)
                self.assertEqual(code, 2)
                self.assertEqual(field(lines, "分类: "), "UnhandledException")
                self.assertEqual(field(lines, "退出码: "), "2")
                self.assertEqual(field(lines, "原因: "), "安装助手在启动或运行阶段遇到可捕获异常，未继续执行。")
                self.assertEqual(field(lines, "异常链: "), chain)
                self.assertEqual(lines[-3], "异常链: " + chain)
                self.assert_no_marker_of(lines)

    def test_forcing_variable_moves_reports_to_the_fallback_root(self):
        tag, args = self.arguments("normal")
        result = winetest.run_program(winetest.program_path(), args, timeout=RUN_TIMEOUT,
                                      env_extra=self.env({FORCE_VARIABLE: "1"}))
        self.assertEqual(result.returncode, 0)
        lines = self.report_of(tag, FALLBACK_ROOT)
        self.assertTrue(field(lines, "证据路径: ").endswith("\\Temp\\OrivantaInstaller\\process-exit"))

        code, lines = self.run_test("normal", env={FORCE_VARIABLE: ""})
        self.assertEqual(code, 0, "an empty value keeps the normal root")

    def test_stale_marker_is_reported_exactly_once(self):
        os.makedirs(SESSIONS, exist_ok=True)
        # Wine's process ids are small multiples of four: this one is never alive.
        marker = "999996-" + str(uuid.uuid4()).upper() + ".running"
        with open(os.path.join(SESSIONS, marker), "wb") as handle:
            handle.write(b"started=2026-12-06T22:12:45.123Z\r\nstage=\xe5\xbb\xba\r\n")

        code, lines = self.run_test("normal")
        self.assertEqual(code, 0)
        self.assertFalse(os.path.exists(os.path.join(SESSIONS, marker)))
        reports = files(ROOT, "prior-unexpected-", "-" + marker + ".txt")
        self.assertEqual(reports, ["prior-unexpected-" + field(lines, "会话: ") + "-" + marker + ".txt"])
        prior = report_lines(read_text(os.path.join(ROOT, reports[0])))
        self.assertEqual(len(prior), 5)
        self.assertEqual(prior[0], "检测到上次非正常中断")
        self.assertTrue(prior[2].startswith("证据: ") and prior[2].endswith("\\sessions\\" + marker), prior[2])

        code, _ = self.run_test("normal")
        self.assertEqual(code, 0)
        self.assertEqual(files(ROOT, "prior-unexpected-", "-" + marker + ".txt"), reports)

    def test_hold_keeps_its_marker_while_a_second_instance_runs(self):
        tag, args = self.arguments("hold")
        before = set(files(SESSIONS, suffix=".running"))
        started = time.monotonic()
        holder = winetest.start_program(winetest.program_path(), args, env_extra=self.env())
        try:
            marker = None
            while marker is None and time.monotonic() - started < 25 and holder.poll() is None:
                for name in set(files(SESSIONS, suffix=".running")) - before:
                    if "stage=诊断：多实例保持运行" in read_text(os.path.join(SESSIONS, name)):
                        marker = name
                time.sleep(0.2)
            self.assertIsNotNone(marker, "the holding run wrote no marker with its checkpoint")
            content = report_lines(read_text(os.path.join(SESSIONS, marker)))
            self.assertEqual(len(content), 2)
            self.assertTrue(content[0].startswith("heartbeat="))

            code, _ = self.run_test("normal")
            self.assertEqual(code, 0)
            self.assertIsNone(holder.poll(), "the hold ended before the second instance was checked")
            self.assertTrue(os.path.exists(os.path.join(SESSIONS, marker)), "the living run's marker was taken")
            self.assertEqual(files(ROOT, "prior-unexpected-", "-" + marker + ".txt"), [])

            self.assertEqual(holder.wait(RUN_TIMEOUT), 0)
        finally:
            if holder.poll() is None:
                holder.kill()
                holder.wait()
        self.assertGreaterEqual(time.monotonic() - started, 29)
        lines = self.report_of(tag)
        self.assertEqual(field(lines, "分类: "), "Completed")
        self.assertEqual(field(lines, "执行阶段: "), "诊断：多实例保持运行")
        self.assertEqual(field(lines, "原因: "), "多实例诊断正常结束。")
        self.assertFalse(os.path.exists(os.path.join(SESSIONS, marker)))

    def test_start_up_failure_before_the_options_shows_the_message_box(self):
        """No diagnostic mode is known yet when the diagnostics themselves fail, so the box appears."""
        if not self.screen:
            self.skipTest("needs Xvfb, xdotool, xwd and ImageMagick")
        aside = ROOT + ".e2e-aside"
        os.makedirs(ROOT, exist_ok=True)
        os.rename(ROOT, aside)
        try:
            # A file where the report root belongs passes as present, but no
            # sessions folder can be made inside it.
            with open(ROOT, "wb") as handle:
                handle.write(b"not a folder")
            _, args = self.arguments("normal")
            program = winetest.start_program(winetest.program_path(), args, env_extra=self.env())
            try:
                window = []
                deadline = time.monotonic() + 60
                while not window and time.monotonic() < deadline and program.poll() is None:
                    time.sleep(0.5)
                    window = self.screen.find_windows(name=CAPTION)
                self.assertTrue(window, "no message box appeared")
                self.assertIsNone(program.poll(), "the program did not wait for the message box")
                self.screen.key(window[0], CAPTION, "Return")
                self.assertEqual(program.wait(30), 2)
            finally:
                if program.poll() is None:
                    program.kill()
                    program.wait()
        finally:
            os.remove(ROOT)
            os.rename(aside, ROOT)


if __name__ == "__main__":
    if not os.path.exists(winetest.program_path()):
        print("program not built:", winetest.program_path())
        sys.exit(77)
    outcome = unittest.main(exit=False, verbosity=2).result
    sys.exit(0 if outcome.wasSuccessful() else 1)
