#!/usr/bin/env python3
"""Start-up to first frame and memory at idle of the real program under Wine.

Two honest ways to see the first frame, both reported:
  screen  - a private Xvfb is polled with root screenshots until the window's
            background colour (#F8FAFC at canvas 30, 400) is on the screen;
  marker  - the run marker's heartbeat time for the stage recorded right after
            ShowWindow + UpdateWindow (UpdateWindow paints synchronously, so the
            first frame has been presented when that stage is written).
Both are measured from the moment the wine command is started, so Wine's own
process start-up is included (with a running wine server, after one warm-up run). Memory is the Linux view of the program process
(VmRSS and private bytes from smaps_rollup) after 3 s of idling.

Standalone: python3 tools/bench/bench_ui.py [runs]   (build first: tools/build.sh)
"""
import datetime
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))

import window_driver  # noqa: E402
import winetest  # noqa: E402

FIRST_FRAME_STAGE = "stage=检查局域网 9009 服务并等待用户选择版本"
IDLE_SECONDS = 3


def _sessions_folder():
    return os.path.join(window_driver.report_root(), "sessions")


def _marker_first_frame(before, started_utc):
    """Seconds from start to the heartbeat that follows the first frame, or None."""
    folder = _sessions_folder()
    if not os.path.isdir(folder):
        return None
    for name in set(os.listdir(folder)) - before:
        try:
            with open(os.path.join(folder, name), encoding="utf-8") as stream:
                lines = stream.read().splitlines()
        except OSError:
            continue
        if len(lines) == 2 and lines[1] == FIRST_FRAME_STAGE and lines[0].startswith("heartbeat="):
            stamp = datetime.datetime.strptime(lines[0][len("heartbeat="):], "%Y-%m-%dT%H:%M:%S.%fZ")
            return (stamp.replace(tzinfo=datetime.timezone.utc) - started_utc).total_seconds()
    return None


def _memory_kib(pid):
    values = {}
    for name in ("status", "smaps_rollup"):
        try:
            with open("/proc/%d/%s" % (pid, name)) as stream:
                for line in stream:
                    key, _, rest = line.partition(":")
                    if rest.strip().endswith("kB"):
                        values[key] = int(rest.split()[0])
        except OSError:
            pass
    private = values.get("Private_Clean", 0) + values.get("Private_Dirty", 0)
    return values.get("VmRSS"), private or None


def measure_once():
    folder = tempfile.mkdtemp(prefix="orivanta-bench-ui-")
    sessions = _sessions_folder()
    before = set(os.listdir(sessions)) if os.path.isdir(sessions) else set()
    args = ["--diagnostic-lan=none", "--diagnostic-data-root=" + winetest.windows_path(folder)]
    try:
        with window_driver.ProgramRun(args) as run:
            started_utc = datetime.datetime.now(datetime.timezone.utc) - datetime.timedelta(
                seconds=time.monotonic() - run.started)
            window = window_driver.ProgramWindow.wait(run.display, 120)
            rectangle = window.rectangle()
            window_driver.wait_until(
                lambda: window_driver.CanvasShot(run.display.capture(), rectangle).pixel(30, 400)
                == window_driver.BACKGROUND, 120, interval=0.02, what="the first frame")
            screen = time.monotonic() - run.started
            marker = window_driver.wait_until(lambda: _marker_first_frame(before, started_utc), 10,
                                              what="the first-frame checkpoint")
            time.sleep(IDLE_SECONDS)
            rss, private = _memory_kib(run.process.pid)
            window.press("Escape")
            run.wait_exit(30)
            return screen, marker, rss, private
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def _keep_wineserver():
    """A wine server that outlives each run (ending 30 s after the last), as in the test runs,
    so that its own start is not counted; one already running is left as it is."""
    subprocess.Popen(["wineserver", "-p30"], env=winetest.wine_env(), stdin=subprocess.DEVNULL,
                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True).wait()


def run(runs=3):
    _keep_wineserver()
    measure_once()  # warm-up: the first start after a while loads Wine's libraries from disk
    results = [measure_once() for _ in range(runs)]
    screen = [r[0] for r in results]
    marker = [r[1] for r in results]
    rss = [r[2] for r in results if r[2]]
    private = [r[3] for r in results if r[3]]
    print("  first frame on screen (Xvfb poll):  median %.2f s  (runs: %s)"
          % (statistics.median(screen), ", ".join("%.2f" % s for s in screen)))
    print("  first frame checkpoint (marker):    median %.2f s  (runs: %s)"
          % (statistics.median(marker), ", ".join("%.2f" % s for s in marker)))
    if rss:
        print("  memory at idle: RSS median %.1f MiB, private median %.1f MiB"
              % (statistics.median(rss) / 1024, statistics.median(private) / 1024 if private else 0))


if __name__ == "__main__":
    os.environ.setdefault("WINEPREFIX", winetest.prefix())
    run(int(sys.argv[1]) if len(sys.argv) > 1 else 3)
