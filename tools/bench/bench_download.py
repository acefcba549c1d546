#!/usr/bin/env python3
"""Download engine and file hashing, measured side by side under Wine.

    python3 tools/bench/bench_download.py        (or: python3 tools/benchmark.py download)

Serves a 200 MiB package from the development center on loopback and runs
tests/drivers/bench_download_driver.exe (build it first) to print:
  - the node's own ceiling: a native client reading the same URL;
  - RangedDownload throughput / bare loops over the same URL that open the
    engine's very request (shared set-up, time-outs, 64 KiB reads) and do none of
    its own work: one writes the chunks to a file as the engine does (goal >= 0.95),
    one discards them (the difference is the cost of the file writes);
  - Sha256FileHex throughput / a bare BCrypt loop over the same file (goal >= 0.95);
  - bytes the node sent for a resumed download / bytes that were missing (goal 1.00);
  - bytes the node sent for a download that it cut five times, retried by the
    workflow on its own / bytes of the package (goal 1.00, within one 64 KiB read
    buffer per cut);
  - peak working set of the program during the 200 MiB download (goal < 32 MiB).
Each round runs every side once, in a rotating order and back to back in one
driver process, so that a busy machine slows all sides alike; ratios are taken
within a round and printed as the median with the lowest and highest round.
"""
import json
import os
import socket
import statistics
import sys
import tempfile
import time
import urllib.parse
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
ROUNDS = 11
CUTS = 5
READ_BUFFER_BYTES = 65536
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
    if result.returncode == 2 or not figures:
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


def rounds(measurements):
    """{name: [one result per round]}; each round runs every measurement once, the order rotating."""
    names = list(measurements)
    results = {name: [] for name in names}
    for round_number in range(ROUNDS):
        shift = round_number % len(names)
        for name in names[shift:] + names[:shift]:
            results[name].append(measurements[name]())
    return results


def spread(values, scale=1.0):
    return "%8.1f   (%.1f - %.1f)" % (statistics.median(values) / scale, min(values) / scale, max(values) / scale)


def ratio_spread(numerators, denominators):
    ratios = [top / bottom for top, bottom in zip(numerators, denominators)]
    return "%.3f   (rounds %.3f - %.3f)" % (statistics.median(ratios), min(ratios), max(ratios))


def native_read(url):
    """Bytes per second of a native client that reads the URL into a 1 MiB buffer and discards it."""
    parts = urllib.parse.urlsplit(url)
    buffer = bytearray(1 << 20)
    with socket.create_connection((parts.hostname, parts.port), timeout=60) as connection:
        began = time.monotonic()
        connection.sendall(("GET %s?%s HTTP/1.1\r\nHost: %s\r\nConnection: close\r\n\r\n" % (
            parts.path, parts.query, parts.netloc)).encode("ascii"))
        total = 0
        while True:
            received = connection.recv_into(buffer)
            if not received:
                break
            total += received
    if total < PACKAGE_BYTES:
        raise RuntimeError("the node sent %d bytes to the native client" % total)
    return total / (time.monotonic() - began)


