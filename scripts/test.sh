#!/usr/bin/env bash
# Builds Corvane with sanitizers, library assertions and warnings as errors, then runs every
# test through ctest. Network-namespace tests need root and skip themselves without it.
# A test binary that skipped any of its tests shows as skipped in ctest. As root (CI) every
# test can run, so a skip fails the run; otherwise the skips are listed and the run passes.
# CORVANE_SKIPS_FAIL=0 or 1 overrides that choice.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCORVANE_SANITIZE=ON -DCORVANE_WERROR=ON
cmake --build build-test

if [ "$(id -u)" -eq 0 ]; then default_fail=1; else default_fail=0; fi
skips_fail=${CORVANE_SKIPS_FAIL:-$default_fail}

log=$(mktemp)
trap 'rm -f "$log"' EXIT
rc=0
ctest --test-dir build-test --output-on-failure "$@" 2>&1 | tee "$log" || rc=$?
[ "$rc" -eq 0 ] || exit "$rc"

# ctest lists them under "The following tests did not run:" as "  N - name (Skipped)".
skipped=$(sed -n -E 's/^[[:space:]]*[0-9]+ - (.+) \(Skipped\)$/\1/p' "$log")
if [ -n "$skipped" ]; then
    echo
    echo "Skipped:"
    printf '  %s\n' $skipped
    # Our test binaries name each skipped test and why (tests/support/skip_aware.h).
    grep -h -E '^  SKIPPED ' build-test/Testing/Temporary/LastTest*.log 2>/dev/null || true
    if [ "$skips_fail" = 1 ]; then
        echo "test.sh: tests were skipped where every test should run; failing" >&2
        exit 1
    fi
    echo "test.sh: skips expected without root; not a failure"
fi
