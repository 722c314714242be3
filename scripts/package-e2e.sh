#!/usr/bin/env bash
# The installed package's helper as a user meets it: an unprivileged user's program changes
# routes through the installed platform library and stores a persistent route; a system bus
# whose policy is the installed one starts the installed helper on demand, and the real polkitd
# decides from the installed actions and a rule. Everything runs in private mount and network
# namespaces, so this machine's polkit rules, /etc/corvane and routes are never touched.
# Needs root and the package installed (scripts/package-check.sh runs it).
#   scripts/package-e2e.sh PROBE [UNIT]
#   PROBE  corvane_package_probe (tests/package), run as nobody
#   UNIT   the helper's systemd unit whose ExecStart= the bus runs (default: the installed one)
#
# Activation: the machine's bus hands the helper to systemd (SystemdService=), which runs the
# unit's ExecStart=. This machine runs no systemd, so the private bus gets a service file of
# its own whose Exec= is that ExecStart=; a wrong path in the unit then fails here as it would
# under systemd. Without a <servicehelper> (the setuid launcher the machine's bus uses) the bus
# forks the service itself, as its own user (root), and User= is not consulted; the helper
# inherits the bus's environment, which is why the bus is started with a clean one.
set -euo pipefail

bus_name=org.corvane.Helper
bus_file=/usr/share/dbus-1/system-services/$bus_name.service
unit_dir=/usr/lib/systemd/system
path=/usr/sbin:/usr/bin:/sbin:/bin
# The default policy the helper's tests give their private buses too.
default_policy=$(realpath "$(dirname "$0")/../tests/helper/default-policy.conf")
# Who the probe runs as, and the route and stored name it asks for on 10.78.0.0/24 (ve0).
user=nobody
route=(10.95.0.0 255.255.0.0 10.78.0.2 ve0 7)
stored_name=10.95.0.0,255.255.0.0,10.78.0.2,7
kept_route=10.96.0.0/16

fail() {
    echo "package-e2e: FAILED: $*" >&2
    exit 1
}

