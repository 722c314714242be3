# shellcheck shell=bash
# The benchmark world: links, addresses, routes, sockets and processes in the current (private)
# namespaces, and the check that they all came to be. Sourced by inside.sh and report_diff.sh.

# world_size small|big: the counts everything else reads. IPv6 has a tenth of IPv4's routes
# and sockets.
world_size() {
    case $1 in
    big)
        pairs=100 routes=100000 connections=5000 udp=500 holders=10 idlers=200
        routes6=10000 connections6=500 udp6=50
        ;;
    small)
        pairs=1 routes=1000 connections=50 udp=5 holders=2 idlers=2
        routes6=100 connections6=5 udp6=1
        ;;
    esac
}

# Pair i: ends cb<i> and cp<i>, addresses 172.16.i.1/24, 172.17.i.1/24 and fd00:0:0:i::1/64
# (i in hex) on cb<i>; both ends have their link-local address too.
world_links() {
    local i
    ip link set lo up
    {
        for ((i = 0; i < pairs; i++)); do
            echo "link add cb$i type veth peer name cp$i"
            echo "link set cb$i up"
            echo "link set cp$i up"
            echo "addr add 172.16.$i.1/24 dev cb$i"
            echo "addr add 172.17.$i.1/24 dev cb$i"
            printf 'addr add fd00:0:0:%x::1/64 dev cb%d\n' "$i" "$i"
        done
    } | ip -batch -
}

# Distinct /24s from 20.0.0.0 upwards, their gateways taken in turn from the pairs, and a
# default route through the first pair; distinct /64s from 2001:db8:: upwards through the
# pairs' IPv6 peers.
world_routes() {
    awk -v n="$routes" -v n6="$routes6" -v pairs="$pairs" 'BEGIN {
        for (r = 0; r < n; r++)
            printf "route add %d.%d.%d.0/24 via 172.16.%d.2\n",
                20 + int(r / 65536), int(r / 256) % 256, r % 256, r % pairs
        print "route add default via 172.16.0.254"
        for (r = 0; r < n6; r++)
            printf "route add 2001:db8:%x:%x::/64 via fd00:0:0:%x::2\n",
                int(r / 65536), r % 65536, r % pairs
    }' | ip -batch -
    # The gateway answers, as a real one would: its address resolves without asking the wire.
    ip neigh replace 172.16.0.254 lladdr "$(cat /sys/class/net/cp0/address)" dev cb0 nud permanent
    # A route added to and removed from a table the Routes page does not show: announced as
    # changes, while the rows stay the same.
    # shellcheck disable=SC2034 # read by the scripts that source this one
    touch_routes="ip route add unreachable 192.0.2.0/24 table 100 && ip route del unreachable 192.0.2.0/24 table 100"
}

# The default gateway falls silent, as a dead router does: its permanent entry goes, and no
# address on the far end of its pair answers for it.
world_silent_gateway() {
    ip neigh del 172.16.0.254 dev cb0
}

# The socket holders, the first with the TCP connections of both families, all sharing the
# UDP sockets; their pids go to holder_pids.
world_sockets() {
    local h share share6
    local -a tcp
    ulimit -n $((2 * connections + udp + 2 * connections6 + udp6 + 1024))
    holder_pids=()
    for ((h = 0; h < holders; h++)); do
        share=$((udp / holders + (h < udp % holders ? 1 : 0)))
        share6=$((udp6 / holders + (h < udp6 % holders ? 1 : 0)))
        tcp=()
        ((h > 0)) || tcp=(--tcp "$connections" --tcp6 "$connections6")
        holder_pids+=("$("$bin/corvane_bench_sockholder" "${tcp[@]}" --udp "$share" \
            --udp6 "$share6")")
    done
}

world_idlers() {
    local i
    for ((i = 0; i < idlers; i++)); do
        sleep infinity &
    done
}