def measure_transfer(center, scratch):
    url = start_download(center, str(uuid.uuid4()).upper(), 0)
    part = winetest.windows_path(os.path.join(scratch, "engine.part"))
    copy = winetest.windows_path(os.path.join(scratch, "bare.bin"))

    ceiling = [native_read(url) for _ in range(3)]
    # One driver process runs all rounds back to back: no Wine start-up between the sides of a round.
    figures = run_driver("rounds", url, part, copy, PACKAGE_BYTES, ROUNDS)
    if "error" in figures:
        raise RuntimeError(figures["error"])
    results = {side: [PACKAGE_BYTES / float(figures["%s.%d" % (side, number)]) for number in range(ROUNDS)]
               for side in ("engine", "write", "read")}
    engine = run_driver("engine", url, part, 0, PACKAGE_BYTES)
    if engine.get("ok") != "1":
        raise RuntimeError("engine download failed: " + engine.get("error", "?"))

    print("  %d rounds; MiB/s as median   (lowest - highest)" % ROUNDS)
    print("  node ceiling, native client  %s" % spread(ceiling, MIB))
    print("  download engine              %s" % spread(results["engine"], MIB))
    print("  bare read+write loop         %s   (64 KiB chunks written to a file)" % spread(results["write"], MIB))
    print("  bare read loop               %s   (bytes discarded)" % spread(results["read"], MIB))
    print("  engine / bare read+write loop:  %s   (goal >= 0.95)" % ratio_spread(results["engine"], results["write"]))
    print("  engine / bare read loop:        %s   (the file writes' share)" % ratio_spread(results["engine"],
                                                                                        results["read"]))
    print("  node ceiling / bare read loop:  %.1f   (the node is not the limit)" % (
        statistics.median(ceiling) / statistics.median(results["read"])))
    print("  peak working set during a 200 MiB download: %.1f MiB   (goal < 32 MiB)" % (
        int(engine["peak_working_set"]) / MIB))


def measure_hashing(package_path):
    target = winetest.windows_path(package_path)
    digests = set()

    def hashed(mode):
        figures = run_driver(mode, target)
        digests.add(figures["digest"])
        return throughput(figures)

    hashed("bcrypt")  # page cache warm-up
    results = rounds({"sha": lambda: hashed("sha"), "bcrypt": lambda: hashed("bcrypt")})
    if len(digests) != 1:
        raise RuntimeError("the two hashing loops disagree")
    print("  Sha256FileHex                %s" % spread(results["sha"], MIB))
    print("  bare BCrypt loop             %s" % spread(results["bcrypt"], MIB))
    print("  Sha256FileHex / bare BCrypt loop: %s   (goal >= 0.95)" % ratio_spread(results["sha"], results["bcrypt"]))


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


def measure_cuts(center, scratch, package):
    control = center.control
    # Each of the first answers is cut at another point, never on a read buffer's edge.
    control.set_faults(nodeSequence=[{"cutAfterBytes": PACKAGE_BYTES // (CUTS + 2) + 4099 * n} for n in range(CUTS)])
    since = (control.log(last=1) or [{"seq": 0}])[0]["seq"]
    part_unix = os.path.join(scratch, "cut.part")
    figures = run_driver("retried", start_download(center, str(uuid.uuid4()).upper(), 0),
                         winetest.windows_path(part_unix), PACKAGE_BYTES)
    requests = control.log(kind="node", since=since)
    fetched = sum(entry["bytesSent"] for entry in requests)
    verified = run_driver("sha", winetest.windows_path(part_unix))["digest"] == package.sha256
    print("  a download cut %d times took %d requests and %.1f s, resumed by the workflow itself" % (
        CUTS, len(requests), float(figures["seconds"])))
    print("  bytes fetched / bytes of the package, %d cuts: %.4f   (goal 1.00, at most %.4f: one read buffer per "
          "cut; file %s)" % (CUTS, fetched / PACKAGE_BYTES, 1 + CUTS * READ_BUFFER_BYTES / PACKAGE_BYTES,
                             "verified" if verified else "DOES NOT VERIFY"))


def run():
    if not os.path.isfile(driver_path()):
        raise RuntimeError("build first: %s is missing" % driver_path())
    for name in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY"):
        os.environ.pop(name, None)
    winetest.set_user_proxy(winetest.wine_env())
    cache = os.path.join(winetest.BUILD_DIR, "devcenter-cache")
    package = generated_package("ClientOnly", cache, PACKAGE_BYTES)
    # The download URL is taken once and used for every round.
    with DevCenter({"ClientOnly": package}, cache_dir=cache, faults={"urlLifetimeSeconds": 3600}) as center, \
            tempfile.TemporaryDirectory(prefix="orivanta-bench-download-") as scratch:
        measure_transfer(center, scratch)
        measure_hashing(package.path)
        measure_resume(center, scratch, package)
        measure_cuts(center, scratch, package)


if __name__ == "__main__":
    run()