# ---- outside: the installed files, then the namespaces ----
if [ "${1:-}" != --inside ]; then
    [ "$(id -u)" -eq 0 ] || fail "needs root"
    [ $# -ge 1 ] && [ -x "$1" ] || fail "usage: package-e2e.sh PROBE [UNIT] (no probe at '${1:-}')"
    probe=$(realpath "$1")
    [ -r "$bus_file" ] || fail "the package installed no bus activation file $bus_file"
    [ "$(sed -n 's/^Name=//p' "$bus_file")" = "$bus_name" ] || fail "$bus_file does not name $bus_name"
    systemd_service=$(sed -n 's/^SystemdService=//p' "$bus_file")
    [ -n "$systemd_service" ] || fail "$bus_file hands activation to no systemd unit"
    [ -r "$unit_dir/$systemd_service" ] || fail "$bus_file names $systemd_service, not installed in $unit_dir"
    unit=${2:-$unit_dir/$systemd_service}
    [ "$(sed -n 's/^BusName=//p' "$unit")" = "$bus_name" ] || fail "$unit does not take $bus_name"
    # What systemd would run: the command without its prefixes (-@:+!).
    exec_start=$(sed -n -E 's/^ExecStart=[-@:+!]*//p' "$unit")
    [ -n "$exec_start" ] || fail "$unit has no ExecStart="
    [ "$(wc -l <<<"$exec_start")" -eq 1 ] || fail "$unit has more than one ExecStart="
    for file in /usr/share/dbus-1/system.d/$bus_name.conf /usr/share/polkit-1/actions/org.corvane.policy \
        /usr/lib/polkit-1/polkitd /etc/polkit-1/rules.d; do
        [ -e "$file" ] || fail "$file is missing"
    done
    echo "package-e2e: the bus starts '$exec_start' (ExecStart= of $unit)"

    scratch=$(mktemp -d /tmp/corvane-e2e.XXXXXX)
    chmod 0755 "$scratch"
    made_config=
    cleanup() {
        rm -rf "$scratch"
        # Only a mount point for the namespace's own /etc/corvane, and empty.
        if [ -n "$made_config" ]; then rmdir /etc/corvane 2>/dev/null || true; fi
    }
    trap cleanup EXIT
    if [ ! -e /etc/corvane ]; then
        mkdir -m 0755 /etc/corvane
        made_config=1
    fi
    install -m 0755 "$probe" "$scratch/probe"
    started=$(date +%s%N)
    status=0
    # A pid namespace too: whatever is left in it when its first process ends, the kernel ends.
    timeout -k 5 180 unshare --mount --net --pid --fork --kill-child --mount-proc \
        --propagation private -- bash "$(realpath "$0")" --inside "$scratch" "$exec_start" || status=$?
    [ $status -ne 124 ] && [ $status -ne 137 ] || fail "did not end within 180 s"
    [ $status -eq 0 ] || exit $status
    echo "package-e2e: passed in $((($(date +%s%N) - started) / 1000000)) ms"
    exit 0
fi

# ---- inside the namespaces ----
scratch=$2
exec_start=$3
socket=$scratch/system_bus_socket
address=unix:path=$socket
helper_program=${exec_start%% *}
bus_pid=
polkit_pid=
helper_pid=

# Ends a process of ours by its pid, with a bounded wait; a child of this shell is reaped.
stop() {
    local pid=$1
    [ -n "$pid" ] || return 0
    kill "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do
        case $(ps -o stat= -p "$pid" 2>/dev/null || true) in
        '') return 0 ;;
        Z*) break ;;
        esac
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}
logs() {
    for log in bus polkit; do
        [ -s "$scratch/$log.log" ] && sed "s/^/  $log: /" "$scratch/$log.log" >&2
    done
    return 0
}
finish() {
    local status=$?
    [ $status -eq 0 ] || logs
    [ -n "$helper_pid" ] || [ -z "$bus_pid" ] || helper_pid=$(owner_pid $bus_name)
    stop "$helper_pid"
    stop "$polkit_pid"
    stop "$bus_pid"
    exit $status
}
trap finish EXIT
trap 'exit 143' TERM INT

bus() {
    timeout 10 busctl --address="$address" "$@"
}
owner_pid() {
    bus call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus \
        GetConnectionUnixProcessID s "$1" 2>/dev/null | sed -n 's/^u //p' || true
}
# wait_for_name NAME PID: until the process PID owns NAME.
wait_for_name() {
    for _ in $(seq 100); do
        [ "$(owner_pid "$1")" = "$2" ] && return 0
        kill -0 "$2" 2>/dev/null || fail "$1 (pid $2) ended before it took its name"
        sleep 0.1
    done
    fail "$1 did not appear on the private bus within 10 s"
}
# The probe as the test user: no capabilities, no groups, only the bus address.
as_user() {
    timeout 60 setpriv --reuid="$user" --regid=nogroup --clear-groups --inh-caps=-all \
        --bounding-set=-all -- env -i PATH=$path HOME=/nonexistent DBUS_SYSTEM_BUS_ADDRESS="$address" \
        "$scratch/probe" "$@"
}
library=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/corvane/libcorvane-iphlpapi.so
# result_of route add|delete DEST MASK NEXTHOP IFNAME METRIC, result_of link up|down IFNAME or
# result_of persist add NAME: prints the code the installed library (or the helper client)
# answered the user.
result_of() {
    local out
    if [ "$1" = route ] || [ "$1" = link ]; then
        out=$(as_user "$1" "$2" "$library" "${@:3}" 2>&1) || fail "the probe failed ($*): $out"
        grep -qxF "library $library" <<<"$out" || fail "the change ($*) did not go through $library: $out"
    else
        out=$(as_user "$@" 2>&1) || fail "the probe failed ($*): $out"
    fi
    sed -n 's/^result //p' <<<"$out" | tail -1
}
code_name() {
    case $1 in
    0) echo NO_ERROR ;;
    5) echo ERROR_ACCESS_DENIED ;;
    $((0x20000011))) echo ERROR_HELPER_NOT_ALLOWED ;;
    $((0x20000012))) echo ERROR_HELPER_NOT_AUTHENTICATED ;;
    $((0x20000013))) echo ERROR_HELPER_FAILED ;;
    unreached) echo "no helper answered" ;;
    *) echo "code $1" ;;
    esac
}
refused() {
    case $1 in 5 | $((0x20000011)) | $((0x20000012))) return 0 ;; esac
    return 1
}
route_of() {
    ip -4 route show "$1"
}
store=/etc/corvane/machine.reg
store_state() {
    if [ -e "$store" ] || [ -L "$store" ]; then sha256sum "$store"; else echo absent; fi
}

