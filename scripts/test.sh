#!/usr/bin/env bash
# Builds Corvane with sanitizers, library assertions and warnings as errors, then runs every
# test through ctest. Network-namespace tests need root and skip themselves without it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCORVANE_SANITIZE=ON -DCORVANE_WERROR=ON
cmake --build build-test
ctest --test-dir build-test --output-on-failure "$@"
