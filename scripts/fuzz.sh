#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang and runs each for a bounded time,
# seeded from a scratch copy of tests/fuzz/corpus/<target> (the tree is never changed by a
# run). Exits non-zero when any target crashed, leaked, hung or broke one of its checks; the
# input that did it and the log stay in <build>/runs/<target>/.
#
# usage: scripts/fuzz.sh [target...]      (default: every target)
#   FUZZ_SECONDS   fuzzing time per target (default 20)
#   FUZZ_JOBS      targets run at once (default: the cores, at most 2)
#   FUZZ_BUILD_DIR build folder (default build-fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

seconds=${FUZZ_SECONDS:-20}
jobs=${FUZZ_JOBS:-$(($(nproc) < 2 ? $(nproc) : 2))}
build=${FUZZ_BUILD_DIR:-build-fuzz}

if [ $# -gt 0 ]; then
    targets=("$@")
else
    targets=()
    for f in tests/fuzz/*.cpp; do
        targets+=("$(basename "$f" .cpp)")
    done
fi

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build "$build" --parallel "$jobs" --target "${targets[@]/#/fuzz_}"

symbolizer=/usr/lib/llvm-14/bin/llvm-symbolizer
[ -x "$symbolizer" ] && export ASAN_SYMBOLIZER_PATH=$symbolizer
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# One target: its seeds copied to a scratch folder, fuzzed there, the outcome in "status".
fuzz_one() {
    local target=$1 dir=$build/runs/$1
    rm -rf "$dir"
    mkdir -p "$dir/corpus"
    [ -d "tests/fuzz/corpus/$target" ] || { echo "no seeds in tests/fuzz/corpus/$target" >"$dir/log"; echo 1 >"$dir/status"; return; }
    cp -R "tests/fuzz/corpus/$target/." "$dir/corpus/"
    local rc=0
    "$build/bin/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$dir/" "$dir/corpus" >"$dir/log" 2>&1 || rc=$?
    echo "$rc" >"$dir/status"
}

start=$SECONDS
for target in "${targets[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do
        wait -n || true
    done
    fuzz_one "$target" &
done
wait

failed=()
for target in "${targets[@]}"; do
    dir=$build/runs/$target
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" 2>/dev/null || true)
    if [ "$(cat "$dir/status" 2>/dev/null || echo 1)" = 0 ]; then
        printf '%-20s ok, %s inputs\n' "$target" "${runs:-?}"
    else
        failed+=("$target")
        printf '%-20s FAILED (%s)\n' "$target" "$dir"
        grep -v -E '^(#[0-9]+|INFO:)' "$dir/log" | tail -n 40 | sed 's/^/    /'
    fi
done
echo "fuzzing took $((SECONDS - start)) s for ${#targets[@]} targets, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ]
