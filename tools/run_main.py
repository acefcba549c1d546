#!/usr/bin/env python3
"""The assistant's main job on this machine, against the local development center.

Starts the development center with demo packages, then runs OrivantaInstaller.exe
under Wine against it (--server-url), with its own prefix (build/wine-main) and
data folder (build/main-job/data):
- with a display (DISPLAY set and reachable): the window opens; choose an edition
  and press the main button, as a clinic would;
- without one: under a private Xvfb, a screenshot of the first screen, then the
  automatic-start mode downloads, verifies and launches the server edition.
It prints where the exit report, the published package and the screenshot are.
The program is never started without --diagnostic-lan=none, so it probes no network.
"""
import argparse
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
sys.path.insert(0, HERE)
os.environ.setdefault("ORIVANTA_SOURCE_DIR", ROOT)
os.environ.setdefault("ORIVANTA_BUILD_DIR", os.path.join(ROOT, "build"))
os.environ["WINEPREFIX"] = os.path.join(ROOT, "build", "wine-main")

import display  # noqa: E402
import window_driver  # noqa: E402
import wine_prefix  # noqa: E402
import winetest  # noqa: E402
from devcenter import DevCenter  # noqa: E402


def display_reachable():
    if not os.environ.get("DISPLAY") or not shutil.which("xdpyinfo"):
        return False
    return subprocess.run(["xdpyinfo"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, check=False).returncode == 0


def report_folder():
    return os.path.join(winetest.windows_user_folder("AppData/Local"), "Orivanta", "InstallerDownloader",
                        "process-exit")


def program_arguments(center, data_root, *extra):
    return ["--server-url=" + center.base_url, "--diagnostic-lan=none",
            "--diagnostic-data-root=" + winetest.windows_path(data_root), *extra]


def first_screen_screenshot(center, data_root, path):
    """A run that only shows the first screen, photographed and closed with its close button."""
    with window_driver.ProgramRun(program_arguments(center, data_root)) as run:
        window = run.window()
        window.canvas_capture().save(path)
        window.click(1086, 33)
        run.wait_exit(timeout=60)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--edition", choices=("server", "client"), default="server",
                        help="edition of the automatic run without a display")
    parser.add_argument("--demo-size", type=int, default=8 * 1024 * 1024, help="size of the demo packages")
    parser.add_argument("--throttle", type=int, default=0,
                        help="download node speed limit in bytes per second (0: none)")
    arguments = parser.parse_args()

    job = os.path.join(ROOT, "build", "main-job")
    data_root = os.path.join(job, "data")
    shutil.rmtree(data_root, ignore_errors=True)
    os.makedirs(data_root)
    faults = {"node": {"throttleBytesPerSecond": arguments.throttle}} if arguments.throttle else None

    interactive = display_reachable()
    # Wine's desktop, held open for the run: on the person's display, or on a private Xvfb one.
    holder = wine_prefix.setup(own_display=not interactive)
    with DevCenter(demo_size=arguments.demo_size, cache_dir=os.path.join(ROOT, "build", "devcenter-cache"),
                   faults=faults) as center:
        print("development center:", center.base_url)
        if interactive:
            print("opening the assistant on", os.environ["DISPLAY"])
            try:
                result = winetest.run_program(winetest.program_path(), program_arguments(center, data_root),
                                              timeout=24 * 3600, capture=False)
            finally:
                # The installer and Explorer the assistant opened stay; the desktop closes after them.
                display.stop_process(holder)
            screenshot = None
        else:
            try:
                screenshot = os.path.join(job, "first-screen.png")
                first_screen_screenshot(center, data_root, screenshot)
                print("no display: automatic-start run of the", arguments.edition, "edition under Xvfb")
                result = winetest.run_program(
                    winetest.program_path(),
                    program_arguments(center, data_root, "--diagnostic-autostart=" + arguments.edition),
                    timeout=1800, env_extra=window_driver.desktop_display().env(), capture=False)
            finally:
                wine_prefix.cleanup()
    print("exit code:", result.returncode)
    latest = os.path.join(report_folder(), "latest-exit.txt")
    if os.path.exists(latest):
        print("exit report:", latest)
        with open(latest, encoding="utf-8") as stream:
            print(stream.read())
    packages = os.path.join(data_root, "packages")
    if os.path.isdir(packages):
        for name in sorted(os.listdir(packages)):
            print("package folder entry:", os.path.join(packages, name))
    if screenshot and os.path.exists(screenshot):
        print("screenshot of the first screen:", screenshot)
    return result.returncode


if __name__ == "__main__":
    sys.exit(main())
