"""F1 as the user presses it: once per press, never with a modifier held,
whichever window has the focus, and the key still reaches that window.
Each press is held well beyond the 10 ms sampling period."""

import time
import unittest

import harness
from linux_program import Running, require_binary


@require_binary
class HotkeyTest(unittest.TestCase):
    def setUp(self):
        self.run_ = Running(self)
        self.display = self.run_.xvfb.display

    def calls_after(self, actions):
        """The number of new toggleSound calls that a sequence of key actions
        ("down KEY", "up KEY", "wait SECONDS"; "xtest-down/up KEY" for exactly
        one key) brings, once they settle."""
        before = len(self.run_.proxy.reports())
        for action in actions:
            verb, arg = action.split()
            if verb == "down":
                harness.key_down(self.display, arg)
            elif verb == "up":
                harness.key_up(self.display, arg)
            elif verb.startswith("xtest-"):
                self.run_.x.fake_key(arg, verb == "xtest-down")
            else:
                time.sleep(float(arg))
        return len(self.run_.proxy.settled_reports()) - before

    def test_f1_presses(self):
        cases = [
            ("one press", ["down F1", "wait 0.2", "up F1"], 1),
            ("held for two seconds", ["down F1", "wait 2", "up F1"], 1),
            ("two presses", ["down F1", "wait 0.2", "up F1", "wait 0.2",
                             "down F1", "wait 0.2", "up F1"], 2),
            ("with Shift held", ["down shift", "wait 0.1", "down F1", "wait 0.2", "up F1",
                                 "wait 0.1", "up shift"], 0),
            ("Shift let go while F1 stays down", ["down shift", "wait 0.1", "down F1",
                                                  "wait 0.2", "up shift", "wait 0.3",
                                                  "up F1"], 0),
            ("with Ctrl held", ["down ctrl", "wait 0.1", "down F1", "wait 0.2", "up F1",
                                "wait 0.1", "up ctrl"], 0),
            # The right Windows key is no modifier, the left one is.
            ("with the right Super key held", ["xtest-down Super_R", "wait 0.1", "down F1",
                                               "wait 0.2", "up F1", "wait 0.1",
                                               "xtest-up Super_R"], 1),
            ("with the left Super key held", ["xtest-down Super_L", "wait 0.1", "down F1",
                                              "wait 0.2", "up F1", "wait 0.1",
                                              "xtest-up Super_L"], 0),
        ]
        for name, actions, expected in cases:
            with self.subTest(name):
                self.assertEqual(self.calls_after(actions), expected)
        # The page got exactly toggleSound(0) each time.
        self.assertEqual({r["arg"] for r in self.run_.proxy.reports()}, {"0"})

    def test_f1_while_another_window_has_the_focus(self):
        x = self.run_.x
        other = x.create_window(10, 10, 200, 100)
        x.set_focus(other)
        self.assertEqual(x.focus(), other)
        x.events()
        self.assertEqual(self.calls_after(["down F1", "wait 0.2", "up F1"]), 1)
        # The key was not taken away from the window that has the focus.
        f1 = x.keycode("F1")
        got = [(kind, code) for kind, window, code in x.events() if window == other]
        self.assertIn((harness.KeyPress, f1), got)
        self.assertIn((harness.KeyRelease, f1), got)


if __name__ == "__main__":
    unittest.main()
