#!/usr/bin/env bash
# Builds Corvane and the bench programs in release mode, then measures them inside a private
# network and PID namespace that dies with the run:  bench/run.sh [small|big]
# BENCH_BUILD_DIR names another build folder; BENCH_STRICT=1 fails on a missed bound.
set -euo pipefail

size=${1:-big}
case $size in
small | big) ;;
*)
    echo "usage: $0 [small|big]" >&2
    exit 2
    ;;
esac
if [ "$(id -u)" -ne 0 ]; then
    echo "bench: the world is built in private namespaces, which needs root" >&2
    exit 2
fi

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${BENCH_BUILD_DIR:-$root/build-bench}

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_TESTS=OFF
fi
cmake --build "$build" -j2 --target corvane corvane_bench_time corvane_bench_sockholder \
    corvane_bench_routefill corvane_bench_listadd corvane_bench_ifstats \
    corvane_bench_routedelete corvane_bench_arp corvane_bench_start

# The script inside is PID 1 of the new namespace: when it ends, the kernel kills every
# process left in there and the network namespace goes with the last of them.
exec unshare --net --pid --fork --mount-proc -- bash "$here/inside.sh" "$size" "$build/bin"
