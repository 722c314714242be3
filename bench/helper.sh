#!/usr/bin/env bash
# One route change through the privileged helper, as an unprivileged caller makes it: the
# median of 100 adds and of 100 deletes; and a persistent list of 10,000 routes, through the
# library's batch and as the program adds a loaded list. Release build, on a private system
# bus with polkit stood in (as root):  bench/helper.sh
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then
    echo "bench: the helper runs as root in a private network namespace" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${BENCH_BUILD_DIR:-$root/build-bench}
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_TESTS=OFF
fi
cmake --build "$build" -j2 --target corvane-helper corvane_bench_helper
exec /usr/bin/python3 "$root/tests/helper/test_helper_bus.py" "$build/bin/corvane-helper" \
    "$build/bin/corvane_bench_helper" "$root/sys/helper/dist/org.corvane.Helper.conf" \
    HelperBus.test_route_change_time HelperBus.test_route_list_time
