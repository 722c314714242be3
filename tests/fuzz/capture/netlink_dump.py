#!/usr/bin/env python3
"""Writes the raw datagrams of rtnetlink and sock_diag dumps, and of route, address and link
announcements, as fuzz seeds. Run by capture.sh inside the private network namespace it builds.

usage: netlink_dump.py OUTDIR dump|listen [SECONDS]
  dump    links, addresses, routes, neighbours and TCP/UDP sockets of this namespace
  listen  announcements for SECONDS (default 3) while capture.sh changes things
"""
import os
import select
import socket
import struct
import sys
import time

NETLINK_ROUTE, NETLINK_SOCK_DIAG = 0, 4
NLM_F_REQUEST, NLM_F_DUMP = 0x1, 0x300
NLMSG_DONE, NLMSG_ERROR = 3, 2
RTM_GETLINK, RTM_GETADDR, RTM_GETROUTE, RTM_GETNEIGH = 18, 22, 26, 30
RTM_NEWROUTE, RTM_DELROUTE = 24, 25
SOCK_DIAG_BY_FAMILY = 20
RTNLGRP_LINK, RTNLGRP_IPV4_IFADDR, RTNLGRP_IPV4_ROUTE = 1, 5, 7


def request(kind, payload, seq):
    return struct.pack("=IHHII", 16 + len(payload), kind, NLM_F_REQUEST | NLM_F_DUMP, seq, 0) + payload


def finished(datagram):
    """True when the datagram holds the dump's last message."""
    offset = 0
    while offset + 16 <= len(datagram):
        length, kind = struct.unpack_from("=IH", datagram, offset)
        if kind in (NLMSG_DONE, NLMSG_ERROR):
            return True
        if length < 16:
            return True
        offset += (length + 3) & ~3
    return False


def dump(protocol, kind, payload):
    s = socket.socket(socket.AF_NETLINK, socket.SOCK_RAW, protocol)
    s.bind((0, 0))
    s.send(request(kind, payload, 1))
    datagrams = []
    while True:
        d = s.recv(1 << 16)
        datagrams.append(d)
        if finished(d):
            break
    s.close()
    return datagrams


def write(outdir, name, datagrams):
    os.makedirs(outdir, exist_ok=True)
    for i, d in enumerate(datagrams):
        with open(os.path.join(outdir, f"{name}-{i}"), "wb") as f:
            f.write(d)


def main():
    outdir, mode = sys.argv[1], sys.argv[2]
    if mode == "dump":
        ifinfo = struct.pack("=BxHiII", socket.AF_UNSPEC, 0, 0, 0, 0)
        ifaddr = struct.pack("=BBBBI", socket.AF_INET, 0, 0, 0, 0)
        rtm = struct.pack("=BBBBBBBBI", socket.AF_INET, 0, 0, 0, 0, 0, 0, 0, 0)
        nd = struct.pack("=BxxxiHBB", socket.AF_INET, 0, 0, 0, 0)
        write(f"{outdir}/netlink_link", "links", dump(NETLINK_ROUTE, RTM_GETLINK, ifinfo))
        write(f"{outdir}/netlink_address", "addresses", dump(NETLINK_ROUTE, RTM_GETADDR, ifaddr))
        write(f"{outdir}/netlink_route", "routes", dump(NETLINK_ROUTE, RTM_GETROUTE, rtm))
        write(f"{outdir}/netlink_neighbour", "neighbours", dump(NETLINK_ROUTE, RTM_GETNEIGH, nd))
        # Sockets held open while the kernel is asked about them: a listener, both ends of a
        # connection, a bound and a connected UDP socket.
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen()
        client = socket.create_connection(listener.getsockname())
        server, _ = listener.accept()
        bound = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        bound.bind(("127.0.0.1", 0))
        connected = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        connected.connect(bound.getsockname())
        all_states = 0xFFE
        for protocol, name in ((socket.IPPROTO_TCP, "tcp"), (socket.IPPROTO_UDP, "udp")):
            req = struct.pack("=BBBxI", socket.AF_INET, protocol, 0, all_states) + bytes(48)
            write(f"{outdir}/sock_diag", name, dump(NETLINK_SOCK_DIAG, SOCK_DIAG_BY_FAMILY, req))
        for s in (client, server, listener, bound, connected):
            s.close()
    else:
        seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 3
        s = socket.socket(socket.AF_NETLINK, socket.SOCK_RAW, NETLINK_ROUTE)
        groups = (1 << (RTNLGRP_LINK - 1)) | (1 << (RTNLGRP_IPV4_IFADDR - 1)) | (1 << (RTNLGRP_IPV4_ROUTE - 1))
        s.bind((0, groups))
        print("listening", flush=True)
        datagrams = []
        end = time.time() + seconds
        while time.time() < end:
            if select.select([s], [], [], max(0, end - time.time()))[0]:
                datagrams.append(s.recv(1 << 16))
        write(f"{outdir}/netlink_events", "announcement", datagrams)
        routes = [d for d in datagrams if struct.unpack_from("=H", d, 4)[0] in (RTM_NEWROUTE, RTM_DELROUTE)]
        write(f"{outdir}/netlink_route", "announcement", routes)


if __name__ == "__main__":
    main()
