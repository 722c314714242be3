#!/usr/bin/env bash
# The route keeper against the real network managers, each in a private network, mount and
# bus world: systemd-networkd removes routes it did not add when it restarts and on
# `networkctl reconfigure`, NetworkManager on `nmcli device reapply`; the keeper puts the
# stored route back within two seconds each time. A missing daemon fails the test.
# usage: keeper_daemons.sh CORVANE networkd|networkmanager
set -euo pipefail
corvane=$1 daemon=$2
if [ "${KEEPER_DAEMONS_INSIDE:-}" != 1 ]; then
    [ "$(id -u)" = 0 ] || { echo "needs root for private namespaces"; exit 1; }
    export KEEPER_DAEMONS_INSIDE=1
    exec unshare --net --mount --uts --fork "$0" "$@"
fi

work=
fail() {
    echo "FAIL: $*"
    if [ -f "$work/keeper.log" ]; then cat "$work/keeper.log"; fi
    exit 1
}
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    [ -n "${work:-}" ] && rm -rf "$work"
}
trap cleanup EXIT

mount --make-rprivate /
work=$(mktemp -d)
mount -t tmpfs tmpfs /run
# Read-only: without udev, the daemons take the links at once.
mount -t sysfs -o ro sysfs /sys
mkdir -p /run/dbus
dbus-daemon --system --fork --print-pid >"$work/dbus.pid" || fail "dbus-daemon did not start"
pids+=("$(cat "$work/dbus.pid")")

ip link set lo up
ip link add kp0 type veth peer name kp1
ip link set kp1 up

mkdir -p "$work/store"
cat >"$work/store/machine.reg" <<'STORE'
[SYSTEM\CurrentControlSet\Services\Tcpip\Parameters\PersistentRoutes]
"10.95.0.0,255.255.0.0,10.66.0.2,3" = str:""
STORE

# Waits up to $2 seconds (default 10) for the command $1 to succeed; the seconds it took on
# standard output.
wait_for() {
    local start=$(date +%s%N) limit=$(( ${2:-10} * 1000 ))
    until eval "$1" >/dev/null 2>&1; do
        [ $(( ($(date +%s%N) - start) / 1000000 )) -lt "$limit" ] || return 1
        sleep 0.02
    done
    echo $(( ($(date +%s%N) - start) / 1000000 ))
}
route_there() { ip -4 route show 10.95.0.0/16 | grep -q 'via 10.66.0.2'; }

case "$daemon" in
networkd)
    [ -x /lib/systemd/systemd-networkd ] || fail "systemd-networkd is missing (package systemd)"
    command -v networkctl >/dev/null || fail "networkctl is missing"
    mkdir -p /run/systemd/network /run/systemd/netif
    cat >/run/systemd/network/50-kp0.network <<'NET'
[Match]
Name=kp0
[Network]
Address=10.66.0.1/24
LinkLocalAddressing=no
IPv6AcceptRA=no
NET
    chown -R systemd-network:systemd-network /run/systemd/netif 2>/dev/null || true
    start_daemon() {
        /lib/systemd/systemd-networkd >"$work/daemon.log" 2>&1 &
        daemon_pid=$!
        pids+=("$daemon_pid")
        wait_for "networkctl status kp0 | grep -q 'State: routable (configured)'" 20 >/dev/null \
            || { cat "$work/daemon.log"; fail "networkd did not configure kp0"; }
    }
    start_daemon
    ;;
networkmanager)
    command -v NetworkManager >/dev/null || fail "NetworkManager is missing (package network-manager)"
    command -v nmcli >/dev/null || fail "nmcli is missing"
    mkdir -p "$work/nm"
    cat >"$work/nm.conf" <<NMCONF
[main]
plugins=keyfile
dhcp=internal
no-auto-default=*
[keyfile]
path=$work/nm
NMCONF
    NetworkManager --no-daemon --config="$work/nm.conf" --state-file="$work/nm.state" \
        >"$work/daemon.log" 2>&1 &
    pids+=("$!")
    wait_for "nmcli -t general status" 20 >/dev/null || { cat "$work/daemon.log"; fail "NetworkManager did not answer"; }
    nmcli connection add type ethernet ifname kp0 con-name kp0 ipv4.method manual \
        ipv4.addresses 10.66.0.1/24 ipv6.method disabled >/dev/null
    nmcli connection up kp0 >/dev/null || { cat "$work/daemon.log"; fail "the connection did not come up"; }
    ;;
*)
    fail "unknown daemon $daemon"
    ;;
esac
wait_for "ip -4 addr show dev kp0 | grep -q 10.66.0.1" 20 >/dev/null || fail "kp0 has no address"

CORVANE_CONFIG_DIR=$work/store "$corvane" --keep-persistent-routes 2>"$work/keeper.log" &
keeper=$!
pids+=("$keeper")
wait_for route_there 5 >/dev/null || fail "the keeper did not apply the stored route"

# Each action must take the route (else it proves nothing), and the keeper put it back.
# Each action must take the route (else it proves nothing): the keeper says it put it back.
applied() { grep -c '^applied 10.95.0.0,255.255.0.0,10.66.0.2,3$' "$work/keeper.log" || true; }
# A restart of networkd leaves the route here when the link's configuration is unchanged:
# there the route must only be there afterwards.
check_action() {
    local name=$1 action=$2 must_take=${3:-yes} before took
    before=$(applied)
    eval "$action" >/dev/null 2>&1 || fail "$name failed"
    if took=$(wait_for "[ \$(applied) -gt $before ] && route_there" 5); then
        echo "$daemon: $name: route back $took ms after the action returned"
    elif [ "$must_take" = yes ] || ! route_there; then
        fail "after $name the route was not put back"
    else
        echo "$daemon: $name: the route stayed"
    fi
    # The daemon settles; the route stays.
    sleep 1
    route_there || fail "after $name the route went again and stayed away"
}
case "$daemon" in
networkd)
    check_action "networkctl reconfigure" "networkctl reconfigure kp0"
    check_action "restart" "kill $daemon_pid; wait $daemon_pid 2>/dev/null; start_daemon" maybe
    ;;
networkmanager)
    check_action "nmcli device reapply" "nmcli device reapply kp0"
    check_action "connection up again" "nmcli connection up kp0"
    ;;
esac

kill -TERM "$keeper"
status=0
wait "$keeper" || status=$?
[ "$status" = 0 ] || fail "the keeper ended with status $status on SIGTERM"
echo "$daemon: keeper stopped with status 0"
