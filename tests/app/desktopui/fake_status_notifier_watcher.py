#!/usr/bin/python3
# A stand-in for a panel's StatusNotifierWatcher and host on a private session bus. It accepts
# the items that register and, for each, acts as a user of the panel would: prints
# "item SERVICE PATH", then on a line "activate" on standard input calls the item's Activate, and
# on "click LABEL" finds LABEL in the item's exported menu (com.canonical.dbusmenu) and sends it a
# "clicked" event. Each answer is one line: "done ...", or "error ...".
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"

dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
items = []


def say(*words):
    print(*words, flush=True)


class Watcher(dbus.service.Object):
    def __init__(self):
        super().__init__(bus, "/StatusNotifierWatcher")

    @dbus.service.method(WATCHER, in_signature="s", out_signature="", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        # A bus name, or only an object path on the caller's connection.
        if service.startswith("/"):
            owner, path = sender, service
        else:
            owner, path = service, "/StatusNotifierItem"
        items.append((owner, path))
        say("item", owner, path)
        self.StatusNotifierItemRegistered(owner + path)

    @dbus.service.method(WATCHER, in_signature="s", out_signature="")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, item):
        pass

    # Written out because Qt reads properties only when the introspection data declares them.
    @dbus.service.method(dbus.INTROSPECTABLE_IFACE, in_signature="", out_signature="s")
    def Introspect(self):
        return """<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  </interface>
  <interface name="org.freedesktop.DBus.Properties">
    <method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="out"/></method>
    <method name="GetAll"><arg type="s" direction="in"/><arg type="a{sv}" direction="out"/></method>
  </interface>
  <interface name="org.freedesktop.DBus.Introspectable">
    <method name="Introspect"><arg type="s" direction="out"/></method>
  </interface>
</node>"""

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, prop):
        return self.GetAll(interface)[prop]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {
            "IsStatusNotifierHostRegistered": dbus.Boolean(True),
            "ProtocolVersion": dbus.Int32(0),
            "RegisteredStatusNotifierItems": dbus.Array([o + p for o, p in items], signature="s"),
        }


def find(layout, label):
    ident, props, children = layout
    if str(props.get("label", "")).replace("_", "") == label:
        return int(ident)
    for child in children:
        found = find(child, label)
        if found is not None:
            return found
    return None


def command(line):
    words = line.strip().split(" ", 1)
    if not items:
        return "error no item"
    owner, path = items[-1]
    item = bus.get_object(owner, path)
    if words[0] == "activate":
        item.Activate(dbus.Int32(10), dbus.Int32(10), dbus_interface=ITEM)
        return "done activate"
    if words[0] == "click" and len(words) == 2:
        menu_path = item.Get(ITEM, "Menu", dbus_interface=dbus.PROPERTIES_IFACE)
        menu = bus.get_object(owner, menu_path)
        menu.AboutToShow(dbus.Int32(0), dbus_interface=MENU)
        _, layout = menu.GetLayout(dbus.Int32(0), dbus.Int32(-1), dbus.Array([], signature="s"),
                                   dbus_interface=MENU)
        ident = find(layout, words[1])
        if ident is None:
            return "error no menu entry " + words[1]
        menu.Event(dbus.Int32(ident), "clicked", dbus.Int32(0), dbus.UInt32(0), dbus_interface=MENU)
        return "done click " + words[1]
    return "error unknown command"


def readable(source, condition):
    line = sys.stdin.readline()
    if not line:
        loop.quit()
        return False
    try:
        say(command(line))
    except dbus.DBusException as e:
        say("error", e.get_dbus_name())
    return True


name = dbus.service.BusName(WATCHER, bus)
watcher = Watcher()
loop = GLib.MainLoop()
GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, readable)
say("ready")
loop.run()
