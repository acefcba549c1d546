"""The save folder's drive D: probe against real drives of a Wine prefix of its own,
and the folders the program trusts reached through links.

D: is mapped onto tmpfs mounts of exact sizes, so that the free-space boundary,
read-only media and reported drive types are real to the program. The shared
test prefix is never touched: this test boots its own prefix under the build
folder, runs its own wineserver (and, for the program's own runs, its own X
display), and removes prefix, server, display and mounts at the end.
Wine shows a Unix symbolic link to a folder as a reparse point, so the links
here stand for junctions, symbolic links and mount points.
Needs root for mount; skips (77) where mounting is refused.
"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.environ.get("ORIVANTA_SOURCE_DIR", ""), "tests", "support"))
import winetest  # noqa: E402
from display import VirtualDisplay  # noqa: E402

SKIP = 77
THRESHOLD = 10 * 1024 ** 3
PUBLISH_NAME = "欧瑞凡达安装包"
PUBLISH_FOLDER = "D:\\" + PUBLISH_NAME
MACHINE_FOLDER = "C:\\ProgramData\\Orivanta\\InstallerAssistant"
LINK_REFUSAL = ("本机数据文件夹不能安全使用：%s 是链接或挂载点。"
                "请删除该链接后重试，或联系欧瑞凡达客服 400-100-200。")


class Skip(Exception):
    pass


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class DrivePrefix:
    """A throw-away prefix with a persistent server, and the tmpfs mounts behind its D:."""

    def __init__(self, work):
        self.work = work
        self.prefix = os.path.join(work, "prefix")
        self.env = winetest.wine_env({"WINEPREFIX": self.prefix})
        self.mounts = []
        self.server_started = False
        self.display = None

    def quiet(self, command, timeout=300):
        result = winetest.run_quiet(command, self.env, timeout)
        check(result.returncode == 0, "%s failed with %d" % (" ".join(command), result.returncode))

    def start_server(self):
        subprocess.Popen(["wineserver", "-p"], env=self.env, stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                         start_new_session=True).wait()
        self.server_started = True
        # Wine's service processes outlive the program that starts them; start them
        # detached so that no captured output is held open by them.
        winetest.run_quiet(["wine", "cmd", "/c", "exit"], self.env, timeout=120)

    def stop_server(self):
        if self.server_started:
            winetest.run_quiet(["wineserver", "-k"], self.env, timeout=60)
            winetest.run_quiet(["wineserver", "-w"], self.env, timeout=60)
            self.server_started = False

    def boot(self):
        # Wine's desktop takes its display from the first program of the prefix.
        self.display = VirtualDisplay(glx=False).start()
        self.env["DISPLAY"] = self.display.name
        os.makedirs(self.prefix)
        self.quiet(["wineboot", "-i"])
        self.quiet(["wineserver", "-w"])
        self.start_server()

    def mount_tmpfs(self, size):
        folder = tempfile.mkdtemp(prefix="mnt-", dir=self.work)
        result = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d,mode=0755" % size, "tmpfs", folder],
                                stdin=subprocess.DEVNULL, capture_output=True, text=True, check=False)
        if result.returncode != 0:
            raise Skip("mounting a tmpfs was refused: " + result.stderr.strip())
        self.mounts.append(folder)
        return folder

    @staticmethod
    def remount(folder, mode):
        subprocess.run(["mount", "-o", "remount," + mode, folder], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, check=True)

    def map_drive_d(self, target):
        link = os.path.join(self.prefix, "dosdevices", "d:")
        if os.path.lexists(link):
            os.unlink(link)
        if target:
            os.symlink(target, link)

    def drive_d_target(self):
        link = os.path.join(self.prefix, "dosdevices", "d:")
        return os.readlink(link) if os.path.islink(link) else "nothing"

    def set_drive_type(self, kind):
        """Wine's mount manager reads drive types from the registry when the server starts."""
        command = ["wine", "reg", "add", "HKLM\\Software\\Wine\\Drives", "/v", "d:", "/d", kind, "/f"]
        if kind is None:
            command = ["wine", "reg", "delete", "HKLM\\Software\\Wine\\Drives", "/v", "d:", "/f"]
        # A write that did not take would leave the previous type in force; deleting
        # a value that is not there fails and is fine.
        for _ in range(3):
            if winetest.run_quiet(command, self.env, timeout=120).returncode == 0 or kind is None:
                break
        else:
            raise RuntimeError("drive type %s could not be written to the prefix" % kind)
        self.stop_server()
        self.start_server()

    def choose(self, *args):
        """Runs the driver; returns (save folder, bytes available on D: as Windows reports them)."""
        driver = os.path.join(winetest.BUILD_DIR, "tests", "choose_save_folder.exe")
        # Wine's own error messages are kept for the failure message.
        env = dict(self.env, WINEDEBUG="-all,err+all")
        with tempfile.TemporaryFile(dir=self.work) as output, tempfile.TemporaryFile(dir=self.work) as errors:
            result = subprocess.run(["wine", driver, *args], env=env, stdin=subprocess.DEVNULL,
                                    stdout=output, stderr=errors, timeout=120, check=False)
            output.seek(0)
            text = output.read().decode("utf-8")
            errors.seek(0)
            error_text = errors.read().decode("utf-8", errors="replace")
        check(result.returncode == 0, "driver %s with D: on %s exited with %d: %r; its errors: %r"
              % (" ".join(args) or "without arguments", self.drive_d_target(), result.returncode, text, error_text))
        values = dict(line.split("=", 1) for line in text.splitlines() if "=" in line)
        check("folder" in values, "driver gave no folder: %r" % text)
        return values["folder"], int(values["d-available"])

    def automatic_run(self):
        """Runs the program's automatic download against a center that is not there;
        returns its exit code and the exception chain of its report."""
        result = subprocess.run(["wine", winetest.program_path(), "--diagnostic-autostart=client",
                                 "--server-url=http://127.0.0.1:9/"], env=self.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=180, check=False)
        reports = glob.glob(os.path.join(self.prefix, "drive_c", "users", "*", "AppData", "Local", "Orivanta",
                                         "InstallerDownloader", "process-exit", "latest-exit.txt"))
        check(len(reports) == 1, "no report of the automatic run: %s" % reports)
        with open(reports[0], encoding="utf-8") as report:
            chain = [line for line in report.read().splitlines() if line.startswith("异常链: ")]
        return result.returncode, chain[0] if chain else ""

    def unix_path(self, windows_path):
        check(windows_path[:3].upper() == "C:\\", "not on C: " + windows_path)
        return os.path.join(self.prefix, "drive_c", *windows_path[3:].split("\\"))

    def close(self):
        self.stop_server()
        if self.display is not None:
            self.display.stop()
        for folder in reversed(self.mounts):
            if subprocess.run(["umount", folder], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, check=False).returncode != 0:
                subprocess.run(["umount", "-l", folder], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, check=False)
        shutil.rmtree(self.work, ignore_errors=True)


