#!/usr/bin/env bash
# Builds Corvane and starts it: the window where a display exists, the status on standard
# output where none does. Arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
exec build/bin/corvane "$@"
