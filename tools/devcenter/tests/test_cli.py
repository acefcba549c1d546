import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from devcenter import devcenter as cli
from devcenter.tests.support import request

SCRIPT = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "devcenter.py")


class CommandLineTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="devcenter-cli-")
        self.addCleanup(shutil.rmtree, self.folder, True)

    def test_options_become_the_start_up_faults(self):
        arguments = cli.parse_arguments(["--device-limit", "2", "--refuse-prepare", "--rejection-reason", "",
                                         "--node-cut-after", "100", "--node-status", "503",
                                         "--faults", '{"urlLifetimeSeconds": 5, "node": {"times": 1}}'])
        self.assertEqual(cli.faults_from(arguments),
                         {"deviceLimit": 2, "refusePrepare": True, "rejectionReason": "", "urlLifetimeSeconds": 5,
                          "node": {"cutAfterBytes": 100, "status": 503, "times": 1}})

    def test_runs_as_a_script_and_prints_its_base_url_first(self):
        package = os.path.join(self.folder, "server.bin")
        with open(package, "wb") as stream:
            stream.write(b"MZ" + bytes(998))
        process = subprocess.Popen(
            [sys.executable, SCRIPT, "--port", "0", "--package", "server=" + package, "--file-name",
             "server=Custom.exe", "--generated-size", "4096", "--cache-dir", self.folder],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, start_new_session=True)
        try:
            base_url = process.stdout.readline().decode("utf-8").strip()
            self.assertRegex(base_url, r"^http://127\.0\.0\.1:\d+/support-center$")
            status, _, data = request(base_url + "/api/installer-downloads/prepare", "POST",
                                      b'{"deviceId":"d","packageType":"Server"}')
            answer = json.loads(data)
            self.assertEqual((status, answer["sizeBytes"], answer["fileName"]), (200, 1000, "Custom.exe"))
            _, _, data = request(base_url + "/api/installer-downloads/prepare", "POST",
                                 b'{"deviceId":"d","packageType":"ClientOnly"}')
            self.assertEqual(json.loads(data)["sizeBytes"], 4096)
        finally:
            process.terminate()
            self.assertEqual(process.wait(10), 0)
            process.stdout.close()

    def test_unreadable_package_is_reported(self):
        result = subprocess.run([sys.executable, SCRIPT, "--package", "server=" + os.path.join(self.folder, "no")],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                timeout=60, check=False)
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"devcenter:", result.stderr)
