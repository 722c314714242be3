#!/usr/bin/env bash
# clang-tidy over our own sources, using a build's compile commands (default: the test build).
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-test}
[ -f "$build/compile_commands.json" ] || { echo "no $build/compile_commands.json: build first" >&2; exit 1; }
out=$(mktemp)
git ls-files --cached --others --exclude-standard 'src/*.cpp' 'sys/*.cpp' | xargs -r -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet >"$out" 2>&1
rc=$?
grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$|^Suppressed [0-9]+ warnings|^Use -header-filter' "$out"
rm -f "$out"
[ $rc -eq 0 ] && echo "clang-tidy: clean"
exit $rc