# world_build small|big: the whole world in the current namespaces, with their own sysfs.
# Needs bin (the folder of the socket holder).
world_build() {
    local t0 t1
    world_size "$1"
    # The sysfs of this network namespace, as on a machine that has only these links.
    mount -t sysfs sysfs /sys
    # No duplicate address detection on this namespace's links: their link-local addresses and
    # routes are there at once, so the counts and a page read later agree.
    echo 0 >/proc/sys/net/ipv6/conf/default/accept_dad
    echo 0 >/proc/sys/net/ipv6/conf/all/accept_dad
    t0=$(date +%s.%N)
    world_links
    world_routes
    world_sockets
    world_idlers
    t1=$(date +%s.%N)
    awk -v s="$1" -v a="$t0" -v b="$t1" 'BEGIN { printf "world (%s) built in %.1f s\n", s, b - a }'
}

# check_count WHAT GOT WANT: one line of the check; a wrong count is remembered.
check_count() {
    printf '  %-34s %8s' "$1" "$2"
    if [ "$2" -eq "$3" ]; then
        echo
    else
        echo "   expected $3"
        world_wrong=1
    fi
}

# Compares the world with its counts; returns non-zero when anything is off. Sets
# route_rows, the rows the Routes page must show (the main and local tables of both
# families: "Show IPv6" is on in a fresh store).
check_world() {
    world_wrong=0
    local main local_ main6 local6 procs owners links
    main=$(ip -4 route show table main | wc -l)
    local_=$(ip -4 route show table local | wc -l)
    main6=$(ip -6 route show table main | wc -l)
    local6=$(ip -6 route show table local | wc -l)
    route_rows=$((main + local_ + main6 + local6))
    links=$((2 * pairs + 1))
    echo "world:"
    check_count "interfaces" "$(ip -o link show | wc -l)" "$links"
    check_count "IPv4 addresses" "$(ip -4 -o addr show | wc -l)" $((2 * pairs + 1))
    # ::1, a link-local address on every veth end and the ULA of each pair.
    check_count "IPv6 addresses" "$(ip -6 -o addr show | wc -l)" $((links + pairs))
    check_count "IPv6 global addresses" "$(ip -6 -o addr show scope global | wc -l)" "$pairs"
    check_count "routes in the main table" "$main" $((routes + 1 + 2 * pairs))
    check_count "default routes" "$(ip -4 route show table main default | wc -l)" 1
    # Beside the routes: fe80::/64 on every veth end and each pair's /64 (::1 is in local).
    check_count "IPv6 routes in the main table" "$main6" $((routes6 + 3 * pairs))
    check_count "IPv6 routes via the pairs' peers" "$(ip -6 route show table main | grep -c ' via ')" "$routes6"
    check_count "TCP listeners" "$(ss -4 -tlnH | wc -l)" 1
    check_count "TCP established" "$(ss -4 -tnH state established | wc -l)" $((2 * connections))
    check_count "TCP sockets" "$(ss -4 -tanH | wc -l)" $((2 * connections + 1))
    check_count "UDP sockets" "$(ss -4 -uanH | wc -l)" "$udp"
    check_count "IPv6 TCP listeners" "$(ss -6 -tlnH | wc -l)" 1
    # ss shows a listener on [::] that takes IPv4 too as "*".
    check_count "  of them dual-stack" "$(ss -6 -tlnH | awk '$4 ~ /^\*:/' | wc -l)" 1
    check_count "IPv6 TCP established" "$(ss -6 -tnH state established | wc -l)" $((2 * connections6))
    check_count "IPv6 TCP sockets" "$(ss -6 -tanH | wc -l)" $((2 * connections6 + 1))
    check_count "IPv6 UDP sockets" "$(ss -6 -uanH | wc -l)" "$udp6"
    owners=$(ss -tuanpH | grep -o 'pid=[0-9]*' | sort -u | wc -l)
    check_count "socket owner processes" "$owners" "$holders"
    # Globbed in this shell, so no helper of the count is counted.
    procs=(/proc/[0-9]*)
    check_count "processes (this script included)" "${#procs[@]}" $((1 + holders + idlers))
    echo "  rows the Routes page must show     $(printf '%8s' "$route_rows")"
    return "$world_wrong"
}
