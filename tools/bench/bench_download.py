#!/usr/bin/env python3
"""Download engine and file hashing, measured side by side under Wine.

    python3 tools/bench/bench_download.py        (or: python3 tools/benchmark.py download)

Serves a 200 MiB package from the development center on loopback and runs
tests/drivers/bench_download_driver.exe (build it first) to print:
  - RangedDownload throughput / a bare WinHTTP read loop over the same URL (goal >= 0.95);
  - Sha256FileHex throughput / a bare BCrypt loop over the same file (goal >= 0.95);
  - bytes the node sent for a resumed download / bytes that were missing (goal 1.00);
  - peak working set of the program during the 200 MiB download (goal < 32 MiB).
Rounds alternate between the two sides of each ratio and the best round of each
side counts, so that a busy machine slows both sides alike.
"""
import json
import os
import sys
import tempfile
import urllib.request
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "support"))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tools"))

import winetest  # noqa: E402
from devcenter import DevCenter  # noqa: E402
from devcenter.catalog import generated_package  # noqa: E402

PACKAGE_BYTES = 200 * 1024 * 1024
CUT_AFTER_BYTES = 83 * 1024 * 1024 + 12345
ROUNDS = 3
MIB = 1024.0 * 1024.0
# Loopback requests must never go to a proxy named in the environment.
_OPENER = urllib.request.build_opener(urllib.request.ProxyHandler({}))


def driver_path():
    return os.path.join(winetest.BUILD_DIR, "tests", "bench_download_driver.exe")


def run_driver(*arguments):
    """key=value lines of one driver run as a dict; raises when the driver failed to run."""
    result = winetest.run_program(driver_path(), [str(argument) for argument in arguments], timeout=600)
    figures = {}
    for line in result.stdout.decode("utf-8", errors="replace").splitlines():
        key, separator, value = line.strip().partition("=")
        if separator:
            figures[key] = value
    if result.returncode == 2 or "seconds" not in figures:
        raise RuntimeError("driver %s failed (exit %d)" % (arguments[0], result.returncode))
    return figures


def throughput(figures):
    return int(figures["bytes"]) / max(float(figures["seconds"]), 1e-9)


def start_download(center, session_id, offset):
    """The download URL of a start call for the benchmark's own device."""
    body = json.dumps({"deviceId": "bench-device", "packageType": "ClientOnly", "sessionId": session_id,
                       "resumeOffset": offset}, separators=(",", ":")).encode("utf-8")
    request = urllib.request.Request(center.base_url + "/api/installer-downloads/start", data=body, method="POST",
                                     headers={"Content-Type": "application/json"})
    with _OPENER.open(request, timeout=30) as response:
        return json.loads(response.read().decode("utf-8"))["downloadUrl"]


def best_of_rounds(measurements):
    """Runs every measurement once per round for ROUNDS rounds; the highest result of each."""
    best = {name: 0.0 for name in measurements}
    for _ in range(ROUNDS):
        for name, measure in measurements.items():
            best[name] = max(best[name], measure())
    return best


def measure_transfer(center, scratch):
    url = start_download(center, str(uuid.uuid4()).upper(), 0)
    part = winetest.windows_path(os.path.join(scratch, "engine.part"))
    copy = winetest.windows_path(os.path.join(scratch, "bare.bin"))
    peaks = []

    def engine():
        figures = run_driver("engine", url, part, 0, PACKAGE_BYTES)
        if figures.get("ok") != "1":
            raise RuntimeError("engine download failed: " + figures.get("error", "?"))
        peaks.append(int(figures["peak_working_set"]))
        return throughput(figures)

    best = best_of_rounds({"engine": engine, "read": lambda: throughput(run_driver("readonly", url)),
                           "write": lambda: throughput(run_driver("bare", url, copy))})
    engine_best, read_best, write_best = best["engine"], best["read"], best["write"]
    print("  download engine        %8.1f MiB/s" % (engine_best / MIB))
    print("  bare read loop         %8.1f MiB/s   (bytes discarded)" % (read_best / MIB))
    print("  bare read+write loop   %8.1f MiB/s   (64 KiB chunks written to a file)" % (write_best / MIB))
    print("  engine / bare read loop:        %.3f   (goal >= 0.95)" % (engine_best / read_best))
    print("  engine / bare read+write loop:  %.3f" % (engine_best / write_best))
    print("  peak working set during a 200 MiB download: %.1f MiB   (goal < 32 MiB)" % (max(peaks) / MIB))


def measure_hashing(package_path):
    target = winetest.windows_path(package_path)
    digests = set()

    def hashed(mode):
        figures = run_driver(mode, target)
        digests.add(figures["digest"])
        return throughput(figures)

    hashed("bcrypt")  # page cache warm-up
    best = best_of_rounds({"sha": lambda: hashed("sha"), "bcrypt": lambda: hashed("bcrypt")})
    sha_best, bcrypt_best = best["sha"], best["bcrypt"]
    if len(digests) != 1:
        raise RuntimeError("the two hashing loops disagree")
    print("  Sha256FileHex          %8.1f MiB/s" % (sha_best / MIB))
    print("  bare BCrypt loop       %8.1f MiB/s" % (bcrypt_best / MIB))
    print("  Sha256FileHex / bare BCrypt loop: %.3f   (goal >= 0.95)" % (sha_best / bcrypt_best))


def measure_resume(center, scratch, package):
    control = center.control
    session_id = str(uuid.uuid4()).upper()
    part_unix = os.path.join(scratch, "resumed.part")
    part = winetest.windows_path(part_unix)

    control.set_faults(node={"cutAfterBytes": CUT_AFTER_BYTES, "times": 1})
    interrupted = run_driver("engine", start_download(center, session_id, 0), part, 0, PACKAGE_BYTES)
    if interrupted.get("ok") == "1":
        raise RuntimeError("the node did not cut the first transfer")
    offset = os.path.getsize(part_unix)

    resumed = run_driver("engine", start_download(center, session_id, offset), part, offset, PACKAGE_BYTES)
    if resumed.get("ok") != "1":
        raise RuntimeError("resumed download failed: " + resumed.get("error", "?"))
    fetched = control.log(kind="node", last=1)[0]["bytesSent"]
    missing = PACKAGE_BYTES - offset
    verified = run_driver("sha", part)["digest"] == package.sha256
    print("  interrupted after %d bytes; the node sent %d of the %d missing bytes on resume" % (
        offset, fetched, missing))
    print("  bytes fetched on resume / bytes missing: %.4f   (goal 1.00; resumed file %s)" % (
        fetched / missing, "verified" if verified else "DOES NOT VERIFY"))


def run():
    if not os.path.isfile(driver_path()):
        raise RuntimeError("build first: %s is missing" % driver_path())
    for name in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY"):
        os.environ.pop(name, None)
    cache = os.path.join(winetest.BUILD_DIR, "devcenter-cache")
    package = generated_package("ClientOnly", cache, PACKAGE_BYTES)
    with DevCenter({"ClientOnly": package}, cache_dir=cache) as center, \
            tempfile.TemporaryDirectory(prefix="orivanta-bench-download-") as scratch:
        measure_transfer(center, scratch)
        measure_hashing(package.path)
        measure_resume(center, scratch, package)


if __name__ == "__main__":
    run()
