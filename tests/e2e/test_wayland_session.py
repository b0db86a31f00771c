"""The whole picture on a real Wayland session: sway (headless, with
XWayland) as the desktop, run with the program as an unprivileged user (sway
refuses root), a native Wayland window (foot) with the focus, and keys typed
through a Wayland virtual keyboard (wtype).

The desktop's global shortcuts are the portal of portal_desktop.py; its
backend binds each shortcut the program asks for as a sway key binding on the
suggested trigger, whose press and release come back as Activated and
Deactivated, as a compositor's own shortcut service would do."""

import json
import os
import pwd
import shutil
import subprocess
import threading
import time
import unittest

import harness
import portal_desktop
from linux_program import BINARY, HOST, require_binary

USER = "nobody"
TOOLS = ("sway", "swaymsg", "foot", "wtype", "setpriv", "Xwayland", "xdotool")


def missing():
    absent = [tool for tool in TOOLS if not shutil.which(tool)]
    if absent:
        return "not installed: " + ", ".join(absent)
    if os.geteuid() != 0:
        return "needs root to run the session as " + USER
    return portal_desktop.missing()


def read_text(path):
    try:
        with open(path) as f:
            return f.read()
    except OSError:
        return ""


def as_user(argv):
    return ["setpriv", "--reuid=" + USER, "--regid=nogroup", "--clear-groups"] + list(argv)


class SwaySession:
    """sway on its headless backend with XWayland, as USER; .env is what a
    program in the session gets (WAYLAND_DISPLAY, DISPLAY, XDG_RUNTIME_DIR)."""

    def __init__(self, world):
        self.world = world
        user = pwd.getpwnam(USER)
        # USER must reach the bus socket and the session's folders.
        os.chmod(world.root, 0o755)
        self.home = world.path("session-home")
        self.runtime = world.path("session-runtime")
        self.shared = world.path("session-shared")  # key bindings write here
        for folder, mode in ((self.home, 0o755), (self.runtime, 0o700), (self.shared, 0o777)):
            os.makedirs(folder, mode=mode, exist_ok=True)
            os.chmod(folder, mode)
            os.chown(folder, user.pw_uid, user.pw_gid)
        config = world.path("sway.conf")
        with open(config, "w") as f:
            f.write("xwayland force\n")
        os.chmod(config, 0o644)
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.home,
                    "XDG_RUNTIME_DIR": self.runtime, "LANG": "C.UTF-8"}
        self.sway = world.start(as_user(["sway", "-c", config]), dict(
            self.env, WLR_BACKENDS="headless", WLR_LIBINPUT_NO_DEVICES="1",
            WLR_RENDERER="pixman"))
        self.socket = harness.wait_until(self._ipc_socket, what="sway's IPC socket")
        # The displays, as the session hands them to its programs.
        displays = os.path.join(self.shared, "displays")
        self.msg("exec echo $WAYLAND_DISPLAY $DISPLAY > " + displays)
        wayland, x11 = harness.wait_until(lambda: len(read_text(displays).split()) == 2
                                          and read_text(displays).split(),
                                          what="the session's displays")
        self.env.update(WAYLAND_DISPLAY=wayland, DISPLAY=x11)

    def _ipc_socket(self):
        for name in os.listdir(self.runtime):
            if name.startswith("sway-ipc.") and name.endswith(".sock"):
                return os.path.join(self.runtime, name)
        return None

    def msg(self, *args):
        out = subprocess.run(["swaymsg", "-s", self.socket] + list(args), check=True,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             timeout=harness.DEFAULT_TIMEOUT).stdout
        return json.loads(out) if out.strip() else None

    def focused(self):
        """The focused window as (app_id, pid), or None."""
        def walk(node):
            if node.get("focused") and node.get("type") in ("con", "floating_con"):
                return node.get("app_id"), node.get("pid")
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                found = walk(child)
                if found:
                    return found
            return None
        return walk(self.msg("-t", "get_tree"))

    def start(self, argv, extra=None):
        return self.world.start(as_user(argv), dict(self.env, **(extra or {})))

    def type_key(self, key):
        """One press of key through a fresh virtual keyboard; the pauses give
        the session time to hand it the focus."""
        subprocess.run(as_user(["wtype", "-s", "800", "-P", key, "-s", "100", "-p", key]),
                       env=self.env, check=True, timeout=harness.DEFAULT_TIMEOUT)

    def xtest_key(self, key):
        """One press of key sent into XWayland (XTest), as an X11 program would."""
        subprocess.run(as_user(["xdotool", "keydown", key, "sleep", "0.2", "keyup", key]),
                       env=self.env, check=True, timeout=harness.DEFAULT_TIMEOUT)

    def bind_shortcuts_as_keys(self, desktop, shortcuts):
        """The desktop's side of BindShortcuts: a sway binding on each
        suggested trigger that reports its press and release to the backend."""
        keys = os.path.join(self.shared, "keys")
        open(keys, "a").close()
        os.chmod(keys, 0o666)
        for shortcut_id, props in shortcuts:
            trigger = props["preferred_trigger"]
            self.msg("bindsym --no-repeat %s exec echo activate %s >> %s"
                     % (trigger, shortcut_id, keys))
            self.msg("bindsym --release %s exec echo deactivate %s >> %s"
                     % (trigger, shortcut_id, keys))
        stop = threading.Event()
        self.world.add_cleanup(stop.set)

        def forward():
            done = 0
            while not stop.is_set():
                lines = read_text(keys).splitlines()
                for line in lines[done:]:
                    verb, shortcut_id = line.split()
                    desktop.backend.send(cmd=verb, id=shortcut_id)
                done = len(lines)
                time.sleep(0.02)

        threading.Thread(target=forward, daemon=True).start()


