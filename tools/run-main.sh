#!/bin/bash
# Builds the assistant and runs what exists of its main job.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup-debian.sh
bash tools/build.sh
echo "The window and the download workflow are not built yet; options are read and validated only."
