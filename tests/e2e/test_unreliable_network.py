"""Automatic runs through a node that misbehaves as a clinic's line does: cuts, a busy
answer, a URL that expires meanwhile and silence ridden out in one run; a 404 that
persists and a node that stays down end their runs with the node's own text."""
import datetime
import unittest

from window_common import data_root, skip_without_tools, window_driver, winetest

PACKAGE_SIZE = 2 << 20
PIECE = 300000


class UnreliableNetwork(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        from devcenter import DevCenter
        cls.center = DevCenter(demo_size=PACKAGE_SIZE).start()
        cls.addClassCleanup(cls.center.stop)

    def run_client(self, faults, exit_code):
        """One automatic run with these faults from the start; its report's fields."""
        control = self.center.control
        control.reset()
        control.set_faults(**faults)
        with window_driver.ProgramRun(["--diagnostic-autostart=client", "--diagnostic-lan=none",
                                       "--server-url=" + self.center.base_url,
                                       "--diagnostic-data-root=" + winetest.windows_path(data_root(self))]) as run:
            self.assertEqual(run.wait_exit(180), exit_code)
            return window_driver.report_fields(run.new_report())

    def test_cuts_a_busy_node_an_expired_url_and_a_silent_node_in_one_run(self):
        self.run_client({"nodeSequence": [{"cutAfterBytes": PIECE}] * 3 + [
            {"status": 503, "retryAfter": "4"}, {"expireUrl": True}, {"stallAfterBytes": PIECE}]}, 0)
        control = self.center.control
        self.assertEqual(list(control.counters()["downloads"].values()), [1], "counted once")
        node = control.log(kind="node")
        self.assertEqual([entry["status"] for entry in node], [200, 206, 206, 503, 403, 206, 206])
        ranges = [entry["headers"].get("Range") for entry in node]
        self.assertEqual(ranges[:6], [None] + ["bytes=%d-" % (PIECE * n) for n in (1, 2, 3, 3, 3)])
        began = [datetime.datetime.fromisoformat(entry["timeUtc"]) for entry in node]
        self.assertGreaterEqual((began[4] - began[3]).total_seconds(), 3.9, "Retry-After waited for")
        # A read that times out may lose what it had gathered of its buffer: the rest resumes from the file.
        self.assertEqual((node[5]["bytesSent"], node[5]["aborted"]), (PIECE, True), "the silent node")
        resumed = int(ranges[6][len("bytes="):-1])
        self.assertTrue(3 * PIECE < resumed <= 4 * PIECE, ranges[6])
        self.assertEqual(resumed + node[6]["bytesSent"], PACKAGE_SIZE)

        first, renewed = [entry["body"] for entry in control.log(kind="api", operation="start")]
        self.assertEqual(renewed, first.replace('"resumeOffset":0}', '"resumeOffset":%d}' % (3 * PIECE)))

    def test_a_404_is_asked_twice_and_a_node_that_stays_down_six_times(self):
        report = self.run_client({"nodeSequence": [{"cutAfterBytes": PIECE}], "node": {"status": 404}}, 4)
        self.assertEqual(report["异常链"], "下载节点返回状态 404（共尝试 3 次）")
        control = self.center.control
        self.assertEqual([entry["status"] for entry in control.log(kind="node")], [200, 404, 404])
        self.assertEqual(len(control.log(kind="api", operation="start")), 2, "the URL renewed once")

        report = self.run_client({"node": {"status": 503, "retryAfter": "1"}}, 4)
        self.assertEqual(report["异常链"], "下载节点返回状态 503（共尝试 6 次）")
        self.assertEqual(len(control.log(kind="node")), 6)


if __name__ == "__main__":
    skip_without_tools()
    unittest.main()
