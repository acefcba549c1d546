import json

from devcenter.tests.support import SERVER_SIZE, CenterTestCase, request


class PrepareTest(CenterTestCase):
    def test_names_the_current_package_of_each_edition(self):
        for package_type in ("Server", "ClientOnly"):
            status, answer = self.prepare("device-a", package_type)
            package = self.control.packages()[package_type]
            self.assertEqual(status, 200)
            self.assertTrue(answer["isAllowed"])
            self.assertEqual(answer["rejectionReason"], "")
            for key in ("packageId", "versionName", "fileName", "sha256", "sizeBytes"):
                self.assertEqual(answer[key], package[key])
        self.assertEqual(self.control.packages()["Server"]["fileName"], "OrivantaSetup-Server-2.8.0.exe")

    def test_answers_under_any_base_path(self):
        status, _, data = request(self.center.origin + "/other/base/api/installer-downloads/prepare", "POST",
                                  b'{"deviceId":"d","packageType":"ClientOnly"}')
        self.assertEqual(status, 200)
        self.assertEqual(json.loads(data)["sizeBytes"], self.control.packages()["ClientOnly"]["sizeBytes"])

    def test_malformed_requests_are_refused(self):
        self.assertEqual(self.call("prepare", None, raw=b'{"deviceId":"d",')[0], 400)
        self.assertEqual(self.call("prepare", ["d", "Server"])[0], 400)
        self.assertEqual(self.call("prepare", {"packageType": "Server"})[1]["errorCode"], "INVALID_REQUEST")
        status, answer = self.prepare("d", "Workstation")
        self.assertEqual((status, answer["errorCode"]), (400, "PACKAGE_TYPE_INVALID"))
        status, _, _ = request(self.center.base_url + "/api/installer-downloads/prepare")
        self.assertEqual(status, 405)

    def test_refusal_carries_the_configured_reason(self):
        self.control.set_faults(refusePrepare=True, rejectionReason="")
        status, answer = self.prepare("device-b")
        self.assertEqual(status, 200)
        self.assertFalse(answer["isAllowed"])
        self.assertEqual(answer["rejectionReason"], "")
        self.control.set_faults(rejectionReason="请稍后再试")
        self.assertEqual(self.prepare("device-b")[1]["rejectionReason"], "请稍后再试")


class DeviceLimitTest(CenterTestCase):
    def test_limit_refuses_new_downloads_but_not_resumes(self):
        self.control.set_faults(deviceLimit=1)
        self.assertTrue(self.prepare("device-l")[1]["isAllowed"])
        status, answer = self.start("device-l", "S1")
        self.assertEqual((status, answer["counted"]), (200, True))
        request(answer["downloadUrl"])

        status, answer = self.prepare("device-l")
        self.assertFalse(answer["isAllowed"])
        self.assertNotEqual(answer["rejectionReason"], "")
        status, answer = self.start("device-l", "S2")
        self.assertEqual((status, answer["errorCode"]), (403, "DEVICE_DOWNLOAD_LIMIT_REACHED"))
        self.assertNotIn("400-100-200", answer["message"])

        status, answer = self.start("device-l", "S1", offset=1000)
        self.assertEqual((status, answer["counted"]), (200, False))
        self.assertEqual(self.control.counters("device-l")["downloads"], 1)
        self.assertEqual(self.start("device-other", "S1")[0], 200)

    def test_restart_of_a_known_session_at_zero_counts_again(self):
        self.start("device-r", "S1")
        self.start("device-r", "S1")
        self.assertEqual(self.control.counters("device-r")["downloads"], 2)


class StartTest(CenterTestCase):
    def test_new_session_gets_metadata_and_a_signed_url(self):
        status, answer = self.start("device-s", "S1", package_type="ClientOnly")
        self.assertEqual(status, 200)
        self.assertEqual(answer["sha256"], self.control.packages()["ClientOnly"]["sha256"])
        self.assertTrue(answer["downloadUrl"].startswith(self.center.origin + "/oss/"))
        self.assertIn("Signature=", answer["downloadUrl"])
        session, = self.control.counters()["sessions"]
        self.assertEqual((session["deviceId"], session["sessionId"], session["starts"]), ("device-s", "S1", 1))

    def assertOffsetInvalid(self, answer):
        status, body = answer
        self.assertEqual((status, body["errorCode"]), (409, "DOWNLOAD_OFFSET_INVALID"))
        self.assertTrue(body["message"])

    def test_resume_offsets_must_match_what_the_center_knows(self):
        self.assertOffsetInvalid(self.start("device-o", "unknown", offset=1))
        _, answer = self.start("device-o", "S1")
        self.control.set_faults(node={"cutAfterBytes": 5000, "times": 1})
        request(answer["downloadUrl"])
        self.assertOffsetInvalid(self.start("device-o", "S1", offset=5001))
        self.assertOffsetInvalid(self.start("device-o", "S1", offset=-1))
        self.assertEqual(self.start("device-o", "S1", offset=5000)[0], 200)
        self.assertOffsetInvalid(self.start("device-o", "S1", offset=5000, package_type="ClientOnly"))
        self.assertEqual(self.control.counters("device-o")["downloads"], 1)

    def test_offset_past_the_package_size_is_invalid(self):
        self.control.seed_session("device-p", "S1", "Server")
        self.assertEqual(self.start("device-p", "S1", offset=SERVER_SIZE)[0], 200)
        self.assertOffsetInvalid(self.start("device-p", "S1", offset=SERVER_SIZE + 1))

    def test_a_newer_package_invalidates_older_sessions(self):
        self.control.seed_session("device-n", "S1", "Server")
        self.control.set_package("Server", packageId="server-2.8.1", versionName="2.8.1")
        self.assertOffsetInvalid(self.start("device-n", "S1", offset=10))
        status, answer = self.start("device-n", "S1")
        self.assertEqual((status, answer["packageId"], answer["versionName"]), (200, "server-2.8.1", "2.8.1"))

    def test_offset_must_be_a_number(self):
        status, answer = self.call("start", {"deviceId": "d", "packageType": "Server", "sessionId": "S",
                                             "resumeOffset": "0"})
        self.assertEqual((status, answer["errorCode"]), (400, "INVALID_REQUEST"))
        self.assertEqual(self.call("start", {"deviceId": "d", "packageType": "Server", "sessionId": "S",
                                             "resumeOffset": True})[0], 400)


class ReuseTest(CenterTestCase):
    def test_current_package_is_recorded_and_older_ones_are_not_current(self):
        package_id = self.control.packages()["Server"]["packageId"]
        status, answer = self.call("reuse", {"deviceId": "d", "packageType": "Server", "packageId": package_id})
        self.assertEqual((status, answer["recorded"]), (200, True))
        status, answer = self.call("reuse", {"deviceId": "d", "packageType": "Server", "packageId": "old"})
        self.assertEqual((status, answer["errorCode"]), (409, "INSTALLER_PACKAGE_NO_LONGER_CURRENT"))
        counters = self.control.counters("d")
        self.assertEqual((counters["reuses"], counters["downloads"]), (1, 0))
