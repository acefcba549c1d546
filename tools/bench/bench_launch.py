#!/usr/bin/env python3
"""A reused package's road from its verification to its installer, under Wine.

    python3 tools/bench/bench_launch.py        (or: python3 tools/benchmark.py launch)

Builds a 200 MiB demo installer signed by the development publisher and runs
tests/drivers/bench_download_driver.exe (build it first) to time what the
worker does with a local copy it reuses: the lookup's SHA-256 check, the copy
into a launch folder with its checks (digest, certificate table, signature) and
the start of the installer, up to the moment its process exists. Each round (a
driver run) also times one Sha256FileHex pass over the same file, the order alternating;
the figure is the road's time in such passes, as the median with the lowest and
highest round (goal <= 3.0).
"""
import glob
import os
import statistics
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "support"))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tools"))

import window_driver  # noqa: E402
import winetest  # noqa: E402
from bench.bench_download import PACKAGE_BYTES, ROUNDS, driver_path, run_driver  # noqa: E402
from devcenter.catalog import file_digest  # noqa: E402
from devcenter.make_demo_package import build_demo_package  # noqa: E402


def run():
    if not os.path.isfile(driver_path()):
        raise RuntimeError("build first: %s is missing" % driver_path())
    cache = os.path.join(winetest.BUILD_DIR, "devcenter-cache")
    package = build_demo_package(PACKAGE_BYTES, label="bench", cache_dir=cache, signature="publisher")
    digest = file_digest(package)
    passes = []
    with tempfile.TemporaryDirectory(prefix="orivanta-bench-launch-") as scratch:
        for number in range(ROUNDS):
            before = set(glob.glob(os.path.join(scratch, "*")))
            figures = run_driver("launch", winetest.windows_path(package), digest, winetest.windows_path(scratch),
                                 "sha" if number % 2 else "road")
            if "error" in figures:
                raise RuntimeError(figures["error"])
            passes.append(float(figures["road"]) / float(figures["sha"]))
            # The installer runs to its end before the next round is measured.
            window_driver.wait_until(lambda: [proof for proof in glob.glob(os.path.join(scratch, "*", "*.launched.txt"))
                                              if os.path.dirname(proof) not in before],
                                     60, what="the installer's launch proof")
    print("  %d rounds of a reused 200 MiB signed package" % ROUNDS)
    print("  verification to installer process / one Sha256FileHex pass: %.2f   (rounds %.2f - %.2f; goal <= 3.0)" % (
        statistics.median(passes), min(passes), max(passes)))


if __name__ == "__main__":
    run()
