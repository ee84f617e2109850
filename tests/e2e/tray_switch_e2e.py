#!/usr/bin/env python3
"""End-to-end tests of quillnest-bar following the tray from one kind to the other.

Xvfb, a private session bus, trayer (an XEmbed tray) and a small StatusNotifierWatcher of this
script's own, each started and ended while the utility runs: the icon docked in trayer is seen in
the X window tree, the item registered with the watcher over D-Bus. harness.py runs the cases.
"""

import sys
import time

import sni
from harness import Cases, log
from xembed_e2e import TrayerWorld

# A watcher with a host registered, as a panel that shows StatusNotifierItems has, in a process of
# its own so that it can come and go.
WATCHER = """
import dbus, dbus.mainloop.glib, dbus.service
from gi.repository import GLib
NAME = "org.kde.StatusNotifierWatcher"

class Watcher(dbus.service.Object):
    items = []

    @dbus.service.method(NAME, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender):
        entry = sender + service if service.startswith("/") else service
        self.items.append(entry)
        self.StatusNotifierItemRegistered(entry)

    @dbus.service.signal(NAME, signature="s")
    def StatusNotifierItemRegistered(self, entry):
        pass

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {"RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
                "IsStatusNotifierHostRegistered": True, "ProtocolVersion": 0}

dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
watcher = Watcher(bus, "/StatusNotifierWatcher")
name = dbus.service.BusName(NAME, bus)
GLib.MainLoop().run()
"""
SWITCH_LIMIT = 5  # seconds for the icon to reach the tray that is left


class SwitchWorld(TrayerWorld, sni.SniWorld):
    def stop(self, proc):
        self.end(proc)
        self.owned.remove(proc)


CASES = Cases(SwitchWorld, deadline=90, needs_dbus=True, failures=sni.FAILURES,
              needed=("Xvfb", "trayer", "dbus-daemon", "xwininfo", "import"))


@CASES.case
def case_tray_switch(world):
    """The icon docked in trayer goes to a StatusNotifierWatcher that came while trayer goes
    away, and back to trayer when the watcher goes and trayer comes again."""
    world.start_xvfb()
    world.start_bus()
    trayer = world.start_trayer()
    world.start_app()
    world.wait_icon()
    watcher = world.spawn([sys.executable, "-c", WATCHER], log_name="watcher.log")
    world.wait_watcher()
    world.stop(trayer)
    gone = time.monotonic()
    world.wait_item(SWITCH_LIMIT)
    log(f"registered with the watcher {time.monotonic() - gone:.1f} s after trayer ended")

    world.stop(watcher)
    world.start_trayer()
    back = time.monotonic()
    world.wait_icon(SWITCH_LIMIT)
    log(f"docked in trayer again {time.monotonic() - back:.1f} s after it was shown")


if __name__ == "__main__":
    sys.exit(CASES.main(__doc__))
