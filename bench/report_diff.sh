#!/usr/bin/env bash
# Compares the reports of two builds of corvane, made one after the other in one benchmark world
# built in private network and PID namespaces that die with the run:
#   bench/report_diff.sh OLD_BIN_DIR NEW_BIN_DIR [small|big]
# Once with the default settings and once with localhost shown, both with IPv6 not shown (the
# view older builds have); prints "identical", or the start of the difference and exits 1.
# The socket holder comes from the new folder (an older one may not hold IPv6 sockets), else
# from the old one.
set -euo pipefail

if [ "${1:-}" != --inside ]; then
    if [ $# -lt 2 ] || [ $# -gt 3 ] || [[ ! ${3:-big} =~ ^(small|big)$ ]]; then
        echo "usage: $0 OLD_BIN_DIR NEW_BIN_DIR [small|big]" >&2
        exit 2
    fi
    if [ "$(id -u)" -ne 0 ]; then
        echo "report_diff: the world is built in private namespaces, which needs root" >&2
        exit 2
    fi
    old=$(cd "$1" && pwd)
    new=$(cd "$2" && pwd)
    # As in run.sh: this script is PID 1 of the new namespace, and all it starts dies with it.
    exec unshare --net --pid --fork --mount-proc -- bash "$0" --inside "$old" "$new" "${3:-big}"
fi

export LC_ALL=C
old=$2
new=$3
size=$4
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=world.sh
. "$here/world.sh"

bin=$new
[ -x "$bin/corvane_bench_sockholder" ] || bin=$old
if [ ! -x "$bin/corvane_bench_sockholder" ]; then
    echo "report_diff: neither folder has corvane_bench_sockholder" >&2
    exit 2
fi

scratch=$(mktemp -d /tmp/corvane-report-diff.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

world_build "$size" >"$scratch/world.log"
if ! check_world >>"$scratch/world.log"; then
    cat "$scratch/world.log" >&2
    echo "report_diff: the world is not what it should be; nothing compared" >&2
    exit 2
fi

unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
# report NAME BIN_DIR [SEED]: NAME.txt from that build, with fresh settings (those of the store
# SEED, when given), less its time stamp.
report() {
    mkdir -m 700 "$scratch/$1" "$scratch/$1/cfg"
    [ -z "${3:-}" ] || cp "$3" "$scratch/$1/cfg/machine.reg"
    if ! XDG_RUNTIME_DIR=$scratch/$1 XDG_CONFIG_HOME=$scratch/$1/xdg \
        CORVANE_CONFIG_DIR=$scratch/$1/cfg "$2/corvane" --report "$scratch/$1.report"; then
        echo "report_diff: the report of $2 failed" >&2
        exit 2
    fi
    grep -v '^Generated at:' "$scratch/$1.report" >"$scratch/$1.txt"
}
# same A B WHAT: says whether A.txt and B.txt are the same, and shows the start of the difference.
same() {
    if cmp -s "$scratch/$1.txt" "$scratch/$2.txt"; then
        return 0
    fi
    echo "the reports differ ($3):"
    diff "$scratch/$1.txt" "$scratch/$2.txt" | head -n 40 || true
    return 1
}

# The IPv4-only view of each build is compared: a build that knows the "Show IPv6" option runs
# again with it off in the settings its first run wrote.
ipv4_only() {
    report "$1-first" "$2"
    local settings=$scratch/$1-first/cfg/machine.reg
    if grep -qaF 'Show IPv6' "$2/corvane"; then
        grep -vF '"Show IPv6" =' "$settings" |
            sed '/^\[Software\\halvern\\zorvent\]$/a "Show IPv6" = int:0' >"$scratch/$1.v4"
        grep -qxF '"Show IPv6" = int:0' "$scratch/$1.v4" || {
            echo "report_diff: no settings section to turn IPv6 off in" >&2
            exit 2
        }
    else
        cp "$settings" "$scratch/$1.v4"
    fi
    report "$1" "$2" "$scratch/$1.v4"
}
ipv4_only old "$old"
ipv4_only new "$new"
same old new "default settings, IPv6 not shown" || exit 1

# The world's connections are all on loopback, which the default settings leave out: once more
# with the settings each build wrote, but with localhost shown.
for b in old new; do
    sed 's/^"Ignore localhost" = int:1$/"Ignore localhost" = int:0/' "$scratch/$b/cfg/machine.reg" \
        >"$scratch/$b.seed"
    if cmp -s "$scratch/$b/cfg/machine.reg" "$scratch/$b.seed"; then
        echo "report_diff: the $b build's settings have no \"Ignore localhost\" to turn off" >&2
        exit 2
    fi
done
report old-lo "$old" "$scratch/old.seed"
report new-lo "$new" "$scratch/new.seed"
same old-lo new-lo "localhost shown" || exit 1
echo identical