def available_bytes(folder):
    stats = os.statvfs(folder)
    return stats.f_bavail * stats.f_frsize


def expect_fallback(drives, folder, what):
    check(folder.endswith("\\AppData\\Local\\Orivanta\\InstallerDownloader\\packages"),
          "%s: expected the per-user fallback, got %s" % (what, folder))
    check(os.path.isdir(drives.unix_path(folder)), "%s: fallback folder %s was not created" % (what, folder))


def expect_links_refused(links, elsewhere, choose, what):
    """Each link, made in turn, leads to a refusal; nothing is written where it points."""
    for link in links:
        os.makedirs(os.path.dirname(link), exist_ok=True)
        os.symlink(elsewhere, link)
        choose(link)
        check(os.listdir(elsewhere) == [], "%s: written through %s: %s" % (what, link, os.listdir(elsewhere)))
        check(os.path.islink(link), "%s: the link %s was changed" % (what, link))
        os.unlink(link)


def machine_folder_links(drives):
    """The machine folder that every run reads as administrator is never reached through a link."""
    machine = drives.unix_path(MACHINE_FOLDER)
    elsewhere = tempfile.mkdtemp(prefix="elsewhere-", dir=drives.work)

    def refused(link):
        code, chain = drives.automatic_run()
        shown = MACHINE_FOLDER + link[len(machine):].replace("/", "\\")
        check(code == 4 and LINK_REFUSAL % shown in chain, "link %s: exit %d, %s" % (link, code, chain))
        check(not os.path.exists(os.path.join(machine, "device-id.txt")), "identity written beside the link")

    expect_links_refused([machine, os.path.join(machine, "downloads", "history")], elsewhere, refused, "machine folder")
    code, chain = drives.automatic_run()
    check(code == 4 and "本机数据文件夹" not in chain, "without links the run still refused: %s" % chain)
    check(os.path.isfile(os.path.join(machine, "device-id.txt")), "the identity was not written without links")


