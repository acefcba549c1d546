"""Shared set-up of the window tests: paths, skipping, screenshots, the development center."""
import os
import shutil
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SUPPORT = os.path.join(os.path.dirname(HERE), "support")
sys.path.insert(0, SUPPORT)

import winetest  # noqa: E402
import window_driver  # noqa: E402

sys.path.insert(0, os.path.join(winetest.SOURCE_DIR, "tools"))

SKIPPED = 77
SCREENSHOTS = os.path.join(winetest.BUILD_DIR, "screenshots")


def missing_tools():
    return [tool for tool in ("Xvfb", "xdotool", "wine") if shutil.which(tool) is None]


def skip_without_tools():
    missing = missing_tools()
    if missing:
        print("skipped: missing", ", ".join(missing))
        sys.exit(SKIPPED)


def screenshot(shot, name):
    """Kept in build/screenshots/, those of the 32-bit program in its x86/ folder."""
    architecture = winetest.architecture()
    path = os.path.join(SCREENSHOTS, *([architecture] if architecture != "x64" else []), name)
    shot.save(path)
    print("screenshot:", path)


def data_root(test):
    folder = tempfile.mkdtemp(prefix="orivanta-window-")
    test.addCleanup(shutil.rmtree, folder, True)
    return folder


def assert_colour(test, shot, point, expected, tolerance=6, what=None):
    actual = shot.pixel(*point)
    test.assertLessEqual(window_driver.colour_distance(actual, expected), tolerance,
                         "%s at canvas %s: #%06X, expected #%06X" % (what or "pixel", point, actual, expected))


def start_center(test, **options):
    """A development center in this process, stopped when the test ends."""
    from devcenter import DevCenter
    center = DevCenter(**options).start()
    test.addCleanup(center.stop)
    return center


def center_answer(center, operation, request):
    """What the center answers to one API call right now (for replaying it later, delayed)."""
    import json
    import urllib.request
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
    call = urllib.request.Request(center.base_url + "/api/installer-downloads/" + operation,
                                  data=json.dumps(request).encode("utf-8"), method="POST",
                                  headers={"Content-Type": "application/json"})
    with opener.open(call, timeout=30) as response:
        return json.loads(response.read().decode("utf-8"))


def files_named(folder, suffix):
    found = []
    for parent, _, names in os.walk(folder):
        found.extend(os.path.join(parent, name) for name in names if name.endswith(suffix))
    return found


def logo_ink_columns(background, tolerance=40):
    """First and past-last pixel column of the logo's top 361 x 64 pixels that stand out on `background`."""
    import subprocess
    convert = "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else "convert"
    width, height = 361, 64
    rgb = subprocess.run(
        [convert, os.path.join(winetest.SOURCE_DIR, "resources", "logo.png"), "-crop", "%dx%d+0+0" % (width, height),
         "+repage", "-background", "#%06X" % background, "-flatten", "-depth", "8", "rgb:-"],
        stdin=subprocess.DEVNULL, capture_output=True, check=True).stdout
    colour = [(background >> 16) & 0xFF, (background >> 8) & 0xFF, background & 0xFF]
    inked = [x for x in range(width)
             if any(max(abs(rgb[(y * width + x) * 3 + i] - colour[i]) for i in range(3)) > tolerance
                    for y in range(height))]
    return inked[0], inked[-1] + 1
