#!/usr/bin/env bash
# Builds the Debian package in a release build installed under /usr and prints its path:
#   scripts/package.sh && sudo apt-get install ./build-release/corvane_*.deb
#   PACKAGE_BUILD_DIR   build folder (default build-release)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh >&2
build=${PACKAGE_BUILD_DIR:-build-release}
jobs=$(($(nproc) < 2 ? $(nproc) : 2))

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DCORVANE_TESTS=OFF -DCORVANE_BENCH=OFF -DCORVANE_WERROR=ON >&2
cmake --build "$build" --parallel "$jobs" >&2
rm -f "$build"/corvane_*.deb
(cd "$build" && cpack -G DEB) >&2
ls "$build"/corvane_*.deb
