#!/bin/bash
# Builds the assistant and runs its main job against the local development center
# (see tools/run_main.py for what it does with and without a display).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup-debian.sh
bash tools/build.sh
python3 tools/run_main.py "$@"
