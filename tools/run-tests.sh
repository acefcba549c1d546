#!/bin/bash
# Installs what is missing, builds both architectures and runs every test
# under Wine in the build tree's own prefix.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup-debian.sh
bash tools/build.sh
cd build
ctest --output-on-failure --timeout 900 "$@"
