#!/usr/bin/env bash
# Builds Corvane and starts it: the window where a display exists, the status on standard
# output where none does. Arguments go to the program. Only the program's output reaches
# standard output; what apt and the build say goes to standard error.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run >&2
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCORVANE_TESTS=OFF -DCORVANE_BENCH=OFF >&2
# The program builds the libraries it binds and the window it loads with it.
cmake --build build --target corvane >&2
exec build/bin/corvane "$@"
