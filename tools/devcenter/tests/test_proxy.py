import http.client
import json

from devcenter.proxy import ForwardProxy
from devcenter.tests.support import CenterTestCase


class ProxyTest(CenterTestCase):
    center_options = {"proxy": "127.0.0.2:0"}

    def through_proxy(self, method, url, body=None):
        """(status, headers, body) of one request sent to the proxy with an absolute URL."""
        connection = http.client.HTTPConnection(self.center.proxy.host, self.center.proxy.port, timeout=30)
        try:
            connection.request(method, url, body=body, headers={"Content-Type": "application/json"})
            response = connection.getresponse()
            return response.status, response.msg, response.read()
        finally:
            connection.close()

    def test_forwards_and_logs_center_calls_and_downloads(self):
        status, _, data = self.through_proxy(
            "POST", self.center.base_url + "/api/installer-downloads/start",
            json.dumps({"deviceId": "p", "packageType": "Server", "sessionId": "S", "resumeOffset": 0}))
        self.assertEqual(status, 200)
        url = json.loads(data)["downloadUrl"]
        status, headers, data = self.through_proxy("GET", url)
        self.assertEqual((status, data), (200, self.package_bytes()))
        self.assertEqual(headers["Content-Length"], str(len(data)))
        self.assertEqual([(entry["method"], entry["url"], entry["status"]) for entry in self.control.proxy_log()],
                         [("POST", self.center.base_url + "/api/installer-downloads/start", 200), ("GET", url, 200)])
        self.assertEqual(self.control.log(kind="node")[0]["bytesSent"], len(data))

    def test_logon_demand_counts_down_and_reset_clears_it(self):
        url = self.center.base_url + "/api/installer-downloads/prepare"
        self.control.demand_proxy_logon(2)
        statuses = [self.through_proxy("POST", url, b"{}")[:2] for _ in range(3)]
        self.assertEqual([status for status, _ in statuses], [407, 407, 400])
        self.assertEqual(statuses[0][1].get_all("Proxy-Authenticate"), ["Negotiate", "NTLM"])
        self.control.demand_proxy_logon(-1)
        self.control.reset()
        self.assertEqual(self.through_proxy("POST", url, b"{}")[0], 400)
        self.assertEqual(len(self.control.proxy_log()), 1)

    def test_targets_off_the_loopback_network_are_refused_without_a_lookup(self):
        for url in ("http://192.0.2.1/x", "http://center.invalid/x", "https://127.0.0.1/x"):
            self.assertEqual(self.through_proxy("GET", url)[0], 403, url)
        with self.assertRaises(ValueError):
            ForwardProxy("192.0.2.1")

    def test_serves_its_own_auto_configuration_script(self):
        connection = http.client.HTTPConnection(self.center.proxy.host, self.center.proxy.port, timeout=30)
        try:
            connection.request("GET", "/proxy.pac")
            response = connection.getresponse()
            script = response.read().decode("ascii")
        finally:
            connection.close()
        self.assertEqual(response.status, 200)
        self.assertIn('"PROXY %s"' % self.center.proxy.address, script)
        self.assertIn('host == "localhost" ? "DIRECT"', script)
