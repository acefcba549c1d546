"""Only an installer signed by the pinned development publisher starts. The build
pins the development publisher's key, the test prefix trusts the development
root, and the center serves the client edition signed each way in turn: each
refused package starts nothing, ends the automatic run with exit code 4 and
gives the signature as the reason. Wine accepts a root that no store holds, so
the foreign root is refused by the pin alone; and Wine, like Windows without its
registry opt-in, accepts bytes hidden in the certificate table, which the
program's own check of the table refuses."""
import unittest

from window_common import data_root, skip_without_tools, start_center, window_driver, winetest

import launch_proof

PACKAGE_SIZE = 512 * 1024
HOTLINE = "，已停止安装。请联系客服 400-100-200。"
# Signature kind: the start of the reason and of the report's signature line.
REFUSED = {
    "unsigned": ("安装包没有数字签名" + HOTLINE, "未通过，安装包没有数字签名（WinVerifyTrust 0x800B0100）"),
    "tampered": ("安装包的数字签名未通过校验", "未通过，数字签名无效（WinVerifyTrust 0x"),
    "second-publisher": ("安装包的数字签名不属于欧瑞凡达（签名者：Orivanta Second Development Publisher）" + HOTLINE,
                         "未通过，签名者不是受信任的发布者（WinVerifyTrust 0x00000000，签名者：CN=Orivanta Second"),
    "foreign-root": ("安装包的数字签名不属于欧瑞凡达（签名者：Foreign Development Publisher）" + HOTLINE,
                     "未通过，签名者不是受信任的发布者（WinVerifyTrust 0x00000000，签名者：CN=Foreign"),
    "padded": ("安装包的签名区夹带了签名以外的数据（签名者：Orivanta Development Publisher）" + HOTLINE,
               "未通过，证书表含有签名以外的数据（签名之后还有数据，WinVerifyTrust 0x00000000，签名者：CN=Orivanta Development"),
}
DEVELOPMENT_KEY = "5f9cf4f8dc416304e9ad623b9408dbb6afc91957cb20fe3bcb80bece4c3125cf"


class SignedInstallers(unittest.TestCase):
    def run_client(self, center):
        """Exit code, report fields and launch proofs of one automatic run of the client edition."""
        root = data_root(self)
        arguments = ["--diagnostic-autostart=client", "--diagnostic-lan=none", "--server-url=" + center.base_url,
                     "--diagnostic-data-root=" + winetest.windows_path(root)]
        before = launch_proof.launch_folders()
        with window_driver.ProgramRun(arguments) as run:
            code = run.wait_exit(120)
            report = run.new_report()
            if code == 0:
                window_driver.wait_until(lambda: launch_proof.proofs(before), 30, what="the installer's launch proof")
            return code, report, launch_proof.proofs(before)

    def test_only_the_pinned_publishers_installer_starts(self):
        center = start_center(self, demo_size=PACKAGE_SIZE)
        code, report, proofs = self.run_client(center)
        self.assertEqual(code, 0, report)
        self.assertIn("签名校验: 通过（WinVerifyTrust 0x00000000，签名者：CN=Orivanta Development Publisher", report)
        self.assertIn("公钥 SHA-256：" + DEVELOPMENT_KEY + "）", report)
        self.assertEqual(len(proofs), 1)

        for kind, (reason, line) in REFUSED.items():
            with self.subTest(kind=kind):
                center.control.set_package("client", demoSize=PACKAGE_SIZE, demoSignature=kind)
                code, report, proofs = self.run_client(center)
                self.assertEqual(code, 4, report)
                self.assertEqual(proofs, [], "a refused package was started")
                fields = window_driver.report_fields(report)
                self.assertTrue(fields["异常链"].startswith(reason), fields["异常链"])
                self.assertIn("签名校验: " + line, report)
                self.assertIn("integrityPassed=false", fields["关键状态"])


if __name__ == "__main__":
    skip_without_tools()
    unittest.main()
