#!/usr/bin/env bash
# Builds the Debian package in an optimised build installed under /usr (stripped when packed;
# warnings do not fail it, as a newer compiler may add some) and prints its path:
#   scripts/package.sh && sudo apt-get install ./build-release/corvane_*.deb
#   PACKAGE_BUILD_DIR   build folder (default build-release)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run >&2
build=${PACKAGE_BUILD_DIR:-build-release}
jobs=$(($(nproc) < 2 ? $(nproc) : 2))

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    -DCORVANE_TESTS=OFF -DCORVANE_BENCH=OFF -DCORVANE_WERROR=OFF >&2
cmake --build "$build" --parallel "$jobs" >&2
rm -f "$build"/corvane_*.deb
(cd "$build" && cpack -G DEB) >&2
ls "$build"/corvane_*.deb
