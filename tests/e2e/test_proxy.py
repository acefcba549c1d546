"""The user's proxy settings under Wine: prepare, start and the node download go
through the named proxy, its bypass list is honoured, an auto-configuration
script is asked per URL (and a script that cannot be had means direct), and a
proxy that settings name (the user's or the machine-wide one) and that demands
a log-on is answered once with the logged-on user's credentials; one that a
script names is not answered.

The runs use a copy of the test prefix, so the shared prefix never names a
proxy. The proxy (the development center's, on 127.0.0.2) forwards to loopback
addresses only."""
import os
import shutil
import struct
import tempfile
import unittest
import urllib.parse

from window_common import data_root, skip_without_tools, start_center, window_driver, winetest

import wine_prefix

PACKAGE_SIZE = 1 << 20
REFUSED = "代理服务器拒绝访问（状态 407），请联系网络管理员确认本机账户可以使用代理。"
MACHINE_CONNECTIONS_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"


def passed(center, since=0):
    """(method, last path segment, status) of each request through the proxy."""
    return [(entry["method"], urllib.parse.urlsplit(entry["url"]).path.rsplit("/", 1)[-1], entry["status"])
            for entry in center.control.proxy_log()[since:]]


class ProxiedRuns(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.shared_prefix = winetest.prefix()
        cls.folder = tempfile.mkdtemp(prefix="proxy-prefix-", dir=winetest.BUILD_DIR)
        prefix = os.path.join(cls.folder, "prefix")
        if not winetest.clone_prefix(prefix):
            shutil.rmtree(cls.folder, ignore_errors=True)
            raise unittest.SkipTest("the test prefix does not exist yet")
        # The copy gets a desktop of its own.
        for name in ("desktop-display.json", "desktop-held"):
            if os.path.exists(os.path.join(prefix, name)):
                os.remove(os.path.join(prefix, name))
        os.environ["WINEPREFIX"] = prefix
        wine_prefix.setup()

    @classmethod
    def tearDownClass(cls):
        wine_prefix.cleanup()
        os.environ["WINEPREFIX"] = cls.shared_prefix
        shutil.rmtree(cls.folder, ignore_errors=True)

    def center_behind_proxy(self, bypass="", script=None):
        """A center with its proxy, named in the user's settings (or found through script(proxy))."""
        center = start_center(self, demo_size=PACKAGE_SIZE, proxy="127.0.0.2:0")
        if script:
            winetest.set_user_proxy(winetest.wine_env(), script=script(center.proxy))
        else:
            winetest.set_user_proxy(winetest.wine_env(), center.proxy.address, bypass)
        return center

    def run_client(self, center, server_url=None):
        """Exit code and report of one automatic run of the client edition."""
        arguments = ["--diagnostic-autostart=client", "--server-url=" + (server_url or center.base_url),
                     "--diagnostic-data-root=" + winetest.windows_path(data_root(self))]
        with window_driver.ProgramRun(arguments) as run:
            code = run.wait_exit(120)
            return code, window_driver.report_fields(run.new_report())

    def test_prepare_start_and_the_download_pass_through_the_proxy(self):
        center = self.center_behind_proxy()
        code, report = self.run_client(center)
        self.assertEqual(code, 0, report)
        through = passed(center)
        self.assertEqual(through[:2], [("POST", "prepare", 200), ("POST", "start", 200)])
        self.assertEqual([(method, status) for method, _, status in through[2:]], [("GET", 200)])
        self.assertEqual(center.control.log(kind="node")[0]["bytesSent"], PACKAGE_SIZE)
        self.assertEqual(len(center.control.log()), 3, "nothing reached the center around the proxy")

    def test_bypass_list_sends_the_center_calls_directly(self):
        center = self.center_behind_proxy(bypass="localhost")
        code, report = self.run_client(center, center.base_url.replace("127.0.0.1", "localhost"))
        self.assertEqual(code, 0, report)
        self.assertEqual([(method, status) for method, _, status in passed(center)], [("GET", 200)],
                         "center log: %r; report: %r" % (center.control.log(), report))
        self.assertEqual(len(center.control.log(kind="api")), 2)

    def test_auto_configuration_script_is_asked_per_url(self):
        center = self.center_behind_proxy(script=lambda proxy: "http://%s/proxy.pac" % proxy.address)
        code, report = self.run_client(center, center.base_url.replace("127.0.0.1", "localhost"))
        self.assertEqual(code, 0, report)
        # The script sends localhost (the center) direct and 127.0.0.1 (the node) through the proxy.
        through = passed(center)
        self.assertIn(("GET", "proxy.pac", 200), through)
        self.assertEqual([(method, status) for method, name, status in through if name != "proxy.pac"], [("GET", 200)])
        self.assertEqual(len(center.control.log(kind="node")), 1)

        # A script that cannot be fetched: no proxy is named, so everything goes direct.
        closed = "http://127.0.0.2:1/proxy.pac"
        center = self.center_behind_proxy(script=lambda proxy: closed)
        code, report = self.run_client(center)
        self.assertEqual(code, 0, report)
        self.assertEqual(passed(center), [])
        self.assertEqual(len(center.control.log()), 3)

    def set_machine_proxy(self, address):
        """The machine-wide WinHTTP proxy (netsh winhttp set proxy), or none, in the
        registry view of the program: a 32-bit program's is the one SysWOW64's netsh sets."""
        env = winetest.wine_env()
        view = winetest.registry_view()
        if address:
            value = struct.pack("<III", 0x18, 0, 2) + struct.pack("<I", len(address)) + address.encode("ascii")
            winetest.run_quiet(winetest.wine_command("reg", "add", MACHINE_CONNECTIONS_KEY, "/v", "WinHttpSettings",
                                                     "/t", "REG_BINARY", "/d", (value + bytes(4)).hex(), "/f", view),
                               env, timeout=120)
        else:
            winetest.run_quiet(winetest.wine_command("reg", "delete", MACHINE_CONNECTIONS_KEY, "/v", "WinHttpSettings",
                                                     "/f", view), env, timeout=120)

    def test_log_on_demand_is_answered_only_for_a_proxy_that_settings_name(self):
        pac = lambda proxy: "http://%s/proxy.pac" % proxy.address  # noqa: E731
        cases = (  # (named by, 407 answers, exit code, the requests through the proxy)
            ("user", 1, 0, [("POST", "prepare", 407), ("POST", "prepare", 200)]),
            ("user", -1, 4, [("POST", "prepare", 407)] * 2),
            # Whoever answers auto-detection names the script: no credentials, no second request.
            ("script", -1, 4, [("POST", "prepare", 407)]),
            ("machine", 1, 0, [("POST", "prepare", 407), ("POST", "prepare", 200)]),
        )
        for named_by, demands, exit_code, expected in cases:
            with self.subTest(named_by=named_by, demands=demands):
                if named_by == "machine":
                    center = start_center(self, demo_size=PACKAGE_SIZE, proxy="127.0.0.2:0")
                    winetest.set_user_proxy(winetest.wine_env())
                    self.set_machine_proxy(center.proxy.address)
                    self.addCleanup(self.set_machine_proxy, None)
                else:
                    center = self.center_behind_proxy(script=pac if named_by == "script" else None)
                center.control.demand_proxy_logon(demands)
                code, report = self.run_client(center)
                self.assertEqual(code, exit_code, report)
                through = [entry for entry in passed(center) if entry[1] != "proxy.pac"]
                self.assertEqual(through[:len(expected)], expected)
                if exit_code:
                    self.assertEqual(report["异常链"], REFUSED)
                    self.assertEqual(len(through), len(expected), "no more requests after the refusal")
                if named_by == "script":
                    self.assertEqual({(entry["proxyAuthorization"], entry["authorization"])
                                      for entry in center.control.proxy_log()}, {("", "")},
                                     "the script's fetch and the request carry no credentials")

if __name__ == "__main__":
    skip_without_tools()
    unittest.main()
