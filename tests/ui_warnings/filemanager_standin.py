"""A stand-in for the desktop's file manager on the session bus: it owns
org.freedesktop.FileManager1 and appends every URI it is asked to show to the file named by its
first argument, one a line. It touches the file named by its second argument once it answers."""

import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

INTERFACE = "org.freedesktop.FileManager1"


class FileManager(dbus.service.Object):
    def __init__(self, bus, record):
        super().__init__(bus, "/org/freedesktop/FileManager1")
        self.record = record

    @dbus.service.method(INTERFACE, in_signature="ass", out_signature="")
    def ShowItems(self, uris, startup_id):
        with open(self.record, "a", encoding="utf-8") as f:
            for uri in uris:
                f.write(uri + "\n")


def main():
    record, ready = sys.argv[1], sys.argv[2]
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    name = dbus.service.BusName(INTERFACE, bus, do_not_queue=True)
    manager = FileManager(bus, record)
    open(ready, "w").close()
    GLib.MainLoop().run()
    del name, manager


main()
