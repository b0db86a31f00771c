"""A desktop portal of the tests' own: a private D-Bus session bus, the real
portal frontend (/usr/libexec/xdg-desktop-portal, Debian's
xdg-desktop-portal) on it, and behind it portal_backend.py as the desktop's
global-shortcuts backend, found through the .portal file in portal/.

    desktop = PortalDesktop(world)            # bus, backend, frontend; ended by pid
    env = world.env(..., extra=desktop.program_env())
    desktop.wait_for("BindShortcuts")         # the backend's record of a call
    desktop.press("toggle-game-sound")        # Activated, a pause, Deactivated

Everything started here is ended by the world's cleanups, by process id.
"""

import json
import os
import shutil
import signal
import subprocess
import threading
import time

import harness

FRONTEND = "/usr/libexec/xdg-desktop-portal"
HERE = os.path.dirname(os.path.abspath(__file__))
PORTAL_FOLDER = os.path.join(HERE, "portal")
BACKEND_NAME = "org.freedesktop.impl.portal.desktop.vellmirtest"
DESKTOP_NAME = "VellmirTest"  # XDG_CURRENT_DESKTOP, the .portal file's UseIn

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=%s</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""


def backend_python():
    """A python3 that has GObject introspection (Debian's python3-gi), or None."""
    for candidate in ("/usr/bin/python3", shutil.which("python3")):
        if candidate and subprocess.run([candidate, "-c", "import gi"],
                                        stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL).returncode == 0:
            return candidate
    return None


def missing():
    """Why the portal tests cannot run here, or None."""
    if not os.access(FRONTEND, os.X_OK):
        return FRONTEND + " is missing (Debian package xdg-desktop-portal)"
    if not shutil.which("dbus-daemon"):
        return "dbus-daemon is missing (Debian package dbus-daemon)"
    if backend_python() is None:
        return "no python3 with gi (Debian package python3-gi)"
    return None


def private_bus(world):
    """A D-Bus session bus of the test's own, that activates nothing and lets
    any user connect: (its process, its address)."""
    folder = world.path("portal-bus")
    os.makedirs(folder, exist_ok=True)
    config = os.path.join(folder, "bus.conf")
    with open(config, "w") as f:
        f.write(BUS_CONFIG % os.path.join(folder, "socket"))
    bus = world.start(["dbus-daemon", "--config-file=" + config, "--nofork",
                       "--print-address=1"], dict(os.environ))

    def address():
        out = bus.output()[0].strip()
        return out.splitlines()[0] if out.startswith("unix:") else None

    return bus, harness.wait_until(address, what="the D-Bus daemon's address")


def wait_for_name(address, name, timeout=harness.DEFAULT_TIMEOUT):
    """Returns once name has an owner on the bus at address."""
    subprocess.run(["gdbus", "wait", "--address", address, "--timeout", str(int(timeout)), name],
                   check=True, stdout=subprocess.DEVNULL, timeout=timeout + 10)


class Backend:
    """portal_backend.py, driven through its stdin; its records arrive on
    stdout and are kept in .events."""

    def __init__(self, world, address, env):
        self.events = []
        self.lock = threading.Lock()
        self.changed = threading.Condition(self.lock)
        err = open(world.path("portal-backend.err"), "wb")
        try:
            self.popen = subprocess.Popen(
                [backend_python(), os.path.join(HERE, "portal_backend.py"), address, BACKEND_NAME],
                env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=err,
                start_new_session=True)
        finally:
            err.close()
        self.pid = self.popen.pid
        world.add_cleanup(self.stop)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.popen.stdout:
            try:
                event = json.loads(line)
            except ValueError:
                continue
            with self.changed:
                self.events.append(event)
                self.changed.notify_all()
        with self.changed:
            self.events.append({"event": "exited"})
            self.changed.notify_all()

    def send(self, **command):
        self.popen.stdin.write((json.dumps(command) + "\n").encode())
        self.popen.stdin.flush()

    def wait_for(self, event, count=1, timeout=harness.DEFAULT_TIMEOUT, **fields):
        """The first `count` records of this kind (with these fields), once
        there are that many."""
        deadline = time.monotonic() + timeout
        with self.changed:
            while True:
                found = [e for e in self.events if e["event"] == event
                         and all(e.get(k) == v for k, v in fields.items())]
                if len(found) >= count:
                    return found[:count]
                if any(e["event"] == "exited" for e in self.events):
                    raise RuntimeError("the portal backend ended")
                left = deadline - time.monotonic()
                if left <= 0:
                    raise TimeoutError("timed out waiting for %d %s from the portal backend"
                                       % (count, event))
                self.changed.wait(left)

    def records(self, event):
        with self.lock:
            return [e for e in self.events if e["event"] == event]

    def stop(self):
        if self.popen.poll() is None:
            try:
                self.popen.stdin.close()
                self.popen.wait(5)
            except (OSError, subprocess.TimeoutExpired):
                self.popen.kill()
                self.popen.wait()
        try:
            os.killpg(self.pid, signal.SIGKILL)
        except (ProcessLookupError, PermissionError):
            pass
        self.popen.stdout.close()


class PortalDesktop:
    """frontend=False: the bus and the backend only, no portal on the bus."""

    def __init__(self, world, frontend=True):
        self.world = world
        self.bus, self.address = private_bus(world)
        base = world.env()
        base["DBUS_SESSION_BUS_ADDRESS"] = self.address
        self.backend = Backend(world, self.address, base)
        self.backend.wait_for("ready")

        self.frontend = None
        if not frontend:
            return
        frontend_env = dict(base, XDG_DESKTOP_PORTAL_DIR=PORTAL_FOLDER,
                            XDG_CURRENT_DESKTOP=DESKTOP_NAME, GIO_USE_VFS="local")
        self.backend.send(cmd="watch", name="org.freedesktop.portal.Desktop")
        self.frontend = world.start([FRONTEND, "--verbose"], frontend_env)
        self.backend.wait_for("owned", name="org.freedesktop.portal.Desktop")

    def freeze_frontend(self):
        """Stops the frontend (SIGSTOP) until the test ends: the portal is on
        the bus but answers nothing."""
        os.kill(self.frontend.pid, signal.SIGSTOP)
        self.world.add_cleanup(lambda: os.kill(self.frontend.pid, signal.SIGCONT))

    def program_env(self):
        """What the program needs to find this desktop, on a Wayland session."""
        return {"DBUS_SESSION_BUS_ADDRESS": self.address, "XDG_SESSION_TYPE": "wayland"}

    def answer_bindings(self, response):
        """BindShortcuts' answer from now on: 0 accepted, 1 refused."""
        self.backend.send(cmd="answer", bind=response)

    def wait_for(self, event, count=1, **fields):
        return self.backend.wait_for(event, count, **fields)

    def signal(self, verb, shortcut_id):
        """The backend's Activated ("activate") or Deactivated ("deactivate")
        for shortcut_id, once it has gone out; returns the sessions it went to."""
        before = len(self.backend.records(verb))
        self.backend.send(cmd=verb, id=shortcut_id)
        return self.backend.wait_for(verb, before + 1)[-1]["sessions"]

