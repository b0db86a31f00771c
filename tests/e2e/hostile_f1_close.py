"""F1 pressed over and over while the window closes, many times: every run
ends by itself with exit status 0 and no sanitizer report.

Each run starts the program, waits for the game page, starts a burst of F1
presses (xdotool, 20 ms each) and asks the window to close at a different
moment of the burst, so that the close lands before, between and during the
F1 actions' hand-offs to the main loop.
"""

import os
import subprocess
import unittest

import harness
from linux_program import Running, require_binary

RUNS = int(os.environ.get("VELLMIR_HOSTILE_RUNS", "50"))
PRESSES = 30


def f1_burst(display):
    """One xdotool process pressing F1 PRESSES times, 20 ms down, 10 ms up."""
    args = ["xdotool"]
    for _ in range(PRESSES):
        args += ["keydown", "F1", "sleep", "0.02", "keyup", "F1", "sleep", "0.01"]
    return subprocess.Popen(args, env=dict(os.environ, DISPLAY=display),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


@require_binary
class F1WhileClosingTest(unittest.TestCase):
    def test_f1_storm_while_the_window_closes(self):
        world = harness.World(self)
        xvfb = world.xvfb()
        for run_index in range(RUNS):
            with self.subTest(run=run_index):
                run = Running(self, world=world, xvfb=xvfb)  # a fresh proxy: its reports are this run's
                burst = f1_burst(xvfb.display)
                try:
                    # Most runs close once F1 has fired at least once, some
                    # right away; then 0 to 270 ms further into the burst.
                    if run_index % 5 != 4:
                        harness.wait_until(
                            lambda: run.proxy.reports() or burst.poll() is not None,
                            interval=0.005, what="the first F1 to fire")
                    try:
                        burst.wait(0.03 * (run_index % 10))
                    except subprocess.TimeoutExpired:
                        pass
                    status = run.close()
                finally:
                    if burst.poll() is None:
                        burst.kill()
                    burst.wait()
                    harness.key_up(xvfb.display, "F1")  # never left held for the next run
                    run.prog.stop()
                    run.proxy.stop()
                err = run.prog.output()[1]
                self.assertEqual(status, 0, "status %s\n%s" % (status, err[-3000:]))
                self.assertNotIn("Sanitizer", err)


if __name__ == "__main__":
    unittest.main()
