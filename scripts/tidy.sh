#!/usr/bin/env bash
# clang-tidy over our own sources, tests and benchmark, using a build's compile commands
# (default: the test build).
#   scripts/tidy.sh [BUILD_DIR [FILE...]]   FILEs: only those (e.g. the ones a branch changed)
# Files the build does not compile (the fuzz targets of another build) are left out.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-test}
shift || true
[ -f "$build/compile_commands.json" ] || { echo "no $build/compile_commands.json: build first" >&2; exit 1; }
if [ $# -gt 0 ]; then
    files=$(printf '%s\n' "$@" | grep -E '\.cpp$')
else
    files=$(git ls-files --cached --others --exclude-standard 'src/*.cpp' 'sys/*.cpp' 'tests/*.cpp' 'bench/*.cpp')
fi
compiled=$(mktemp)
out=$(mktemp)
trap 'rm -f "$compiled" "$out"' EXIT
sed -n -E 's/^[[:space:]]*"file": "(.*)",?$/\1/p' "$build/compile_commands.json" | sort -u >"$compiled"
list=()
for f in $files; do
    [ -f "$f" ] && grep -qxF "$PWD/$f" "$compiled" && list+=("$f")
done
if [ ${#list[@]} -eq 0 ]; then
    echo "clang-tidy: no compiled files to check"
    exit 0
fi
printf '%s\n' "${list[@]}" | xargs -r -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet >"$out" 2>&1
rc=$?
grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$|^Suppressed [0-9]+ warnings|^Use -header-filter' "$out"
[ $rc -eq 0 ] && echo "clang-tidy: clean (${#list[@]} files)"
exit $rc
