"""Starts the development center for Python-driven tests, in-process on a thread.

    from devcenter_fixture import running_devcenter
    with running_devcenter() as center:
        center.base_url       # http://127.0.0.1:PORT/support-center, for --server-url=
        center.control        # ControlClient: reset(), set_faults(...), queue(...), log(...), counters(...)
        environment(center)   # ORIVANTA_TEST_CENTER_URL / ORIVANTA_TEST_CENTER_CONTROL for a program

Packages default to small demo installers (real programs that write
"<path>.launched.txt" when started), built once and cached in the build tree.
"""
import contextlib
import os
import sys

import winetest

sys.path.insert(0, os.path.join(winetest.SOURCE_DIR, "tools"))
from devcenter import DevCenter  # noqa: E402

# A few hundred KiB: big enough for several progress steps, small enough to stay fast.
DEFAULT_DEMO_SIZE = 320 * 1024


def cache_dir():
    return os.path.join(winetest.BUILD_DIR, "devcenter-cache")


def environment(center):
    """What a test program needs to find the center (see tests/support/DevCenterClient.h)."""
    return {"ORIVANTA_TEST_CENTER_URL": center.base_url, "ORIVANTA_TEST_CENTER_CONTROL": center.control_url}


@contextlib.contextmanager
def running_devcenter(**options):
    """DevCenter(**options) started on a free loopback port for the with-block."""
    if "packages" not in options and "generated_size" not in options:
        options.setdefault("demo_size", DEFAULT_DEMO_SIZE)
    options.setdefault("cache_dir", cache_dir())
    with DevCenter(**options) as center:
        yield center