start_polkit() {
    env -i PATH=$path DBUS_SYSTEM_BUS_ADDRESS="$address" /usr/lib/polkit-1/polkitd --no-debug \
        >>"$scratch/polkit.log" 2>&1 &
    polkit_pid=$!
    wait_for_name org.freedesktop.PolicyKit1 $polkit_pid
}

# Private polkit rules and settings folder: tmpfs over the machine's, seen only in here.
mount -t tmpfs -o mode=0700,uid="$(id -u polkitd)" corvane-e2e-rules /etc/polkit-1/rules.d
mount -t tmpfs -o mode=0755 corvane-e2e-config /etc/corvane
# A network of one veth pair: 10.78.0.1/24 on ve0, a next hop to route through on its link.
ip link set lo up
ip link add ve0 type veth peer name ve1
ip addr add 10.78.0.1/24 dev ve0
ip link set ve0 up
ip link set ve1 up

mkdir -m 0755 "$scratch/services"
cat >"$scratch/services/$bus_name.service" <<EOF
[D-BUS Service]
Name=$bus_name
Exec=$exec_start
User=root
EOF
# The machine's bus policy (system.conf's defaults) and every installed policy file, the
# helper's and polkit's among them; activation only from the service folder above.
cat >"$scratch/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>$address</listen>
  <auth>EXTERNAL</auth>
  <servicedir>$scratch/services</servicedir>
  <limit name="service_start_timeout">15000</limit>
  <include>$default_policy</include>
  <includedir>/usr/share/dbus-1/system.d</includedir>
</busconfig>
EOF
# The helper logs to its standard error, which it shares with the bus.
env -i PATH=$path DBUS_SYSTEM_BUS_ADDRESS="$address" \
    dbus-daemon --config-file="$scratch/bus.conf" --nofork --nopidfile >"$scratch/bus.log" 2>&1 &
bus_pid=$!
for _ in $(seq 100); do
    [ -S "$socket" ] && bus status >/dev/null 2>&1 && break
    kill -0 $bus_pid 2>/dev/null || fail "the private bus did not start"
    sleep 0.1
done
[ -S "$socket" ] || fail "the private bus did not listen within 10 s"
bus list --activatable 2>/dev/null | grep -q "^$bus_name " \
    || fail "the private bus cannot start $bus_name"
start_polkit
DBUS_SYSTEM_BUS_ADDRESS=$address timeout 10 pkaction --action-id org.corvane.routes >/dev/null \
    || fail "polkitd does not know the installed action org.corvane.routes"
echo "package-e2e: private bus pid $bus_pid, polkitd pid $polkit_pid"

# ---- without a rule: refused, nothing changed ----
ip route add "$kept_route" via 10.78.0.2 dev ve0
kernel_before=$(ip -4 route show)
store_before=$(store_state)
code=$(result_of route add "${route[@]}")
echo "package-e2e: route add without a rule: $(code_name "$code")"
# A refusal must come from the helper, which the bus started from the unit's path (asked
# first: a helper that is not there may be answered as a refusal or as a failure).
helper_pid=$(owner_pid $bus_name)
if [ -z "$helper_pid" ]; then
    grep -qF "Activated service '$bus_name' failed" "$scratch/bus.log" \
        && fail "the bus did not start the helper ($exec_start)"
    fail "the user's call reached no helper: the bus policy keeps it from $bus_name?"
