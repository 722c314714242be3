#!/usr/bin/env bash
# The JSON report in the benchmark world: valid against dist/report.schema.json, holding the
# same interfaces, routes, rules and connections as the text report with everything shown,
# and its time against the text report's (default settings), bound 1.2 times.
#   bench/report_json.sh [small|big] [BIN_DIR]   a world of its own in private network and PID
#                                                namespaces that die with the run (as root);
#                                                BIN_DIR defaults to build-bench/bin
#   bench/report_json.sh --in-world BIN_DIR SCRATCH [REPS]
#                                                in a world already built (inside.sh)
# Prints "figure 13 ..." and exits 1 when the report is invalid or differs from the text;
# a missed time bound fails only with BENCH_STRICT=1.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")

if [ "${1:-}" != --in-world ] && [ "${1:-}" != --inside ]; then
    size=${1:-big}
    [[ $size =~ ^(small|big)$ ]] || { echo "usage: $0 [small|big] [BIN_DIR]" >&2; exit 2; }
    if [ "$(id -u)" -ne 0 ]; then
        echo "report_json: the world is built in private namespaces, which needs root" >&2
        exit 2
    fi
    bin=$(cd "${2:-$root/build-bench/bin}" && pwd)
    exec unshare --net --pid --fork --mount-proc -- bash "$0" --inside "$bin" "$size"
fi

export LC_ALL=C
if [ "$1" = --inside ]; then
    bin=$2 size=$3
    # shellcheck source=world.sh
    . "$here/world.sh"
    scratch=$(mktemp -d /tmp/corvane-report-json.XXXXXX)
    trap 'rm -rf "$scratch"' EXIT
    world_build "$size" >"$scratch/world.log"
    if ! check_world >>"$scratch/world.log"; then
        cat "$scratch/world.log" >&2
        echo "report_json: the world is not what it should be; nothing checked" >&2
        exit 2
    fi
    mkdir -m 700 "$scratch/runtime"
    export XDG_RUNTIME_DIR=$scratch/runtime XDG_CONFIG_HOME=$scratch/xdg
    unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
    case $size in big) reps=7 ;; small) reps=5 ;; esac
else
    bin=$2 scratch=$3 reps=${4:-5}
fi
bound=1.20
status=0

# The text report with everything the JSON holds: localhost shown and every table, in the
# settings a first run writes.
cfg=$scratch/json-all
CORVANE_CONFIG_DIR=$cfg "$bin/corvane" --report /dev/null 2>"$scratch/json.log" || true
sed -i -e '/^"Ignore localhost" =/d' -e '/^"Show all routing tables" =/d' \
    -e '/^\[Software\\halvern\\zorvent\]$/a "Ignore localhost" = int:0\n"Show all routing tables" = int:1' \
    "$cfg/machine.reg"
# Taken one after the other: the world holds still meanwhile.
CORVANE_CONFIG_DIR=$cfg "$bin/corvane" --report "$scratch/all.txt" 2>>"$scratch/json.log" || status=1
CORVANE_CONFIG_DIR=$cfg "$bin/corvane" --report "$scratch/report.json" --json \
    2>>"$scratch/json.log" || status=1
if [ $status -ne 0 ]; then
    echo "report_json: a report failed: $(tail -n 3 "$scratch/json.log" | tr '\n' ' ')" >&2
elif ! python3 "$root/scripts/report_json_check.py" "$root/dist/report.schema.json" \
    "$scratch/report.json" "$scratch/all.txt"; then
    status=1
fi

# Both against the default settings, as figure 1 runs the text report.
verdict=
if out=$(CORVANE_CONFIG_DIR=$scratch/json-time "$bin/corvane_bench_time" compare "$reps" \
    -- "$bin/corvane" --report /dev/null --json -- "$bin/corvane" --report /dev/null \
    2>"$scratch/json-time.log"); then
    read -r json_ms text_ms ratio json_kb <<<"$out"
    ratio=$(printf '%.2f' "$ratio")
    if awk -v v="$ratio" -v b="$bound" 'BEGIN { exit !(v <= b) }'; then
        verdict=ok
    else
        verdict=MISSED
        [ "${BENCH_STRICT:-0}" = 1 ] && status=1
    fi
    echo "figure 13 JSON report $json_ms ms vs text report $text_ms ms  ratio $ratio," \
        "peak resident $(awk -v k="$json_kb" 'BEGIN { printf "%.1f", k / 1024 }') MB," \
        "$(stat -c %s "$scratch/report.json") bytes  (bound $bound)  $verdict"
else
    echo "figure 13 not measured: $(tail -n 3 "$scratch/json-time.log" | tr '\n' ' ')"
    [ "${BENCH_STRICT:-0}" = 1 ] && status=1
fi
exit $status
