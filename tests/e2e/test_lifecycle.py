"""Start-up order, the ways the program ends, and its exit statuses."""

import os
import unittest

import harness
from linux_program import BINARY, GAME_PATH, HOST, LAUNCH_PROBE, Running, require_binary


@require_binary
class LifecycleTest(unittest.TestCase):
    def test_hotkeys_bound_and_page_requested_before_the_window_is_first_mapped(self):
        if not os.path.exists(LAUNCH_PROBE):
            self.skipTest("VELLMIR_LAUNCH_PROBE does not name the launch probe")
        world = harness.World(self)
        log = world.path("probe.log")
        run = Running(self, world=world, extra_env={
            "LD_PRELOAD": LAUNCH_PROBE,
            "VELLMIR_PROBE_LOG": log,
            # The probe must come first, even before the sanitizer runtime.
            "ASAN_OPTIONS": "detect_leaks=0:verify_asan_link_order=0",
        })
        harness.press_key(run.xvfb.display, "F1", hold=0.2)
        run.proxy.wait_for_reports(1)
        with open(log) as f:
            calls = [tuple(line.split()) for line in f]
        first_map = calls.index(("map", "-", str(run.window)))
        before, after = calls[:first_map], calls[first_map:]
        # The hotkeys' key watch (the program's own main-loop source on its
        # key sampler's X connection) and the game page, before the first map.
        self.assertIn(("watch", BINARY), [c[:2] for c in before])
        self.assertIn(("load_uri", "http://%s%s" % (HOST, GAME_PATH), "0"), before)
        # Idle, no poll timer runs; F1 held starts the 10 ms tick.
        self.assertNotIn(("timeout", BINARY, "10"), before)
        self.assertIn(("timeout", BINARY, "10"), after)
        # F1 hands the browser exactly this address.
        loads = [c[1] for c in calls if c[0] == "load_uri"]
        self.assertEqual(loads[1:], ["javascript:toggleSound(0)"])

    def test_close_request_ends_with_status_0(self):
        run = Running(self)
        # Hotkey actions still on their way while the window goes away are
        # dropped without harm.
        harness.key_down(run.xvfb.display, "F1", "F2")
        harness.wait_until(lambda: run.proxy.reports(), what="F1 to fire")
        self.assertEqual(run.close(), 0)
        harness.key_up(run.xvfb.display, "F1", "F2")
        self.assertFalse(run.x.windows_of_pid(run.prog.pid))

    def test_no_display_ends_with_status_255_and_a_message(self):
        world = harness.World(self)
        env = world.env()
        self.assertNotIn("DISPLAY", env)
        prog = world.start([BINARY], env)
        self.assertEqual(prog.wait(), 255)
        self.assertIn("startup window", prog.output()[1])


if __name__ == "__main__":
    unittest.main()
