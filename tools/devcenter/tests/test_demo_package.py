import hashlib
import os
import shutil
import struct
import subprocess
import tempfile
import unittest

from devcenter import make_demo_package as demo

SIZE = 300_000


def _wine_prefix_ready():
    prefix = os.environ.get("WINEPREFIX")
    return bool(prefix) and os.path.isfile(os.path.join(prefix, "system.reg")) and shutil.which("wine")


@unittest.skipUnless(shutil.which(demo.COMPILER), demo.COMPILER + " is not installed")
class DemoPackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="devcenter-demo-")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def build(self, name, size=SIZE, label="demo"):
        return demo.build_demo_package(size, os.path.join(self.folder, name), label, cache_dir=self.folder)

    def test_package_is_a_gui_program_padded_to_the_size(self):
        path = self.build("Setup.exe")
        with open(path, "rb") as stream:
            data = stream.read()
        self.assertEqual(len(data), SIZE)
        self.assertEqual(data[:2], b"MZ")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        self.assertEqual(data[pe:pe + 4], b"PE\0\0")
        subsystem = struct.unpack_from("<H", data, pe + 24 + 68)[0]
        self.assertEqual(subsystem, 2)  # IMAGE_SUBSYSTEM_WINDOWS_GUI

    @unittest.skipUnless(shutil.which("osslsigncode"), "osslsigncode is not installed")
    def test_publishers_under_the_development_root_verify_and_others_do_not(self):
        root = os.path.join(demo.SIGNING_DIR, "root.crt")
        for kind in demo.SIGNATURES:
            with self.subTest(kind=kind):
                path = demo.build_demo_package(SIZE, os.path.join(self.folder, kind + ".exe"), "Server",
                                               cache_dir=self.folder, signature=kind)
                self.assertEqual(os.path.getsize(path), SIZE)
                verified = subprocess.run(["osslsigncode", "verify", "-CAfile", root, "-in", path],
                                          stdin=subprocess.DEVNULL, capture_output=True, check=False)
                # Bytes hidden in the certificate table lie outside the signed digest: it still verifies.
                self.assertEqual(verified.returncode == 0, kind in ("publisher", "second-publisher", "padded"),
                                 verified.stdout[-300:])

    def test_labels_vary_the_digest_and_the_same_label_repeats_it(self):
        def digest(path):
            with open(path, "rb") as stream:
                return hashlib.sha256(stream.read()).hexdigest()
        server = digest(self.build("a.exe", label="Server"))
        self.assertEqual(server, digest(self.build("b.exe", label="Server")))
        self.assertNotEqual(server, digest(self.build("c.exe", label="ClientOnly")))

    def test_size_below_the_program_is_refused(self):
        with self.assertRaises(demo.DemoBuildError):
            self.build("tiny.exe", size=100)
        self.assertFalse(os.path.exists(os.path.join(self.folder, "tiny.exe")))

    @unittest.skipUnless(os.name == "nt" or _wine_prefix_ready(), "needs Windows or a Wine prefix")
    def test_launched_package_leaves_its_proof_and_exits_zero(self):
        path = self.build("Launch Me.exe")
        command = [path] if os.name == "nt" else ["wine", path]
        beside = sorted(name for name in os.listdir(self.folder) if name != "Launch Me.exe")
        result = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, timeout=120, check=False, cwd=self.folder)
        self.assertEqual(result.returncode, 0)
        with open(path + ".launched.txt", "rb") as stream:
            proof = stream.read().decode("utf-8")
        lines = proof.split("\r\n")
        self.assertRegex(lines[0], r"^launchedAtUtc=\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$")
        self.assertRegex(lines[1], r"^processId=\d+$")
        current = self.folder if os.name == "nt" else "Z:" + self.folder.replace("/", "\\")
        self.assertEqual(lines[2], "currentFolder=" + current)
        self.assertEqual(sorted(lines[3].split("=", 1)[1].split("|")), beside)
