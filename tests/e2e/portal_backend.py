"""A desktop's global-shortcuts backend for the end-to-end tests: it serves
org.freedesktop.impl.portal.GlobalShortcuts on a D-Bus bus, behind the real
portal frontend (xdg-desktop-portal), and does what the test tells it.

Run with Debian's python3 (it needs python3-gi):

    python3 portal_backend.py BUS_ADDRESS BUS_NAME

It owns BUS_NAME on the bus at BUS_ADDRESS, then prints {"event": "ready"}.
Commands come on stdin, one JSON object a line:

    {"cmd": "answer", "bind": 0}            BindShortcuts' response: 0 accepted,
                                            1 refused by the user, 2 failed
    {"cmd": "activate", "id": ID}           Activated for shortcut ID in every
    {"cmd": "deactivate", "id": ID}         session that has it (Deactivated)
    {"cmd": "forget"}                       forget every remembered binding
    {"cmd": "take_at_creation"}             from now on, as KDE Plasma 5.27 does:
                                            CreateSession binds the shortcuts
                                            given in its options, and
                                            BindShortcuts opens the desktop's
                                            settings instead (recorded as
                                            "OpenSettings")
    {"cmd": "watch", "name": NAME}          {"event": "owned", "name": NAME} once
                                            NAME has an owner on the bus

Each call it receives is printed on stdout as one JSON object a line:
{"event": "CreateSession" | "ListShortcuts" | "BindShortcuts" | "CloseSession"
| "activate" | "deactivate", ...}. Accepted bindings are remembered for the
caller (its app id and session token), as a desktop does: ListShortcuts in a
later session of the same caller lists them, and their keys work in it.
"""

import json
import sys
import threading

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

OBJECT_PATH = "/org/freedesktop/portal/desktop"
INTERFACE = "org.freedesktop.impl.portal.GlobalShortcuts"
SESSION_INTERFACE = "org.freedesktop.impl.portal.Session"

INTROSPECTION = """
<node>
  <interface name="org.freedesktop.impl.portal.GlobalShortcuts">
    <method name="CreateSession">
      <arg type="o" name="handle" direction="in"/>
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="s" name="app_id" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="u" name="response" direction="out"/>
      <arg type="a{sv}" name="results" direction="out"/>
    </method>
    <method name="BindShortcuts">
      <arg type="o" name="handle" direction="in"/>
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="a(sa{sv})" name="shortcuts" direction="in"/>
      <arg type="s" name="parent_window" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="u" name="response" direction="out"/>
      <arg type="a{sv}" name="results" direction="out"/>
    </method>
    <method name="ListShortcuts">
      <arg type="o" name="handle" direction="in"/>
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="u" name="response" direction="out"/>
      <arg type="a{sv}" name="results" direction="out"/>
    </method>
    <signal name="Activated">
      <arg type="o" name="session_handle"/>
      <arg type="s" name="shortcut_id"/>
      <arg type="t" name="timestamp"/>
      <arg type="a{sv}" name="options"/>
    </signal>
    <signal name="Deactivated">
      <arg type="o" name="session_handle"/>
      <arg type="s" name="shortcut_id"/>
      <arg type="t" name="timestamp"/>
      <arg type="a{sv}" name="options"/>
    </signal>
    <signal name="ShortcutsChanged">
      <arg type="o" name="session_handle"/>
      <arg type="a(sa{sv})" name="shortcuts"/>
    </signal>
    <property name="version" type="u" access="read"/>
  </interface>
  <interface name="org.freedesktop.impl.portal.Session">
    <method name="Close"/>
    <signal name="Closed"/>
    <property name="version" type="u" access="read"/>
  </interface>
</node>
"""


