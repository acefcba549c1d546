"""Runs one Windows test program under Wine in the test prefix; exits with its code."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winetest  # noqa: E402

if __name__ == "__main__":
    result = winetest.run_program(sys.argv[1], sys.argv[2:], timeout=570, capture=False)
    sys.exit(result.returncode)
