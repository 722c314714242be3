#!/usr/bin/env bash
# Captures real samples for the fuzz seeds into OUTDIR (default tests/fuzz/corpus): netlink
# dumps and announcements of a small world, DHCP leases from dhclient and dhcpcd served by
# dnsmasq, and procfs texts. Needs root; everything happens in private network and mount
# namespaces, so the machine's own configuration is never touched. Run by hand when a seed
# should be renewed; the captured files are committed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$(realpath -m "${1:-$here/../corpus}")
[ "$(id -u)" -eq 0 ] || { echo "capture.sh needs root" >&2; exit 1; }
mkdir -p "$out"

world() {
    ip link set lo up
    ip link add veth0 type veth peer name veth1
    ip link add br0 type bridge
    ip link set veth1 master br0
    ip tuntap add dev tun0 mode tun
    for l in veth0 veth1 br0 tun0; do ip link set "$l" up; done
    ip addr add 10.20.0.1/24 dev veth0
    ip addr add 10.20.0.5/24 dev veth0 label veth0:1
    ip addr add 10.40.0.1 peer 10.40.0.2 dev veth0
    ip addr add 10.50.0.1/30 dev tun0
    ip route add default via 10.20.0.254
    ip route add 10.60.0.0/16 via 10.20.0.2 metric 5 src 10.20.0.5
    ip route add 10.70.0.0/16 nexthop via 10.20.0.2 nexthop via 10.20.0.3 weight 2
    ip route add 10.80.0.0/16 dev veth0 table 1000
    ip route add blackhole 10.90.0.0/16
    ip route add 10.91.0.0/16 via 10.20.0.2 mtu 1400
    ip neigh add 10.20.0.2 lladdr 02:00:00:00:00:02 dev veth0 nud permanent
    ip neigh add 10.20.0.3 lladdr 02:00:00:00:00:03 dev veth0 nud stale
}

netlink() {
    world
    python3 "$here/netlink_dump.py" "$out" dump
    python3 "$here/netlink_dump.py" "$out" listen 3 | {
        read -r _
        ip route add 10.100.0.0/16 via 10.20.0.2
        ip route replace 10.100.0.0/16 via 10.20.0.3
        ip route append 10.100.0.0/16 via 10.20.0.2 metric 7
        ip route del 10.100.0.0/16 via 10.20.0.3
        ip addr add 10.20.0.9/24 dev veth0
        ip link set tun0 down
        ip addr del 10.50.0.1/30 dev tun0
        ip link del br0
        cat >/dev/null
    }
}
export -f world netlink
export here out
unshare -n bash -c netlink

# DHCP: dnsmasq in a peer namespace at the far end of a veth pair; the clients keep their
# state in private mounts.
dhcp() {
    mount -t tmpfs tmpfs /run
    mount -t tmpfs tmpfs /var/lib/dhcpcd
    touch "$state/resolv.conf" && mount --bind "$state/resolv.conf" /etc/resolv.conf
    ip link set lo up
    unshare -n sleep 60 &
    peer=$!
    sleep 0.2
    ip link add dh0 type veth peer name dh1
    ip link set dh1 netns "$peer"
    ip link set dh0 up
    nsenter -t "$peer" -n sh -c 'ip link set lo up; ip link set dh1 up; ip addr add 10.99.0.1/24 dev dh1'
    nsenter -t "$peer" -n /usr/sbin/dnsmasq --no-resolv --no-hosts --port=0 --interface=dh1 \
        --bind-interfaces --dhcp-range=10.99.0.50,10.99.0.60,1h --dhcp-option=6,10.99.0.1 \
        --domain=corvane.test --pid-file="$state/dnsmasq.pid" --dhcp-leasefile="$state/dnsmasq.leases"
    timeout 30 /usr/sbin/dhclient -4 -1 -pf "$state/dhclient.pid" -lf "$state/dhclient.leases" dh0
    timeout 30 /usr/sbin/dhclient -4 -pf "$state/dhclient.pid" -lf "$state/dhclient.leases" -r dh0
    mkdir -p "$out/dhclient_leases" "$out/dhcpcd_lease" "$out/resolver"
    cp "$state/dhclient.leases" "$out/dhclient_leases/released.leases"
    timeout 30 /usr/sbin/dhclient -4 -1 -pf "$state/dhclient.pid" -lf "$state/dhclient.leases" dh0
    timeout 30 /usr/sbin/dhclient -4 -pf "$state/dhclient.pid" -lf "$state/dhclient.leases" -x dh0
    cp "$state/dhclient.leases" "$out/dhclient_leases/renewed.leases"
    cp /etc/resolv.conf "$out/resolver/dhclient-resolv.conf"
    ip addr flush dev dh0
    timeout 40 /usr/sbin/dhcpcd -4 -w dh0 >/dev/null 2>&1
    cp /var/lib/dhcpcd/dh0.lease "$out/dhcpcd_lease/dh0.lease"
    /usr/sbin/dhcpcd -4 -U dh0 >"$out/dhcpcd_lease/dh0.dump"
    cp /etc/resolv.conf "$out/resolver/dhcpcd-resolv.conf"
    /usr/sbin/dhcpcd -x dh0 >/dev/null 2>&1 || true
    kill "$(cat "$state/dnsmasq.pid")" "$peer" 2>/dev/null || true
}
state=$(mktemp -d)
export -f dhcp
export state
unshare -n -m --propagation private bash -c dhcp
rm -rf "$state"

mkdir -p "$out/proc_net_snmp" "$out/proc_stat"
unshare -n cat /proc/net/snmp >"$out/proc_net_snmp/fresh-namespace"
cp /proc/net/snmp "$out/proc_net_snmp/host"
cp /proc/self/stat "$out/proc_stat/cat"
sleep 5 &
cp "/proc/$!/stat" "$out/proc_stat/sleeping"
kill $!
python3 -c 'import os, sys, time
child = os.fork()
if child == 0:
    os._exit(0)
time.sleep(0.2)  # not reaped yet: a zombie
sys.stdout.write(open(f"/proc/{child}/stat").read())' >"$out/proc_stat/zombie"
cp /proc/2/stat "$out/proc_stat/kernel-thread"
# A command name with blanks and parentheses of its own.
bash -c 'printf "%s" "a) (b c" >/proc/$$/comm; printf "%s\n" "$(</proc/$$/stat)"' >"$out/proc_stat/awkward-name"
echo "seeds written to $out"
