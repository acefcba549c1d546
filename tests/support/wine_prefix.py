"""Creates the test prefix and keeps one persistent wineserver for a test run.

setup:   create WINEPREFIX if needed (wineboot), or again when it cannot run
         32-bit programs although Wine could; start `wineserver -p` and hold
         Wine's desktop open.
cleanup: stop every process of the prefix and its server.
Everything started here is detached from the test runner's pipes.
"""
import json
import os
import signal
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import window_driver  # noqa: E402
import winetest  # noqa: E402


def setup(own_display=True):
    """With own_display, Wine's desktop gets a private display (recorded for the
    window tests); otherwise it lives on the caller's DISPLAY. Returns the process
    that holds the desktop open."""
    prefix = winetest.prefix()
    env = winetest.wine_env()
    if os.path.exists(os.path.join(prefix, "system.reg")) and not runs_32bit_programs(prefix):
        print("rebuilding a prefix made before the 32-bit loader was installed:", prefix)
        winetest.run_quiet(["wineserver", "-k"], env, timeout=60)
        stop_desktop_display()
        shutil.rmtree(prefix)
    if not os.path.exists(os.path.join(prefix, "system.reg")):
        os.makedirs(prefix, exist_ok=True)
        winetest.run_quiet(winetest.wine_command("wineboot", "-i"), env, timeout=300)
        winetest.run_quiet(["wineserver", "-w"], env, timeout=300)
    subprocess.Popen(["wineserver", "-p"], env=env, stdin=subprocess.DEVNULL,
                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                     start_new_session=True).wait()
    if own_display:
        env.update(start_desktop_display())
    # Wine's own service processes outlive the program that starts them; start
    # them here, detached, so that no test's output pipe is held open by them.
    winetest.run_quiet(winetest.wine_command("cmd", "/c", "exit"), env, timeout=120)
    winetest.set_user_proxy(env)
    trust_development_root(env)
    holder = hold_desktop(env)
    if not winetest.install_fonts(prefix):
        print("CJK fonts not installed: screenshots will show boxes for Chinese text")
    print("wine prefix ready:", prefix)
    return holder


def runs_32bit_programs(prefix):
    """False for a prefix that Wine without its 32-bit loader made: its syswow64
    is empty, and a 32-bit program fails there to load kernel32.dll. True where
    there is no 32-bit loader to use it."""
    loader = winetest.MACHINES[0x014C][0]
    return not os.path.exists(loader) or os.path.exists(
        os.path.join(prefix, "drive_c", "windows", "syswow64", "kernel32.dll"))


def trust_development_root(env):
    """The root of the development publisher that signs the demo installers, in the
    machine's Root store before the program first runs."""
    driver = os.path.join(winetest.BUILD_DIR, "tests", "add_root_certificate.exe")
    root = os.path.join(winetest.SOURCE_DIR, "tools", "devcenter", "dev-signing", "root.crt")
    if subprocess.run(winetest.wine_command(driver, winetest.windows_path(root)), env=env, stdin=subprocess.DEVNULL,
                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120).returncode != 0:
        raise SystemExit("the development root could not be added to the prefix's Root store")


def start_desktop_display():
    """An X display for Wine's desktop process, recorded for the window tests.

    The desktop process lives on the display of the program that started it and
    gives every later program its graphics driver: started by a test program
    without a display, no window could be created until it closed again; started
    on a test's own display, it ended with that test."""
    stop_desktop_display()
    screen = window_driver.VirtualDisplay()
    with open(window_driver.desktop_display_file(), "w", encoding="utf-8") as stream:
        json.dump({"name": screen.name, "fbdir": screen.fbdir, "pid": screen.process.pid}, stream)
    return screen.env()


def hold_desktop(env, timeout=120):
    """Keeps Wine's desktop open until the clean-up: Wine closes a desktop shortly
    after its last program ends, and a program started meanwhile gets no window."""
    holder = os.path.join(winetest.BUILD_DIR, "tests", "desktop_holder.exe")
    marker = os.path.join(winetest.prefix(), "desktop-held")
    if os.path.exists(marker):
        os.remove(marker)
    process = subprocess.Popen(winetest.wine_command(holder, winetest.windows_path(marker)), env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    deadline = time.monotonic() + timeout
    while not os.path.exists(marker):
        if time.monotonic() > deadline:
            raise SystemExit("Wine's desktop did not start within %d s" % timeout)
        time.sleep(0.2)
    return process


def stop_desktop_display():
    """Ends the desktop's X display, also one an interrupted run left behind."""
    try:
        with open(window_driver.desktop_display_file(), encoding="utf-8") as stream:
            recorded = json.load(stream)
    except (OSError, ValueError):
        return
    try:
        os.kill(recorded["pid"], signal.SIGTERM)
    except OSError:
        pass
    shutil.rmtree(recorded["fbdir"], ignore_errors=True)
    os.remove(window_driver.desktop_display_file())


def cleanup():
    env = winetest.wine_env()
    winetest.run_quiet(["wineserver", "-k"], env, timeout=60)
    stop_desktop_display()
    print("wine prefix stopped")


if __name__ == "__main__":
    {"setup": setup, "cleanup": cleanup}[sys.argv[1]]()
