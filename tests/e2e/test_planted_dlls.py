"""DLLs left beside the program under the names of the system DLLs it uses are
never loaded, with the user's proxy detection off and on. WINEDLLOVERRIDES
"n,b" makes Wine search the program's folder first, as Windows does for DLLs
that are not KnownDLLs. A planted DLL forwards its exports to the real one and
leaves "<dll>.loaded" beside itself."""
import glob
import itertools
import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest

from window_common import data_root, skip_without_tools, start_center, window_driver, winetest

# Built for the program's architecture: a 32-bit process never loads a 64-bit DLL.
PLANTED = os.path.join(winetest.program_build_dir(), "tests", "planted")
PLANTED_NAMES = ("winhttp", "bcrypt", "d2d1", "dwrite", "iphlpapi", "oleacc", "wintrust", "crypt32")
SEARCH_LIKE_WINDOWS = {"WINEDLLOVERRIDES": "mscoree,mshtml=;%s=n,b" % ",".join(PLANTED_NAMES)}
# KnownDLLs of every Windows from 7 on: the loader takes them from System32 only.
KNOWN_DLLS = {"advapi32.dll", "clbcatq.dll", "comdlg32.dll", "difxapi.dll", "gdi32.dll", "imagehlp.dll",
              "imm32.dll", "kernel32.dll", "msctf.dll", "msvcrt.dll", "normaliz.dll", "nsi.dll", "ole32.dll",
              "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll", "setupapi.dll", "shell32.dll",
              "shlwapi.dll", "user32.dll", "wldap32.dll", "ws2_32.dll",
              # Mapped into every process before the program, never searched for.
              "ntdll.dll"}


def imported_dlls(exe, objdump):
    output = subprocess.run([objdump, "-p", exe], stdin=subprocess.DEVNULL, capture_output=True, check=True).stdout
    return {name.lower() for name in re.findall(r"DLL Name: (\S+)", output.decode("utf-8", "replace"))}


