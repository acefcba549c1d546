import time
import urllib.parse

from devcenter.tests.support import SERVER_SIZE, CenterTestCase, request


class NodeTest(CenterTestCase):
    def download_url(self, device="device-n", session="S1"):
        status, answer = self.start(device, session)
        self.assertEqual(status, 200)
        return answer["downloadUrl"]

    def test_whole_object_and_open_ended_ranges(self):
        url = self.download_url()
        expected = self.package_bytes()
        status, headers, data = request(url)
        self.assertEqual((status, data), (200, expected))
        self.assertEqual(headers["Content-Length"], str(SERVER_SIZE))

        status, headers, data = request(url, headers={"Range": "bytes=150000-"})
        self.assertEqual((status, data), (206, expected[150000:]))
        self.assertEqual(headers["Content-Range"], "bytes 150000-199999/200000")

        status, headers, _ = request(url, headers={"Range": "bytes=%d-" % SERVER_SIZE})
        self.assertEqual(status, 416)
        self.assertEqual(headers["Content-Range"], "bytes */200000")

    def test_urls_are_refused_without_a_valid_signature_or_after_expiry(self):
        url = self.download_url()
        parts = urllib.parse.urlsplit(url)
        query = urllib.parse.parse_qs(parts.query)
        forged = url.replace(query["Signature"][0], "0" * 64)
        self.assertEqual(request(forged)[0], 403)
        self.assertEqual(request(url.split("?")[0])[0], 403)
        other_path = url.replace("/OrivantaSetup-Server", "/Other")
        self.assertEqual(request(other_path)[0], 403)

        self.control.set_faults(urlLifetimeSeconds=-1)
        status, _, body = request(self.download_url(session="S2"))
        self.assertEqual(status, 403)
        self.assertIn(b"RequestExpired", body)

    def test_ignore_range_sends_the_whole_object(self):
        url = self.download_url()
        self.control.set_faults(node={"ignoreRange": True})
        status, headers, data = request(url, headers={"Range": "bytes=1000-"})
        self.assertEqual((status, len(data)), (200, SERVER_SIZE))
        self.assertNotIn("Content-Range", headers)

    def test_cut_connection_is_logged_and_counts_as_served(self):
        url = self.download_url()
        self.control.set_faults(node={"cutAfterBytes": 70000, "times": 1})
        status, _, data = request(url)
        self.assertEqual((status, data), (200, self.package_bytes()[:70000]))
        entry, = self.control.log(kind="node")
        self.assertEqual((entry["status"], entry["bytesSent"], entry["aborted"]), (200, 70000, True))
        self.assertEqual(self.control.counters()["sessions"][0]["servedEnd"], 70000)
        self.assertEqual(len(request(url)[2]), SERVER_SIZE)

    def test_corrupt_offset_flips_one_byte(self):
        url = self.download_url()
        self.control.set_faults(node={"corruptOffset": 123456})
        _, _, data = request(url, headers={"Range": "bytes=100000-"})
        expected = self.package_bytes()[100000:]
        differing = [index for index in range(len(data)) if data[index] != expected[index]]
        self.assertEqual(differing, [23456])
        self.assertEqual(data[23456], expected[23456] ^ 0xFF)

    def test_fixed_status_lasts_for_the_given_number_of_downloads(self):
        url = self.download_url()
        self.control.set_faults(node={"status": 503, "times": 2})
        self.assertEqual([request(url)[0] for _ in range(3)], [503, 503, 200])
        self.assertIsNone(self.control.faults()["node"]["status"])

    def test_throttle_limits_the_rate(self):
        url = self.download_url()
        self.control.set_faults(node={"throttleBytesPerSecond": 40000})
        began = time.monotonic()
        _, _, data = request(url, headers={"Range": "bytes=%d-" % (SERVER_SIZE - 20000)})
        elapsed = time.monotonic() - began
        self.assertEqual(len(data), 20000)
        self.assertGreaterEqual(elapsed, 0.4)

    def test_extra_bytes_follow_the_package_within_the_announced_length(self):
        url = self.download_url()
        self.control.set_faults(node={"extraBytes": 3000})
        status, headers, data = request(url, headers={"Range": "bytes=150000-"})
        self.assertEqual((status, headers["Content-Length"]), (206, str(SERVER_SIZE - 150000 + 3000)))
        self.assertEqual(data, self.package_bytes()[150000:] + b"\x5a" * 3000)
        self.assertEqual(self.control.counters()["sessions"][0]["servedEnd"], SERVER_SIZE)

    def test_range_shift_starts_the_answer_elsewhere_and_names_that_start(self):
        url = self.download_url()
        self.control.set_faults(node={"rangeShift": -1000})
        status, headers, data = request(url, headers={"Range": "bytes=150000-"})
        self.assertEqual((status, headers["Content-Range"]), (206, "bytes 149000-199999/200000"))
        self.assertEqual(data, self.package_bytes()[149000:])
        status, headers, _ = request(url)
        self.assertEqual((status, headers.get("Content-Range")), (200, None), "a whole object is never shifted")
        with self.assertRaises(Exception):
            self.control.set_faults(node={"extraBytes": -1})

    def test_sequence_gives_each_download_its_own_faults_before_the_standing_ones(self):
        url = self.download_url()
        self.control.set_faults(node={"status": 500}, nodeSequence=[
            {"cutAfterBytes": 1000}, {"status": 503, "retryAfter": "2"}, {"stallAfterBytes": 3000}])
        self.assertEqual(request(url)[2], self.package_bytes()[:1000])
        status, headers, _ = request(url)
        self.assertEqual((status, headers.get("Retry-After")), (503, "2"))
        began = time.monotonic()
        with self.assertRaises(OSError):  # silent after 3000 bytes until the client gives up
            request(url, timeout=1)
        self.assertLess(time.monotonic() - began, 10)
        wait = time.monotonic() + 5
        while self.control.log(kind="node")[-1]["status"] is None and time.monotonic() < wait:
            time.sleep(0.05)
        entry = self.control.log(kind="node")[-1]
        self.assertEqual((entry["bytesSent"], entry["aborted"]), (3000, True), "the center noticed the client leave")
        self.assertEqual(request(url)[0], 500)
        with self.assertRaises(Exception):
            self.control.set_faults(nodeSequence=[{"times": 1}])

    def test_expired_url_stays_refused_and_a_fresh_one_works(self):
        url = self.download_url()
        self.control.set_faults(nodeSequence=[{"expireUrl": True}])
        for _ in range(2):
            status, _, body = request(url)
            self.assertEqual(status, 403)
            self.assertIn(b"RequestExpired", body)
        self.assertEqual(request(self.download_url(session="S2"))[0], 200)