@require_binary
@unittest.skipIf(missing(), missing())
class WaylandSessionTest(unittest.TestCase):
    def start_program(self, world, session, proxy, extra):
        env = dict(extra, http_proxy=proxy.url + "/", HTTP_PROXY=proxy.url + "/", no_proxy="",
                   NO_PROXY="", NO_AT_BRIDGE="1")
        program_home = os.path.join(session.home, "program-%d" % len(os.listdir(session.home)))
        os.makedirs(program_home)
        os.chown(program_home, pwd.getpwnam(USER).pw_uid, pwd.getpwnam(USER).pw_gid)
        env.update(HOME=program_home, XDG_CACHE_HOME=os.path.join(program_home, ".cache"),
                   XDG_DATA_HOME=os.path.join(program_home, ".local", "share"),
                   XDG_CONFIG_HOME=os.path.join(program_home, ".config"))
        for key in ("ASAN_OPTIONS", "UBSAN_OPTIONS"):
            if key in os.environ:
                env[key] = os.environ[key]
        before = len(proxy.reports("loaded"))
        prog = session.start([BINARY], env)
        proxy.wait_for_reports(before + 1, call="loaded")
        harness.wait_until(lambda: session.focused() and session.focused()[1] == prog.pid,
                           what="the program's window to have the focus")
        return prog

    def test_f1_in_a_wayland_session(self):
        world = harness.World(self)
        session = SwaySession(world)
        proxy = world.proxy(HOST)

        # Without a portal: F1 typed while the program's window has the focus.
        # wtype's virtual keyboard brings a keymap of its own, which XWayland
        # takes over, so the key's code differs from the X server's first one.
        program = self.start_program(world, session, proxy,
                                     dict(DBUS_SESSION_BUS_ADDRESS="disabled:"))
        session.type_key("F1")
        proxy.wait_for_reports(1)
        self.assertEqual(len(proxy.settled_reports()), 1)
        program.stop()

        # With the portal: F1 typed into a native Wayland window.
        desktop = portal_desktop.PortalDesktop(world)
        self.start_program(world, session, proxy, dict(DBUS_SESSION_BUS_ADDRESS=desktop.address))
        bound = desktop.wait_for("BindShortcuts")[0]
        session.bind_shortcuts_as_keys(desktop, bound["shortcuts"])
        session.start(["foot", "cat"])
        harness.wait_until(lambda: (session.focused() or (None,))[0] == "foot",
                           what="foot to have the focus")
        session.type_key("F1")
        proxy.wait_for_reports(2)
        self.assertEqual(len(proxy.settled_reports()), 2)
        # It came through the desktop, and foot kept the focus.
        activated = desktop.backend.records("activate")
        self.assertEqual([(r["id"], len(r["sessions"])) for r in activated],
                         [("toggle-game-sound", 1)])
        self.assertEqual((session.focused() or (None,))[0], "foot")

if __name__ == "__main__":
    unittest.main()