fi
running=$(readlink "/proc/$helper_pid/exe" || true)
[ "$running" = "$helper_program" ] || fail "the helper on the bus runs '$running', not $helper_program"
[ "$(stat -c %u "/proc/$helper_pid")" = 0 ] || fail "the helper does not run as root"
refused "$code" || fail "route add without a rule answered $(code_name "$code"), not a refusal"
code=$(result_of route delete "${kept_route%/*}" 255.255.0.0 10.78.0.2 ve0 0)
echo "package-e2e: route delete without a rule: $(code_name "$code")"
refused "$code" || fail "route delete without a rule answered $(code_name "$code"), not a refusal"
code=$(result_of persist add "$stored_name")
echo "package-e2e: persistent route without a rule: $(code_name "$code")"
refused "$code" || fail "storing a persistent route without a rule answered $(code_name "$code")"
[ "$(ip -4 route show)" = "$kernel_before" ] || fail "refused changes changed the routes:
$(ip -4 route show)"
[ "$(store_state)" = "$store_before" ] || fail "a refused store changed $store"

# ---- a rule granting the user the routes: allowed ----
# The rule grants route changes alone: the policy lets them cover storing persistent routes,
# so that one user action is authorised once.
granted='"org.corvane.routes"'
cat >/etc/polkit-1/rules.d/50-corvane-e2e.rules <<EOF
polkit.addRule(function(action, subject) {
    if (subject.user == "$user" && [$granted].indexOf(action.id) >= 0)
        return polkit.Result.YES;
});
EOF
# polkitd reads rules as it starts; a restart makes the new rule count at a known moment.
stop "$polkit_pid"
start_polkit
code=$(result_of route add "${route[@]}")
echo "package-e2e: route add with the rule: $(code_name "$code")"
[ "$code" = 0 ] || fail "route add with the rule answered $(code_name "$code")"
added=$(route_of 10.95.0.0/16)
[[ $added == "10.95.0.0/16 via 10.78.0.2 dev ve0 "*"metric 7"* ]] \
    || fail "the added route is not in the kernel as asked: '$added'"
code=$(result_of route delete "${route[@]}")
echo "package-e2e: route delete with the rule: $(code_name "$code")"
[ "$code" = 0 ] || fail "route delete with the rule answered $(code_name "$code")"
[ -z "$(route_of 10.95.0.0/16)" ] || fail "the deleted route is still there: $(route_of 10.95.0.0/16)"
[ -n "$(route_of "$kept_route")" ] || fail "the delete took $kept_route along"
# The rule grants what it names and nothing else: the interfaces stay out of reach.
code=$(result_of link down ve1)
echo "package-e2e: interface down with the rule (not granted): $(code_name "$code")"
refused "$code" || fail "an interface change the rule does not grant answered $(code_name "$code")"
ip -o link show ve1 | grep -q ',UP' || fail "a refused interface change took ve1 down"
code=$(result_of persist add "$stored_name")
echo "package-e2e: persistent route with the rule: $(code_name "$code")"
[ "$code" = 0 ] || fail "storing a persistent route with the rule answered $(code_name "$code")"
[ -f "$store" ] && [ ! -L "$store" ] || fail "no store file $store after storing"
[ "$(stat -c '%u %a' "$store")" = "0 644" ] || fail "$store is $(stat -c '%U %a' "$store"), not root's 644"
grep -qF '[SYSTEM\CurrentControlSet\Services\Tcpip\Parameters\PersistentRoutes]' "$store" \
    && grep -qF "\"$stored_name\"" "$store" || fail "$store lacks $stored_name: $(cat "$store")"
# The helper logs each change with the caller's uid, as the bus reports it.
uid=$(id -u "$user")
grep -q "^uid $uid: add route 10.95.0.0" "$scratch/bus.log" \
    || fail "the helper logged no route change by uid $uid"
echo "package-e2e: the helper (pid $helper_pid, $helper_program) made and stored the changes:"
grep "^uid " "$scratch/bus.log" | sed 's/^/  /'
