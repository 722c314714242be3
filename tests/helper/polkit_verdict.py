#!/usr/bin/python3
"""A polkit stand-in that gives one answer to every CheckAuthorization.

    polkit_verdict.py ADDRESS VERDICT

VERDICT: no, challenge (authentication asked for and not given), dismissed (the agent's
dialog closed), error (polkit fails the call).
"""
import sys

import dbus
import dbus.bus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

address, verdict = sys.argv[1:3]
DBusGMainLoop(set_as_default=True)
bus = dbus.bus.BusConnection(address)


class Authority(dbus.service.Object):
    @dbus.service.method('org.freedesktop.PolicyKit1.Authority',
                         in_signature='(sa{sv})sa{ss}us', out_signature='(bba{ss})')
    def CheckAuthorization(self, subject, action, details, flags, cancellation):
        if verdict == 'error':
            raise dbus.exceptions.DBusException('no', name='org.freedesktop.PolicyKit1.Error.Failed')
        if verdict == 'challenge':
            return (False, True, dbus.Dictionary({}, signature='ss'))
        if verdict == 'dismissed':
            return (False, False, dbus.Dictionary({'polkit.dismissed': 'true'}, signature='ss'))
        return (False, False, dbus.Dictionary({}, signature='ss'))


Authority(bus, '/org/freedesktop/PolicyKit1/Authority')
name = dbus.service.BusName('org.freedesktop.PolicyKit1', bus)
GLib.MainLoop().run()
