#!/bin/bash
# Configures and builds the 64-bit program with its tests (build/) and the
# 32-bit program (build-i686/), cross-compiled with MinGW-w64.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
cmake --build build
cmake -S . -B build-i686 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DORIVANTA_BUILD_TESTS=OFF >/dev/null
cmake --build build-i686
