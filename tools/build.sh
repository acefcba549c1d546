#!/bin/bash
# Configures and builds the 64-bit program with its tests (build/) and the
# 32-bit program (build-i686/), cross-compiled with MinGW-w64.
set -euo pipefail
cd "$(dirname "$0")/.."

# The toolchain is given only when a build folder is first configured; CMake
# keeps it in the cache and warns when it is given again.
configure() {
    local folder=$1 toolchain=$2
    shift 2
    if [ -f "$folder/CMakeCache.txt" ]; then
        cmake -S . -B "$folder" "$@" >/dev/null
    else
        cmake -S . -B "$folder" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" "$@" >/dev/null
    fi
}

# Development builds trust the development publisher only, whose test-fixture key
# signs the development center's demo installers. A release build pins the
# vendor's own keys instead (README, Signed installers).
dev_pin=$(openssl x509 -in tools/devcenter/dev-signing/publisher.crt -noout -pubkey |
          openssl pkey -pubin -outform DER | openssl dgst -sha256 -r | cut -d' ' -f1)

configure build cmake/mingw-x86_64.cmake -DORIVANTA_PUBLISHER_KEYS="$dev_pin"
cmake --build build
configure build-i686 cmake/mingw-i686.cmake -DORIVANTA_BUILD_TESTS=ON -DORIVANTA_TEST_DRIVERS_ONLY=ON -DORIVANTA_PUBLISHER_KEYS="$dev_pin"
cmake --build build-i686
