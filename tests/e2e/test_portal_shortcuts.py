"""F1 and F2 through the desktop portal's global shortcuts, on a Wayland
session: the program (under Xvfb, with XDG_SESSION_TYPE=wayland, so its X11
sampler stays on) binds its hotkeys with the real portal frontend on a bus of
the test's own, whose backend (portal_backend.py) the test drives. The
desktop's presses feed the same poller as the X11 keys: one press, one
firing, whoever saw it."""

import os
import time
import unittest

import harness
import portal_desktop
from linux_program import Running, require_binary

WANTED = [
    ["toggle-game-sound", {"description": "Switch the game's sound", "preferred_trigger": "F1"}],
    ["clear-browser-cache", {"description": "Clear the browser's cache",
                             "preferred_trigger": "F2"}],
]
SOUND, CACHE = WANTED[0][0], WANTED[1][0]


@require_binary
@unittest.skipIf(portal_desktop.missing(), portal_desktop.missing())
class PortalShortcutsTest(unittest.TestCase):
    def start(self, world=None, desktop=None, xvfb=None, lang="C.UTF-8"):
        world = world or harness.World(self)
        desktop = desktop or portal_desktop.PortalDesktop(world)
        env = dict(desktop.program_env(), LANG=lang)
        run = Running(self, world=world, xvfb=xvfb, extra_env=env)
        return run, desktop

    def calls_after(self, run, desktop, actions, expected):
        """The number of new toggleSound calls a sequence of actions brings,
        once they settle (and at least `expected` have come, however slowly):
        "portal-down/up ID" (Activated/Deactivated), "x-down/up KEY"
        (xdotool), "wait SECONDS"."""
        before = len(run.proxy.reports())
        for action in actions:
            verb, arg = action.split()
            if verb == "portal-down":
                self.assertTrue(desktop.signal("activate", arg))
            elif verb == "portal-up":
                self.assertTrue(desktop.signal("deactivate", arg))
            elif verb == "x-down":
                harness.key_down(run.xvfb.display, arg)
            elif verb == "x-up":
                harness.key_up(run.xvfb.display, arg)
            else:
                time.sleep(float(arg))
        if expected:
            run.proxy.wait_for_reports(before + expected)
        return len(run.proxy.settled_reports()) - before

    def test_desktop_presses_fire_the_hotkeys(self):
        run, desktop = self.start()
        bound = desktop.wait_for("BindShortcuts")[0]
        self.assertEqual(bound["shortcuts"], WANTED)
        # The session token is the same at every start (see the next test).
        created = desktop.wait_for("CreateSession")[0]
        self.assertTrue(created["session"].endswith("/vellmir"), created)

        # Keys go to another window: the X11 sampler alone would still see
        # them here (Xvfb has no Wayland focus), which the "both" cases use.
        other = run.x.create_window(10, 10, 200, 100)
        run.x.set_focus(other)
        cases = [
            ("one press", ["portal-down " + SOUND, "wait 0.2", "portal-up " + SOUND], 1),
            ("held for two seconds", ["portal-down " + SOUND, "wait 2", "portal-up " + SOUND], 1),
            # Each signal is sampled when it arrives, however close they are.
            ("down and up at once", ["portal-down " + SOUND, "portal-up " + SOUND], 1),
            ("two presses", ["portal-down " + SOUND, "wait 0.2", "portal-up " + SOUND,
                             "wait 0.2", "portal-down " + SOUND, "wait 0.2",
                             "portal-up " + SOUND], 2),
            ("seen by both, the desktop first", ["portal-down " + SOUND, "wait 0.3",
                                                 "x-down F1", "wait 0.5", "portal-up " + SOUND,
                                                 "wait 0.5", "x-up F1"], 1),
            ("seen by both, X first", ["x-down F1", "wait 0.3", "portal-down " + SOUND,
                                       "wait 0.5", "x-up F1", "wait 0.5",
                                       "portal-up " + SOUND], 1),
            ("X alone", ["x-down F1", "wait 0.2", "x-up F1"], 1),
            # The user gave the shortcut Shift+something in the desktop's
            # settings: the desktop matched it, the Shift X sees does not veto.
            ("rebound with Shift", ["x-down shift", "wait 0.1", "portal-down " + SOUND,
                                    "wait 0.2", "portal-up " + SOUND, "wait 0.1",
                                    "x-up shift"], 1),
            ("Shift F1 on X alone", ["x-down shift", "wait 0.1", "x-down F1", "wait 0.2",
                                     "x-up F1", "wait 0.1", "x-up shift"], 0),
        ]
        for name, actions, expected in cases:
            with self.subTest(name):
                self.assertEqual(self.calls_after(run, desktop, actions, expected), expected)
        self.assertEqual({r["arg"] for r in run.proxy.reports()}, {"0"})

        # F2: the cache folder is cleared once. A file written after the
        # press has settled stays (no second clearing on the release).
        cleared = os.path.join(run.cache_folder, "before.txt")
        os.makedirs(run.cache_folder, exist_ok=True)
        with open(cleared, "w") as f:
            f.write("x")
        desktop.signal("activate", CACHE)
        harness.wait_until(lambda: not os.path.exists(cleared), what="F2 to clear the cache")
        later = os.path.join(run.cache_folder, "after.txt")
        with open(later, "w") as f:
            f.write("x")
        desktop.signal("deactivate", CACHE)
        time.sleep(1.5)
        self.assertTrue(os.path.exists(later))
        self.assertEqual(run.close(), 0)

    def test_a_remembered_binding_is_not_asked_for_again(self):
        first, desktop = self.start()
        desktop.wait_for("BindShortcuts")
        self.assertEqual(first.close(), 0)

        # The desktop remembers the first answer: the next start lists the
        # shortcuts, binds nothing, and the desktop's presses still work.
        second, _ = self.start(world=first.world, desktop=desktop, xvfb=first.xvfb)
        listed = desktop.wait_for("ListShortcuts", 2)[1]
        self.assertEqual(sorted(listed["listed"]), sorted([CACHE, SOUND]))
        self.assertEqual(self.calls_after(second, desktop, ["portal-down " + SOUND, "wait 0.2",
                                                            "portal-up " + SOUND], 1), 1)
        self.assertEqual(len(desktop.backend.records("BindShortcuts")), 1)
        self.assertEqual(second.close(), 0)

    def test_a_desktop_that_takes_the_shortcuts_with_the_session(self):
        # KDE Plasma 5.27 binds the shortcuts CreateSession hands over; its
        # BindShortcuts would open the system settings at every start.
        world = harness.World(self)
        desktop = portal_desktop.PortalDesktop(world)
        desktop.backend.send(cmd="take_at_creation")
        run, _ = self.start(world=world, desktop=desktop)
        listed = desktop.wait_for("ListShortcuts")[0]
        self.assertEqual(sorted(listed["listed"]), sorted([CACHE, SOUND]))
        self.assertEqual(self.calls_after(run, desktop, ["portal-down " + SOUND, "wait 0.2",
                                                         "portal-up " + SOUND], 1), 1)
        self.assertEqual(desktop.backend.records("BindShortcuts"), [])
        self.assertEqual(run.close(), 0)

    def test_without_a_usable_portal_the_keys_work_as_before(self):
        for case in ("no portal on the bus", "a portal that answers nothing",
                     "the user refuses"):
            with self.subTest(case):
                world = harness.World(self)
                desktop = portal_desktop.PortalDesktop(world,
                                                       frontend=case != "no portal on the bus")
                if case == "a portal that answers nothing":
                    desktop.freeze_frontend()  # the window must not wait for it
                if case == "the user refuses":
                    desktop.answer_bindings(1)
                run, _ = self.start(world=world, desktop=desktop, lang="zh_CN.UTF-8")
                if case == "the user refuses":
                    bound = desktop.wait_for("BindShortcuts")[0]
                    # Described in the user's language.
                    self.assertEqual(
                        [(sid, props["description"]) for sid, props in bound["shortcuts"]],
                        [(SOUND, "切换游戏声音"), (CACHE, "清除浏览器缓存")])
                    # Nothing is bound: the desktop has no key to report.
                    self.assertEqual(desktop.signal("activate", SOUND), [])
                self.assertEqual(
                    self.calls_after(run, desktop, ["x-down F1", "wait 0.2", "x-up F1"], 1), 1)
                self.assertEqual(run.close(), 0)


if __name__ == "__main__":
    unittest.main()
