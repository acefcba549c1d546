"""A development center per test class, with plain generated packages, and small HTTP helpers."""
import http.client
import json
import shutil
import tempfile
import unittest
import urllib.parse

from devcenter import DevCenter

SERVER_SIZE = 200_000
CLIENT_SIZE = 150_000


def request(url, method="GET", body=None, headers=None, timeout=30):
    """(status, headers, body bytes) of one request; a cut body comes back as far as it arrived."""
    parts = urllib.parse.urlsplit(url)
    connection = http.client.HTTPConnection(parts.hostname, parts.port, timeout=timeout)
    try:
        target = parts.path + ("?" + parts.query if parts.query else "")
        connection.request(method, target, body=body, headers=headers or {})
        response = connection.getresponse()
        try:
            data = response.read()
        except http.client.IncompleteRead as incomplete:
            data = incomplete.partial
        return response.status, dict(response.getheaders()), data
    finally:
        connection.close()


class CenterTestCase(unittest.TestCase):
    center_options = {}

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="devcenter-test-")
        from devcenter.catalog import generated_package
        packages = {"server": generated_package("server", cls.folder, SERVER_SIZE),
                    "client": generated_package("client", cls.folder, CLIENT_SIZE)}
        cls.center = DevCenter(packages, cache_dir=cls.folder, **cls.center_options).start()
        cls.control = cls.center.control

    @classmethod
    def tearDownClass(cls):
        cls.center.stop()
        shutil.rmtree(cls.folder, ignore_errors=True)

    def setUp(self):
        self.control.reset()

    def call(self, operation, payload, raw=None):
        """(status, answer object) of one center operation."""
        body = raw if raw is not None else json.dumps(payload).encode("utf-8")
        status, _, data = request(self.center.base_url + "/api/installer-downloads/" + operation, "POST", body,
                                  {"Content-Type": "application/json"})
        return status, json.loads(data.decode("utf-8"))

    def prepare(self, device, package_type="Server"):
        return self.call("prepare", {"deviceId": device, "packageType": package_type})

    def start(self, device, session, offset=0, package_type="Server"):
        return self.call("start", {"deviceId": device, "packageType": package_type, "sessionId": session,
                                   "resumeOffset": offset})

    def package_bytes(self, package_type="Server"):
        with open(self.control.packages()[package_type]["path"], "rb") as stream:
            return stream.read()
