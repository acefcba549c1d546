#!/usr/bin/env python3
"""LAN discovery timings inside test network namespaces (root needed).

1. Time to find a clinic host on a /24 (goal: under 0.5 s).
2. A full /16 sweep with no host (goal: within 10 % of 164 batches x 250 ms).

The silent addresses of the /16 are dropped by the host namespace acting as
the client's gateway, so each of their connects stays pending: the probe
waits on them exactly as on a LAN where those addresses never answer ARP,
without flooding the kernel's neighbour table, which all namespaces share.
The times are the driver's own measurement of the discovery call, without
Wine's start-up. Usable standalone: python3 tools/bench/bench_lan.py
"""
import os
import statistics
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
import lan_netns  # noqa: E402
import winetest  # noqa: E402

FIND_GOAL_S = 0.5
BATCH_WAIT_S = 0.25
SLASH16_CANDIDATES = 65531  # 253 of the own /24, then the rest of the /16 without it
SLASH16_BATCHES = -(-SLASH16_CANDIDATES // 400)
SWEEP_GOAL_S = SLASH16_BATCHES * BATCH_WAIT_S
FIND_RUNS = 5


def _discover_seconds(wine):
    fields = lan_netns.discover(wine)
    return int(fields["elapsedMs"]) / 1000.0, fields


def measure_find():
    host = "192.168.77.130"
    with lan_netns.LanLab("192.168.77.20/24", host_addresses=[host]) as lab:
        with lan_netns.NamespaceWine(lab, winetest.BUILD_DIR) as wine:
            lab.listen(host)
            _discover_seconds(wine)  # the prefix's first start loads Winsock and IP Helper
            times = []
            for _ in range(FIND_RUNS):
                lab.forget_neighbours()
                seconds, fields = _discover_seconds(wine)
                if fields.get("lanHostText") != host:
                    raise RuntimeError("the /24 host was not found: %s" % fields)
                times.append(seconds)
    return times


def measure_sweep():
    with lan_netns.LanLab("10.77.0.2/16") as lab:
        with lan_netns.NamespaceWine(lab, winetest.BUILD_DIR) as wine:
            seconds, fields = _discover_seconds(wine)
            if fields.get("lanState") != "1":
                raise RuntimeError("the /16 sweep found a host: %s" % fields)
    return seconds


def run():
    load_before = os.getloadavg()[0]
    find_times = measure_find()
    sweep = measure_sweep()
    find = statistics.median(find_times)
    overhead = sweep - SWEEP_GOAL_S
    figures = {
        "find_slash24_s": find,
        "find_slash24_runs_s": find_times,
        "find_ratio_to_goal": find / FIND_GOAL_S,
        "sweep_slash16_s": sweep,
        "sweep_ratio_to_goal": sweep / SWEEP_GOAL_S,
        "sweep_overhead_per_connect_ms": 1000.0 * overhead / SLASH16_CANDIDATES,
        "load_average": (load_before, os.getloadavg()[0]),
    }
    print("  find host on a /24:   %.3f s median of %d (%s s); goal < %.1f s; ratio %.2f"
          % (find, len(find_times), ", ".join("%.3f" % t for t in find_times), FIND_GOAL_S,
             figures["find_ratio_to_goal"]))
    print("  /16 sweep, no host:   %.1f s; goal %d x %.2f s = %.1f s (+10 %% = %.1f s); ratio %.3f"
          % (sweep, SLASH16_BATCHES, BATCH_WAIT_S, SWEEP_GOAL_S, SWEEP_GOAL_S * 1.1,
             figures["sweep_ratio_to_goal"]))
    print("  beyond the waits:     %.1f s, %.3f ms per connect (socket, connect, close)"
          % (overhead, figures["sweep_overhead_per_connect_ms"]))
    print("  load average:         %.1f before, %.1f after (2 cores)" % figures["load_average"])
    return figures


if __name__ == "__main__":
    try:
        run()
    except lan_netns.LabUnavailable as reason:
        print("skipped:", reason)
        sys.exit(lan_netns.SKIP)
