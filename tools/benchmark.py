#!/usr/bin/env python3
"""Runs the project's benchmarks under Wine and prints their figures.

Each module tools/bench/bench_*.py has a run() that measures side by side in
one run and prints its figures; `python3 tools/benchmark.py [name ...]` runs
all of them or the named ones (download, lan, ui). Build first (tools/build.sh).
"""
import importlib
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "support"))


def main(names):
    available = sorted(f[len("bench_"):-3] for f in os.listdir(os.path.join(HERE, "bench"))
                       if f.startswith("bench_") and f.endswith(".py"))
    chosen = names or available
    failed = False
    for name in chosen:
        if name not in available:
            print("unknown benchmark:", name, "(available:", ", ".join(available) + ")")
            failed = True
            continue
        print("==", name)
        module = importlib.import_module("bench.bench_" + name)
        try:
            module.run()
        except Exception as error:  # one failing benchmark must not hide the others' figures
            print("  failed:", error)
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
