"""Runs one Windows test program under Wine in the test prefix; exits with its code.

    run_under_wine.py [--with-devcenter] [--on-desktop-display] PROGRAM [ARGS...]

--with-devcenter starts the development center for the run and passes its URLs
in ORIVANTA_TEST_CENTER_URL and ORIVANTA_TEST_CENTER_CONTROL.
--on-desktop-display gives the program the X display of the prefix's desktop,
without which Wine creates no top-level window.
"""
import contextlib
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winetest  # noqa: E402


def main(arguments):
    options = set()
    while arguments and arguments[0] in ("--with-devcenter", "--on-desktop-display"):
        options.add(arguments.pop(0))
    env_extra = {}
    if "--on-desktop-display" in options:
        from window_driver import desktop_display
        screen = desktop_display()
        if screen is not None:
            env_extra.update(screen.env())
    with contextlib.ExitStack() as stack:
        if "--with-devcenter" in options:
            from devcenter_fixture import environment, running_devcenter
            # Wine's WinHTTP would send loopback requests to a proxy named here.
            for name in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY"):
                os.environ.pop(name, None)
            env_extra.update(environment(stack.enter_context(running_devcenter())))
        result = winetest.run_program(arguments[0], arguments[1:], timeout=570, capture=False, env_extra=env_extra)
    return result.returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
