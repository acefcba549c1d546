"""DLLs left beside the program under the names of the system DLLs it uses are
never loaded. WINEDLLOVERRIDES "n,b" makes Wine search the program's folder
first, as Windows does for DLLs that are not KnownDLLs. A planted DLL forwards
its exports to the real one and leaves "<dll>.loaded" beside itself."""
import glob
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from window_common import data_root, skip_without_tools, start_center, window_driver, winetest

PLANTED = os.path.join(winetest.BUILD_DIR, "tests", "planted")
PLANTED_NAMES = ("winhttp", "bcrypt", "d2d1", "dwrite", "iphlpapi", "wintrust")
SEARCH_LIKE_WINDOWS = {"WINEDLLOVERRIDES": "mscoree,mshtml=;%s=n,b" % ",".join(PLANTED_NAMES)}
# KnownDLLs of every Windows from 7 on: the loader takes them from System32 only.
KNOWN_DLLS = {"advapi32.dll", "clbcatq.dll", "comdlg32.dll", "difxapi.dll", "gdi32.dll", "imagehlp.dll",
              "imm32.dll", "kernel32.dll", "msctf.dll", "msvcrt.dll", "normaliz.dll", "nsi.dll", "ole32.dll",
              "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll", "setupapi.dll", "shell32.dll",
              "shlwapi.dll", "user32.dll", "wldap32.dll", "ws2_32.dll"}


def imported_dlls(exe, objdump):
    output = subprocess.run([objdump, "-p", exe], stdin=subprocess.DEVNULL, capture_output=True, check=True).stdout
    return {name.lower() for name in re.findall(r"DLL Name: (\S+)", output.decode("utf-8", "replace"))}


class PlantedDlls(unittest.TestCase):
    def downloads_folder(self):
        """A copy of the program with every planted DLL beside it."""
        folder = tempfile.mkdtemp(prefix="orivanta-downloads-")
        self.addCleanup(shutil.rmtree, folder, True)
        exe = os.path.join(folder, "OrivantaInstaller.exe")
        shutil.copy(winetest.program_path(), exe)
        for name in PLANTED_NAMES:
            shutil.copy(os.path.join(PLANTED, name + ".dll"), folder)
        return folder, exe

    def assert_nothing_loaded(self, folder):
        self.assertEqual(sorted(os.path.basename(p) for p in glob.glob(os.path.join(folder, "*.loaded"))), [],
                         "a planted DLL was loaded")

    def test_import_tables_name_only_known_dlls(self):
        programs = [(winetest.program_path(), "x86_64-w64-mingw32-objdump"),
                    (os.path.join(winetest.SOURCE_DIR, "build-i686", "OrivantaInstaller.exe"),
                     "i686-w64-mingw32-objdump")]
        checked = 0
        for exe, objdump in programs:
            if os.path.exists(exe) and shutil.which(objdump):
                checked += 1
                with self.subTest(exe=exe):
                    self.assertEqual(imported_dlls(exe, objdump) - KNOWN_DLLS, set())
        self.assertGreater(checked, 0, "no program could be inspected")

    def test_diagnostic_and_window_runs_load_no_planted_dll(self):
        folder, exe = self.downloads_folder()
        result = winetest.run_program(exe, ["--diagnostic-lan=none", "--diagnostic-test=normal"],
                                      env_extra=SEARCH_LIKE_WINDOWS)
        self.assertEqual(result.returncode, 0)
        self.assert_nothing_loaded(folder)

        # A download through the window uses Direct2D, DirectWrite, WinHTTP and CNG.
        center = start_center(self, demo_size=1 << 20)
        root = data_root(self)
        with window_driver.ProgramRun(["--diagnostic-lan=none", "--server-url=" + center.base_url,
                                       "--diagnostic-data-root=" + winetest.windows_path(root)],
                                      exe=exe, env=SEARCH_LIKE_WINDOWS) as run:
            window = run.window()
            window.click(800, 400)  # client edition
            window_driver.wait_until(lambda: window.canvas_capture().pixel(1050, 460) == 0xF1F8FD, 20,
                                     what="the chosen card")
            window.click(966, 625)
            run.answer_completion_box()
            self.assertEqual(run.wait_exit(60), 0)
            self.assertEqual(window_driver.report_fields(run.new_report())["分类"], "Completed")
        self.assert_nothing_loaded(folder)


if __name__ == "__main__":
    skip_without_tools()
    unittest.main()
