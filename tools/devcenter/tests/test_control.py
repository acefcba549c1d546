import http.client
import json
import threading
import time

from devcenter import DevCenter
from devcenter.client import ControlError
from devcenter.tests.support import CenterTestCase, request


class QueueTest(CenterTestCase):
    def test_queued_answer_replaces_the_next_call_only(self):
        self.control.queue("start", 500, {"message": "内部错误"})
        self.assertEqual(self.start("d", "S1"), (500, {"message": "内部错误"}))
        self.assertEqual(self.start("d", "S1")[0], 200)
        self.assertEqual(self.control.counters("d")["downloads"], 1)

    def test_body_size_text_and_repetition(self):
        self.control.queue("prepare", 200, {"errorCode": "X"}, bodySize=131073, times=2)
        for _ in range(2):
            _, _, data = request(self.center.base_url + "/api/installer-downloads/prepare", "POST", b"{}")
            self.assertEqual(len(data), 131073)
            self.assertEqual(json.loads(data)["errorCode"], "X")
        self.control.queue("reuse", 200, bodyText='{"packageId":"p","sizeBytes":"12"}')
        _, _, data = request(self.center.base_url + "/api/installer-downloads/reuse", "POST", b"{}")
        self.assertEqual(data, b'{"packageId":"p","sizeBytes":"12"}')

    def test_cut_answer_announces_more_than_it_sends(self):
        self.control.queue("prepare", 200, bodySize=1000, cutAfterBytes=300)
        status, headers, data = request(self.center.base_url + "/api/installer-downloads/prepare", "POST", b"{}")
        self.assertEqual((status, headers["Content-Length"], len(data)), (200, "1000", 300))

    def test_invalid_queue_requests_are_refused(self):
        with self.assertRaises(ControlError):
            self.control.queue("download", 200)
        with self.assertRaises(ControlError):
            self.control.queue("start", 200, bodySize=5)
        with self.assertRaises(ControlError):
            self.control.queue("start", 200, bodyText="x", bodySize=500)


class FaultsAndResetTest(CenterTestCase):
    center_options = {"faults": {"deviceLimit": 3}}

    def test_faults_merge_and_reset_returns_to_start_up_values(self):
        faults = self.control.set_faults(refusePrepare=True, node={"cutAfterBytes": 10})
        self.assertEqual((faults["deviceLimit"], faults["refusePrepare"], faults["node"]["cutAfterBytes"]),
                         (3, True, 10))
        faults = self.control.set_faults(node={"throttleBytesPerSecond": 100})
        self.assertEqual(faults["node"]["cutAfterBytes"], 10)
        self.start("d", "S1")
        self.control.reset()
        faults = self.control.faults()
        self.assertEqual((faults["deviceLimit"], faults["refusePrepare"], faults["node"]["cutAfterBytes"]),
                         (3, False, None))
        counters = self.control.counters()
        self.assertEqual((counters["downloads"], counters["sessions"]), ({}, []))
        self.assertEqual(self.control.log(), [])

    def test_invalid_faults_change_nothing(self):
        for bad in ({"deviceLimit": -1}, {"unknown": 1}, {"node": {"status": 42}}, {"node": {"times": 0}},
                    {"refusePrepare": "yes"}):
            with self.assertRaises(ControlError):
                self.control.set_faults(**bad)
        self.assertEqual(self.control.faults()["deviceLimit"], 3)

    def test_package_changes_are_undone_by_reset(self):
        original = self.control.packages()["Server"]["packageId"]
        self.control.set_package("Server", packageId='srv"2.9', fileName="OrivantaSetup-Server-2.9.0.exe")
        self.assertEqual(self.prepare("d")[1]["packageId"], 'srv"2.9')
        self.control.reset()
        self.assertEqual(self.prepare("d")[1]["packageId"], original)


class LogTest(CenterTestCase):
    def test_log_records_requests_and_filters_them(self):
        self.prepare("device-log")
        _, answer = self.start("device-log", "S1")
        request(answer["downloadUrl"], headers={"Range": "bytes=10-"})
        self.control.counters()

        entries = self.control.log()
        self.assertEqual([(entry["kind"], entry["operation"]) for entry in entries],
                         [("api", "prepare"), ("api", "start"), ("node", None)])
        prepare = entries[0]
        self.assertEqual((prepare["method"], prepare["path"], prepare["status"]),
                         ("POST", "/support-center/api/installer-downloads/prepare", 200))
        self.assertEqual(json.loads(prepare["body"]), {"deviceId": "device-log", "packageType": "Server"})
        self.assertEqual(prepare["headers"]["Content-Type"], "application/json")
        node = entries[2]
        self.assertEqual((node["status"], node["headers"]["Range"], node["bytesSent"]), (206, "bytes=10-",
                                                                                           200_000 - 10))
        self.assertEqual([entry["operation"] for entry in self.control.log(kind="api", since=entries[0]["seq"])],
                         ["start"])
        self.assertEqual(self.control.log(last=1), [node])
        self.assertEqual(self.control.log(operation="prepare"), [prepare])


class LifecycleTest(CenterTestCase):
    def test_stop_ends_kept_alive_and_throttled_connections(self):
        with DevCenter(generated_size=100_000, cache_dir=self.folder) as center:
            idle = http.client.HTTPConnection("127.0.0.1", center.port, timeout=10)
            idle.request("GET", "/__control/")
            idle.getresponse().read()
            _, _, data = request(center.base_url + "/api/installer-downloads/start", "POST", json.dumps(
                {"deviceId": "d", "packageType": "Server", "sessionId": "S", "resumeOffset": 0}).encode("utf-8"))
            answer = json.loads(data)
            center.control.set_faults(node={"throttleBytesPerSecond": 1000})
            slow = threading.Thread(target=request, args=(answer["downloadUrl"],))
            slow.start()
            time.sleep(0.3)
            began = time.monotonic()
        self.assertLess(time.monotonic() - began, 5)
        slow.join(5)
        self.assertFalse(slow.is_alive())
        idle.close()

