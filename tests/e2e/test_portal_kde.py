"""Global shortcuts through a desktop's own backend: Debian's KDE portal
backend (xdg-desktop-portal-kde, Plasma 5.27) behind the real portal
frontend, with KDE's shortcut service kglobalaccel5, all on the test's X
server and a private bus. kglobalaccel takes the keys it is given from the X
server, so an F1 press reaches the program twice: from its own X11 sampler
and as the portal's Activated. It must fire once."""

import os
import subprocess
import unittest

import harness
import portal_desktop
from linux_program import Running, require_binary

KDE_BACKEND = "/usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-kde"
QT_KEY_F1, QT_KEY_F2 = 0x01000030, 0x01000031


def missing():
    for program in (KDE_BACKEND, "/usr/bin/kglobalaccel5", "/usr/bin/dbus-monitor",
                    "/usr/bin/gdbus"):
        if not os.access(program, os.X_OK):
            return program + " is missing (Debian packages xdg-desktop-portal-kde, dbus-bin)"
    return portal_desktop.missing()


@require_binary
@unittest.skipIf(missing(), missing())
class KdePortalTest(unittest.TestCase):
    def shortcuts_in_kglobalaccel(self, env):
        """What kglobalaccel holds for our component, as gdbus prints it."""
        done = subprocess.run(
            ["gdbus", "call", "--session", "--dest", "org.kde.kglobalaccel", "--object-path",
             "/component/vellmir", "--method",
             "org.kde.kglobalaccel.Component.allShortcutInfos"],
            env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            timeout=harness.DEFAULT_TIMEOUT)
        return done.stdout.decode() if done.returncode == 0 else ""

    def test_kde_binds_the_shortcuts_and_reports_their_presses(self):
        world = harness.World(self)
        xvfb = world.xvfb()
        _, address = portal_desktop.private_bus(world)
        env = world.env(display=xvfb.display, extra={
            "DBUS_SESSION_BUS_ADDRESS": address, "QT_QPA_PLATFORM": "xcb",
            "XDG_CURRENT_DESKTOP": "KDE"})
        monitor = world.start(["dbus-monitor", "--address", address,
                               "interface='org.freedesktop.portal.GlobalShortcuts'"], env)
        world.start(["kglobalaccel5"], env)
        portal_desktop.wait_for_name(address, "org.kde.kglobalaccel")
        world.start([KDE_BACKEND], env)
        portal_desktop.wait_for_name(address, "org.freedesktop.impl.portal.desktop.kde")
        world.start([portal_desktop.FRONTEND], env)
        portal_desktop.wait_for_name(address, "org.freedesktop.portal.Desktop")

        def signals(member):
            return monitor.output()[0].count("member=" + member + "\n")

        for start in ("first start", "second start"):
            with self.subTest(start):
                run = Running(self, world=world, xvfb=xvfb, extra_env={
                    "DBUS_SESSION_BUS_ADDRESS": address, "XDG_SESSION_TYPE": "wayland"})
                # KDE registered both, on their suggested keys, under the
                # program's session token.
                held = harness.wait_until(lambda: "clear-browser-cache" in (
                    self.shortcuts_in_kglobalaccel(env)) and self.shortcuts_in_kglobalaccel(env),
                    what="kglobalaccel to hold our shortcuts")
                self.assertIn("('toggle-game-sound', \"Switch the game's sound\"", held)
                self.assertIn("[%d]" % QT_KEY_F1, held)
                self.assertIn("('clear-browser-cache', \"Clear the browser's cache\"", held)
                self.assertIn("[%d]" % QT_KEY_F2, held)

                other = run.x.create_window(10, 10, 200, 100)
                run.x.set_focus(other)
                activated = signals("Activated")
                before = len(run.proxy.reports())
                harness.press_key(xvfb.display, "F1", hold=0.2)
                harness.wait_until(lambda: signals("Deactivated") > activated,
                                   what="the desktop's Deactivated")
                self.assertEqual(signals("Activated"), activated + 1)
                run.proxy.wait_for_reports(before + 1)
                self.assertEqual(len(run.proxy.settled_reports()) - before, 1)
                self.assertEqual(run.close(), 0)
        # Never BindShortcuts: with Plasma 5.27 it would open the system
        # settings at every start.
        self.assertEqual(monitor.output()[0].count("member=BindShortcuts"), 0)


if __name__ == "__main__":
    unittest.main()