class Backend:
    def __init__(self, connection):
        self.connection = connection
        self.bind_answer = 0
        self.take_at_creation = False
        self.sessions = {}    # session path -> (caller, {shortcut id: trigger})
        self.remembered = {}  # caller -> {shortcut id: (description, trigger)}
        self.nodes = Gio.DBusNodeInfo.new_for_xml(INTROSPECTION)
        self.session_registrations = {}
        connection.register_object(OBJECT_PATH, self.nodes.interfaces[0], self.on_call,
                                   self.on_property, None)

    @staticmethod
    def caller(session_path, app_id):
        # A desktop keys what it remembers on the app id, and for programs
        # without one (not sandboxed) on the session token they choose.
        return app_id + "/" + session_path.rsplit("/", 1)[-1]

    def shortcut_list(self, bindings):
        return [(sid, {"description": GLib.Variant("s", description),
                       "trigger_description": GLib.Variant("s", trigger)})
                for sid, (description, trigger) in sorted(bindings.items())]

    def on_property(self, connection, sender, path, interface, name):
        return GLib.Variant("u", 1)

    def on_call(self, connection, sender, path, interface, method, params, invocation):
        args = params.unpack()
        if method == "CreateSession":
            _, session, app_id, options = args
            caller = self.caller(session, app_id)
            bindings = dict(self.remembered.get(caller, {}))
            if self.take_at_creation:
                for sid, props in options.get("shortcuts", []):
                    bindings.setdefault(sid, (props.get("description", ""),
                                              props.get("preferred_trigger", "")))
                self.remembered[caller] = dict(bindings)
            self.sessions[session] = (caller, bindings)
            self.session_registrations[session] = connection.register_object(
                session, self.nodes.interfaces[1], self.on_session_call, self.on_property, None)
            emit({"event": "CreateSession", "session": session, "app_id": app_id,
                  "options": sorted(options)})
            invocation.return_value(GLib.Variant("(ua{sv})", (0, {})))
        elif method == "ListShortcuts":
            _, session = args
            caller, bindings = self.sessions.get(session, ("", {}))
            emit({"event": "ListShortcuts", "session": session,
                  "listed": sorted(bindings)})
            invocation.return_value(GLib.Variant(
                "(ua{sv})", (0, {"shortcuts": GLib.Variant("a(sa{sv})",
                                                           self.shortcut_list(bindings))})))
        elif method == "BindShortcuts":
            _, session, shortcuts, parent_window, options = args
            wanted = [[sid, {k: v for k, v in props.items()}] for sid, props in shortcuts]
            emit({"event": "BindShortcuts", "session": session, "shortcuts": wanted,
                  "parent_window": parent_window, "answer": self.bind_answer})
            if self.take_at_creation:
                emit({"event": "OpenSettings", "session": session})
                _, bindings = self.sessions.get(session, ("", {}))
                invocation.return_value(GLib.Variant(
                    "(ua{sv})", (0, {"shortcuts": GLib.Variant("a(sa{sv})",
                                                               self.shortcut_list(bindings))})))
                return
            if self.bind_answer != 0 or session not in self.sessions:
                invocation.return_value(GLib.Variant("(ua{sv})", (self.bind_answer, {})))
                return
            caller, _ = self.sessions[session]
            bindings = {sid: (props.get("description", ""), props.get("preferred_trigger", ""))
                        for sid, props in wanted}
            self.sessions[session] = (caller, bindings)
            self.remembered[caller] = dict(bindings)
            invocation.return_value(GLib.Variant(
                "(ua{sv})", (0, {"shortcuts": GLib.Variant("a(sa{sv})",
                                                           self.shortcut_list(bindings))})))
        else:
            invocation.return_dbus_error("org.freedesktop.DBus.Error.UnknownMethod", method)

    def on_session_call(self, connection, sender, path, interface, method, params, invocation):
        if method == "Close":
            self.sessions.pop(path, None)
            registration = self.session_registrations.pop(path, None)
            if registration is not None:
                connection.unregister_object(registration)
            emit({"event": "CloseSession", "session": path})
        invocation.return_value(None)

    def command(self, line):
        try:
            cmd = json.loads(line)
        except ValueError:
            return
        if cmd.get("cmd") == "answer":
            self.bind_answer = int(cmd["bind"])
        elif cmd.get("cmd") == "forget":
            self.remembered.clear()
        elif cmd.get("cmd") == "take_at_creation":
            self.take_at_creation = True
        elif cmd.get("cmd") == "watch":
            name = cmd["name"]
            Gio.bus_watch_name_on_connection(
                self.connection, name, Gio.BusNameWatcherFlags.NONE,
                lambda *args: emit({"event": "owned", "name": name}), None)
        elif cmd.get("cmd") in ("activate", "deactivate"):
            signal = "Activated" if cmd["cmd"] == "activate" else "Deactivated"
            sessions = [s for s, (_, bindings) in self.sessions.items() if cmd["id"] in bindings]
            stamp = GLib.get_monotonic_time() // 1000
            for session in sessions:
                self.connection.emit_signal(None, OBJECT_PATH, INTERFACE, signal,
                                            GLib.Variant("(osta{sv})",
                                                         (session, cmd["id"], stamp, {})))
            self.connection.flush_sync(None)
            emit({"event": cmd["cmd"], "id": cmd["id"], "sessions": sessions})


def emit(event):
    sys.stdout.write(json.dumps(event) + "\n")
    sys.stdout.flush()


def main():
    address, name = sys.argv[1], sys.argv[2]
    connection = Gio.DBusConnection.new_for_address_sync(
        address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
        | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
    backend = Backend(connection)
    loop = GLib.MainLoop()
    connection.connect("closed", lambda *args: loop.quit())

    def owned(*args):
        emit({"event": "ready"})

    Gio.bus_own_name_on_connection(connection, name, Gio.BusNameOwnerFlags.DO_NOT_QUEUE,
                                   owned, lambda *args: loop.quit())

    def read_commands():
        for line in sys.stdin:
            GLib.idle_add(lambda text=line: backend.command(text) and False)
        GLib.idle_add(loop.quit)

    threading.Thread(target=read_commands, daemon=True).start()
    loop.run()


if __name__ == "__main__":
    main()