def delayed_imports(exe, objdump):
    """The DLLs of the delay-load tables, and the functions whose address slot there
    holds nothing: a call to one jumps to address 0 instead of loading its DLL. The
    linker leaves the header's delay-import entry empty: the tables are found by
    their symbols."""
    with open(exe, "rb") as stream:
        image = stream.read()
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<2xH12xH", image, pe + 4)
    wide = struct.unpack_from("<H", image, pe + 24)[0] == 0x20B
    slot, slot_format = (8, "<Q") if wide else (4, "<I")
    base = struct.unpack_from(slot_format, image, pe + 24 + (24 if wide else 28))[0]
    table = [struct.unpack_from("<4I", image, pe + 24 + optional_size + 40 * i + 8) for i in range(sections)]

    def at(rva):
        return next(offset + rva - address for size, address, _, offset in table if address <= rva < address + size)

    nm = objdump.replace("objdump", "nm")
    symbols = subprocess.run([nm, exe], stdin=subprocess.DEVNULL, capture_output=True, check=True).stdout.decode()
    dlls, unbound = [], []
    for address in re.findall(r"^([0-9a-f]+) T __DELAY_IMPORT_DESCRIPTOR_", symbols, re.MULTILINE):
        _, dll_name, _, iat, names = struct.unpack_from("<5I", image, at(int(address, 16) - base))
        dll = image[at(dll_name):].split(b"\0", 1)[0].decode("ascii")
        dlls.append(dll.lower())
        for index in itertools.count():
            name = struct.unpack_from(slot_format, image, at(names) + index * slot)[0]
            if name == 0:
                break
            if struct.unpack_from(slot_format, image, at(iat) + index * slot)[0] < base:
                unbound.append(dll + "!" + image[at(name) + 2:].split(b"\0", 1)[0].decode("ascii"))
    return sorted(dlls), unbound


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
        programs = [(winetest.programs()["x64"], "x86_64-w64-mingw32-objdump"),
                    (winetest.programs()["x86"], "i686-w64-mingw32-objdump")]
        checked = 0
        for exe, objdump in programs:
            if os.path.exists(exe) and shutil.which(objdump):
                checked += 1
                with self.subTest(exe=exe):
                    self.assertEqual(imported_dlls(exe, objdump) - KNOWN_DLLS, set())
                    self.assertEqual(delayed_imports(exe, objdump),
                                     (sorted(name + ".dll" for name in PLANTED_NAMES), []))
        self.assertGreater(checked, 0, "no program could be inspected")

    def test_diagnostic_and_window_runs_load_no_planted_dll(self):
        folder, exe = self.downloads_folder()
        result = winetest.run_program(exe, ["--diagnostic-lan=none", "--diagnostic-test=normal"],
                                      env_extra=SEARCH_LIKE_WINDOWS)
        self.assertEqual(result.returncode, 0)
        self.assert_nothing_loaded(folder)

        # A download through the window uses Direct2D, DirectWrite, WinHTTP and CNG, and its card
        # is chosen through the accessibility tree (oleacc).
        center = start_center(self, demo_size=1 << 20)
        root = data_root(self)
        with window_driver.ProgramRun(["--diagnostic-lan=none", "--server-url=" + center.base_url,
                                       "--diagnostic-data-root=" + winetest.windows_path(root)],
                                      exe=exe, env=SEARCH_LIKE_WINDOWS) as run:
            window = run.window()
            window.do("仅客户端版")
            window_driver.wait_until(lambda: window.canvas_capture().pixel(1050, 460) == 0xF1F8FD, 20,
                                     what="the chosen card")
            window.click(966, 625)
            run.answer_completion_box()
            self.assertEqual(run.wait_exit(60), 0)
            self.assertEqual(window_driver.report_fields(run.new_report())["分类"], "Completed")
        self.assert_nothing_loaded(folder)

    def test_automatic_run_with_proxy_detection_loads_no_planted_dll(self):
        """Detection (WPAD, the default of Windows and of a fresh prefix) runs in a
        network namespace that holds only lo, with a wineserver of its own there
        (Wine's sockets live in the server), so that it reaches nothing."""
        if winetest.empty_network_namespace() is None:
            self.skipTest("no network namespace can be made here")
        folder, exe = self.downloads_folder()
        work = tempfile.mkdtemp(prefix="planted-prefix-", dir=winetest.BUILD_DIR)
        self.addCleanup(shutil.rmtree, work, True)
        prefix = os.path.join(work, "prefix")
        if not winetest.clone_prefix(prefix):
            self.skipTest("the test prefix does not exist yet")
        screen = window_driver.VirtualDisplay()
        self.addCleanup(screen.stop)
        env = winetest.wine_env(dict(SEARCH_LIKE_WINDOWS, WINEPREFIX=prefix, KEY=winetest.INTERNET_CONNECTIONS_KEY,
                                     SETTINGS=winetest.connection_settings(detect=True).hex(),
                                     REG=" ".join(winetest.wine_command("reg")), **screen.env()))
        self.addCleanup(winetest.run_quiet, ["wineserver", "-k"], env, 60)
        script = ('ip link set lo up || exit 90\n'
                  '$REG add "$KEY" /v DefaultConnectionSettings /t REG_BINARY /d "$SETTINGS" /f || exit 91\n'
                  '"$@"; code=$?\n'
                  'wineserver -k\n'
                  'exit $code\n')
        # Nothing answers on the center's port: the run ends once the request has looked for its proxy.
        program = winetest.wine_command(exe, "--diagnostic-autostart=client",
                                        "--server-url=http://127.0.0.1:9/support-center",
                                        "--diagnostic-data-root=" + winetest.windows_path(data_root(self)))
        result = winetest.run_quiet(["unshare", "-n", "sh", "-c", script, "sh", *program], env, 300)
        self.assertEqual(result.returncode, 4)
        report, = glob.glob(os.path.join(prefix, "drive_c", "users", "*", "AppData", "Local", "Orivanta",
                                         "InstallerDownloader", "process-exit", "latest-exit.txt"))
        with open(report, encoding="utf-8") as stream:
            self.assertIn("center request failed", window_driver.report_fields(stream.read())["异常链"])
        self.assert_nothing_loaded(folder)


if __name__ == "__main__":
    skip_without_tools()
    unittest.main()
