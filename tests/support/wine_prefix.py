"""Creates the test prefix and keeps one persistent wineserver for a test run.

setup:   create WINEPREFIX if needed (wineboot), then start `wineserver -p`.
cleanup: stop every process of the prefix and its server.
Everything started here is detached from the test runner's pipes.
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winetest  # noqa: E402


def setup():
    prefix = winetest.prefix()
    env = winetest.wine_env()
    if not os.path.exists(os.path.join(prefix, "system.reg")):
        os.makedirs(prefix, exist_ok=True)
        winetest.run_quiet(["wineboot", "-i"], env, timeout=300)
        winetest.run_quiet(["wineserver", "-w"], env, timeout=300)
    subprocess.Popen(["wineserver", "-p"], env=env, stdin=subprocess.DEVNULL,
                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                     start_new_session=True).wait()
    # Wine's own service processes outlive the program that starts them; start
    # them here, detached, so that no test's output pipe is held open by them.
    winetest.run_quiet(["wine", "cmd", "/c", "exit"], env, timeout=120)
    if not winetest.install_fonts(prefix):
        print("CJK fonts not installed: screenshots will show boxes for Chinese text")
    print("wine prefix ready:", prefix)


def cleanup():
    env = winetest.wine_env()
    winetest.run_quiet(["wineserver", "-k"], env, timeout=60)
    print("wine prefix stopped")


if __name__ == "__main__":
    {"setup": setup, "cleanup": cleanup}[sys.argv[1]]()