def run(drives):
    drives.boot()
    user_local = os.path.join(drives.prefix, "drive_c", "users")
    check(not any(os.path.exists(os.path.join(user_local, user, "AppData", "Local", "Orivanta"))
                  for user in os.listdir(user_local)), "fresh prefix already holds program data")

    drives.map_drive_d(None)
    folder, available = drives.choose()
    check(available == -1, "D: still answers after its mapping was removed")
    expect_fallback(drives, folder, "no drive D:")
    machine_folder_links(drives)

    # tmpfs sizes are whole pages; an empty tmpfs offers all of them to the user.
    exact = drives.mount_tmpfs(THRESHOLD)
    page = os.statvfs(exact).f_frsize
    check(available_bytes(exact) == THRESHOLD,
          "a tmpfs of 10 GiB offers %d bytes, not exactly 10 GiB" % available_bytes(exact))
    drives.map_drive_d(exact)
    folder, available = drives.choose()
    check(available == THRESHOLD, "Windows reports %d bytes available where statfs has %d" % (available, THRESHOLD))
    expect_fallback(drives, folder, "exactly 10 GiB available")
    check(os.listdir(exact) == [], "the publish folder was created on a disk without room: %s" % os.listdir(exact))

    roomy = drives.mount_tmpfs(THRESHOLD + page)
    drives.map_drive_d(roomy)
    folder, available = drives.choose()
    check(available == THRESHOLD + page == available_bytes(roomy),
          "one page above 10 GiB reads as %d bytes" % available)
    check(folder == PUBLISH_FOLDER, "10 GiB and one page available: expected D:, got %s" % folder)
    published = os.path.join(roomy, PUBLISH_NAME)
    check(os.path.isdir(published), "D:\\%s was not created" % PUBLISH_NAME)
    check(os.listdir(published) == [".cache"], "the write test left %s behind" % os.listdir(published))
    folder, _ = drives.choose()
    check(folder == PUBLISH_FOLDER and os.listdir(published) == [".cache"],
          "an existing publish folder is not chosen again")

    # A link in the publish folder's place, or anywhere inside it, makes the fallback chosen.
    elsewhere = os.path.join(roomy, "elsewhere")
    os.mkdir(elsewhere)
    shutil.rmtree(published)

    def falls_back(link):
        expect_fallback(drives, drives.choose()[0], "link " + link)

    links = [published, os.path.join(published, ".cache"), os.path.join(published, "old", "deeper")]
    expect_links_refused(links, elsewhere, falls_back, "publish folder")
    os.rmdir(elsewhere)
    folder, _ = drives.choose()
    check(folder == PUBLISH_FOLDER, "D: is not chosen again once the links are gone: %s" % folder)

    data_root = tempfile.mkdtemp(prefix="data-root-", dir=drives.work)
    shutil.rmtree(published)
    folder, _ = drives.choose("--diagnostic-data-root=" + winetest.windows_path(data_root))
    check(folder == winetest.windows_path(data_root) + "\\packages", "data root ignored: %s" % folder)
    check(os.path.isdir(os.path.join(data_root, "packages")), "data root's packages folder was not created")
    check(os.listdir(roomy) == [], "drive D: was examined although a data root was set")

    # A folder that exists but takes no new files: the write test fails and the folder is left as it was.
    os.mkdir(published)
    with open(os.path.join(published, "kept.txt"), "w") as marker:
        marker.write("kept")
    drives.remount(roomy, "ro")
    try:
        folder, _ = drives.choose()
    finally:
        drives.remount(roomy, "rw")
    expect_fallback(drives, folder, "read-only publish folder")
    check(os.listdir(published) == ["kept.txt"], "read-only publish folder changed: %s" % os.listdir(published))

    shutil.rmtree(published)
    with open(published, "w") as blocker:
        blocker.write("a file, not a folder")
    folder, _ = drives.choose()
    expect_fallback(drives, folder, "publish path taken by a file")
    with open(published) as blocker:
        check(blocker.read() == "a file, not a folder", "the file in the way was changed")
    os.unlink(published)

    for kind in ("cdrom", "floppy", "network"):
        drives.set_drive_type(kind)
        folder, _ = drives.choose()
        expect_fallback(drives, folder, "drive D: of type %s" % kind)
        check(os.listdir(roomy) == [], "drive D: of type %s was written to" % kind)
    drives.set_drive_type(None)
    folder, _ = drives.choose()
    check(folder == PUBLISH_FOLDER, "a fixed D: is chosen again once its type is restored: %s" % folder)
    check(os.listdir(os.path.join(roomy, PUBLISH_NAME)) == [".cache"], "the write test left a file behind")


def sweep_stale_runs():
    """A run killed by its timeout leaves its server and mounts; the next run removes them."""
    for stale in glob.glob(os.path.join(winetest.BUILD_DIR, "drive-d-*")):
        drives = DrivePrefix(stale)
        drives.server_started = os.path.isdir(drives.prefix)
        with open("/proc/mounts") as table:
            drives.mounts = [line.split()[1] for line in table if line.split()[1].startswith(stale + "/")]
        drives.close()


def main():
    if os.geteuid() != 0:
        print("SKIPPED: mounting drives for D: needs root")
        return SKIP
    sweep_stale_runs()
    work = tempfile.mkdtemp(prefix="drive-d-", dir=winetest.BUILD_DIR)
    drives = DrivePrefix(work)
    try:
        run(drives)
    except Skip as reason:
        print("SKIPPED:", reason)
        return SKIP
    except Failure as failure:
        print("FAILED:", failure)
        return 1
    finally:
        drives.close()
    print("drive D: choice: all cases passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
