#!/usr/bin/python3
"""Sends many requests to the helper at once without waiting, then counts the answers.

    helper_flood.py ADDRESS CONNECTIONS PER_CONNECTION KIND IFINDEX [WAIT_SECONDS]

KIND: small (AddRoute, each a route of its own), large (SetPersistentRoutes with the most
names a request may carry). Prints a JSON object: answer ("u N" or an error name) -> count,
and "unanswered".
"""
import json
import sys

import dbus
import dbus.bus
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

address, connections, per, kind, ifindex = sys.argv[1:6]
connections, per, ifindex = int(connections), int(per), int(ifindex)
wait = float(sys.argv[6]) if len(sys.argv) > 6 else 60.0

loop = GLib.MainLoop()
DBusGMainLoop(set_as_default=True)
counts = {}
left = [connections * per]


def done(key):
    counts[key] = counts.get(key, 0) + 1
    left[0] -= 1
    if left[0] == 0:
        loop.quit()


def large_names(seed):
    # 4096 names of 64 bytes: as large as the helper takes.
    return dbus.Array(['10.%d.%d.0,255.255.255.0,10.9.0.2,%s' % (seed % 200, i % 256,
                                                                  '0' * 27 + str(i % 10))
                       for i in range(4096)], signature='s')


buses = [dbus.bus.BusConnection(address) for _ in range(connections)]
names = large_names(1) if kind == 'large' else None
n = 0
for bus in buses:
    for _ in range(per):
        n += 1
        if kind == 'large':
            method, signature = 'SetPersistentRoutes', 'asb'
            args = (names, True)
        else:
            method, signature = 'AddRoute', 'uuuusuuu'
            dest = (10 | (100 + n // 65536 % 100) << 8 | (n // 256 % 256) << 16 |
                    (n % 256) << 24)
            args = (dbus.UInt32(dest), dbus.UInt32(0xFFFFFFFF), dbus.UInt32(0x0200090A),
                    dbus.UInt32(ifindex), 'hv0', dbus.UInt32(4), dbus.UInt32(3),
                    dbus.UInt32(1))
        bus.call_async('org.corvane.Helper', '/org/corvane/Helper', 'org.corvane.Helper',
                       method, signature, args,
                       lambda r: done('u %d' % r),
                       lambda e: done(e.get_dbus_name()), timeout=wait + 10)
GLib.timeout_add(int(wait * 1000), loop.quit)
loop.run()
counts['unanswered'] = left[0]
print(json.dumps(counts))
