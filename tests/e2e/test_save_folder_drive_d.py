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
import time

sys.path.insert(0, os.path.join(os.environ.get("ORIVANTA_SOURCE_DIR", ""), "tests", "support"))
import winetest  # noqa: E402
from devcenter_fixture import running_devcenter  # noqa: E402
from display import VirtualDisplay  # noqa: E402

SKIP = 77
THRESHOLD = 10 * 1024 ** 3
PUBLISH_NAME = "欧瑞凡达安装包"
PUBLISH_FOLDER = "D:\\" + PUBLISH_NAME
MACHINE_FOLDER = "C:\\ProgramData\\Orivanta\\InstallerAssistant"
# Slow enough for a rename to be tried while the package arrives.
THROTTLE_BYTES_PER_SECOND = 16 * 1024
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
        winetest.run_quiet(winetest.wine_command("cmd", "/c", "exit"), self.env, timeout=120)

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
        self.quiet(winetest.wine_command("wineboot", "-i"))
        self.quiet(["wineserver", "-w"])
        self.start_server()
        winetest.set_user_proxy(self.env)

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
        """Wine's mount manager, a 64-bit service, reads drive types from the 64-bit
        registry view when the server starts."""
        key = "HKLM\\Software\\Wine\\Drives"
        command = winetest.wine_command("reg", "add", key, "/v", "d:", "/d", kind, "/f", "/reg:64")
        if kind is None:
            command = winetest.wine_command("reg", "delete", key, "/v", "d:", "/f", "/reg:64")
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
            result = subprocess.run(winetest.wine_command(driver, *args), env=env, stdin=subprocess.DEVNULL,
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

    def start_automatic_run(self, server_url="http://127.0.0.1:9/"):
        """Starts the program's automatic download, by default against a center that is not there."""
        return subprocess.Popen(winetest.wine_command(winetest.program_path(), "--diagnostic-autostart=client",
                                                      "--server-url=" + server_url), env=self.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def automatic_run(self, server_url="http://127.0.0.1:9/"):
        """Runs the program's automatic download; returns its exit code and the exception chain of its report."""
        process = self.start_automatic_run(server_url)
        try:
            returncode = process.wait(timeout=300)
        finally:
            if process.poll() is None:
                process.kill()
        return returncode, self.last_chain()

    def last_chain(self):
        """The exception chain of the latest exit report."""
        reports = glob.glob(os.path.join(self.prefix, "drive_c", "users", "*", "AppData", "Local", "Orivanta",
                                         "InstallerDownloader", "process-exit", "latest-exit.txt"))
        check(len(reports) == 1, "no report of the automatic run: %s" % reports)
        with open(reports[0], encoding="utf-8") as report:
            chain = [line for line in report.read().splitlines() if line.startswith("异常链: ")]
        return chain[0] if chain else ""

    def windows_rename(self, path, unix_path, new_name):
        """Renames through Windows, where share modes hold; True when it took."""
        winetest.run_quiet(winetest.wine_command("cmd", "/c", "ren", path, new_name), self.env, timeout=120)
        return os.path.exists(os.path.join(os.path.dirname(unix_path), new_name)) or not os.path.exists(unix_path)

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


def machine_folder_links(drives):
    """The machine folder that every run reads as administrator is never reached through a link,
    and one that someone else made is set aside whole, link and all; the vendor's folder above it,
    with the clinic's data, stays as it was."""
    machine = drives.unix_path(MACHINE_FOLDER)
    vendor = os.path.dirname(machine)
    clinic_data = os.path.join(vendor, "ClinicData", "clinic.db")
    os.makedirs(os.path.dirname(clinic_data))
    with open(clinic_data, "wb") as stream:
        stream.write(b"the clinic's patients")
    elsewhere = tempfile.mkdtemp(prefix="elsewhere-", dir=drives.work)
    code, chain = drives.automatic_run()
    check(code == 4 and "本机数据文件夹" not in chain, "a first run refused its own folders: %s" % chain)
    check(glob.glob(vendor + ".*") == [], "the vendor's folder was moved: %s" % glob.glob(vendor + ".*"))
    with open(clinic_data, "rb") as stream:
        check(stream.read() == b"the clinic's patients", "the clinic's data changed")

    # Kept until the end: a folder made after its removal could get its file ID back
    # (under Wine an inode number, which the file system reuses; NTFS adds a sequence number).
    retired = machine + ".retired"
    os.rename(machine, retired)
    os.symlink(elsewhere, machine)
    code, chain = drives.automatic_run()
    check(code == 4 and LINK_REFUSAL % MACHINE_FOLDER in chain, "link at the machine folder: exit %d, %s" % (code, chain))
    check(os.listdir(elsewhere) == [] and os.path.islink(machine), "the link was followed or changed")
    os.unlink(machine)

    os.makedirs(os.path.join(machine, "downloads"))
    os.symlink(elsewhere, os.path.join(machine, "downloads", "history"))
    code, chain = drives.automatic_run()
    check(code == 4 and "本机数据文件夹" not in chain, "a machine folder someone else made was refused: %s" % chain)
    check(os.listdir(elsewhere) == [], "written through a link in a machine folder someone else made")
    check(os.path.isfile(os.path.join(machine, "device-id.txt")), "no identity in a fresh machine folder")
    aside = glob.glob(machine + ".foreign-*")
    check(len(aside) == 1 and os.path.islink(os.path.join(aside[0], "downloads", "history")),
          "the machine folder someone else made was not set aside as it was: %s" % aside)
    check(os.path.isfile(clinic_data) and glob.glob(vendor + ".*") == [], "the vendor's folder changed")
    shutil.rmtree(retired)


def publish_folder_runs(drives, published):
    """A file planted in the publish folder before the program's first run is not in the folder
    it uses afterwards; while it downloads, neither the folder nor its cache can be renamed away;
    and a second run keeps the folders, packages, records and history of the first."""
    os.mkdir(published)
    with open(os.path.join(published, "version.dll"), "w") as planted:
        planted.write("planted by a standard user")
    machine = drives.unix_path(MACHINE_FOLDER)
    history = os.path.join(machine, "downloads", "history")

    def machine_asides():
        return glob.glob(machine + ".foreign-*") + glob.glob(os.path.dirname(machine) + ".foreign-*")

    with running_devcenter(faults={"node": {"throttleBytesPerSecond": THROTTLE_BYTES_PER_SECOND}}) as center:
        process = drives.start_automatic_run(center.base_url)
        try:
            deadline = time.monotonic() + 240
            while not glob.glob(os.path.join(published, ".cache", "*.part")):
                check(process.poll() is None and time.monotonic() < deadline, "no download began in the publish "
                      "folder: exit %s, %s, %s" % (process.poll(), drives.last_chain(), os.listdir(published)))
                time.sleep(0.5)
            for path, unix_path in ((PUBLISH_FOLDER + "\\.cache", os.path.join(published, ".cache")),
                                    (PUBLISH_FOLDER, published)):
                check(not drives.windows_rename(path, unix_path, "taken-away"), "%s renamed during the download" % path)
            code = process.wait(timeout=300)
        finally:
            if process.poll() is None:
                process.kill()
        check(code == 0, "the download into D: ended with %d" % code)
        package = center.control.packages()["ClientOnly"]["fileName"]
        check(os.path.isfile(os.path.join(published, package)), "the package is not in %s" % os.listdir(published))
        check("version.dll" not in os.listdir(published), "the planted file is in the folder the program uses")
        aside = glob.glob(published + ".foreign-*")
        check(len(aside) == 1 and os.listdir(aside[0]) == ["version.dll"], "not set aside as it was: %s" % aside)
        records, machine_aside = os.listdir(history), machine_asides()

        code, chain = drives.automatic_run(center.base_url)
        check(code == 0, "the second run ended with %d: %s" % (code, chain))
        check(glob.glob(published + ".foreign-*") == aside and machine_asides() == machine_aside,
              "a second run set aside the program's own folders")
        check(os.path.isfile(os.path.join(published, package)), "the package of the first run is gone")
        check(set(records) < set(os.listdir(history)), "the history of the first run is gone")


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

    # A link in the publish folder's place makes the fallback chosen; a folder someone else made
    # is set aside with the links it holds, and a fresh one is used.
    elsewhere = os.path.join(roomy, "elsewhere")
    os.mkdir(elsewhere)
    shutil.rmtree(published)
    os.symlink(elsewhere, published)
    expect_fallback(drives, drives.choose()[0], "link at the publish folder")
    check(os.path.islink(published) and os.listdir(elsewhere) == [], "the link was followed or changed")
    os.unlink(published)
    for link in (os.path.join(published, ".cache"), os.path.join(published, "old", "deeper")):
        os.makedirs(os.path.dirname(link), exist_ok=True)
        os.symlink(elsewhere, link)
    folder, _ = drives.choose()
    check(folder == PUBLISH_FOLDER and os.listdir(published) == [".cache"], "not a fresh folder on D: %s" % folder)
    check(os.listdir(elsewhere) == [], "written through a link: %s" % os.listdir(elsewhere))
    for aside in glob.glob(published + ".foreign-*"):
        shutil.rmtree(aside)
    os.rmdir(elsewhere)

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
    # Room for the package and what a user leaves beside it.
    spacious = drives.mount_tmpfs(THRESHOLD + 64 * 1024 ** 2)
    drives.map_drive_d(spacious)
    publish_folder_runs(drives, os.path.join(spacious, PUBLISH_NAME))


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
