"""The demo game (demo/), played in the real program under Xvfb through the
bundled emulator: it shows and moves, the arrow keys steer the ship, F1
switches its sound as heard at a sound server of the test's own, and its best
score outlives F2 and a restart."""

import glob
import os
import time
import unittest

import demo_game
import harness
import sound_server
from demo_game import require_movie, states, wait_for_state

# RMS of the sound server's output over half a second: the tune is far
# above LOUD, silence is 0.
LOUD = 500
QUIET = 30


def cutout_pixels(running, image):
    x, y, w, h = demo_game.cutout_on_screen(running)
    return b"".join(image.data[3 * ((y + row) * image.width + x):3 * ((y + row) * image.width + x + w)]
                    for row in range(h))


@require_movie
class DemoGameTest(unittest.TestCase):

    def test_first_frame_shows_in_the_cutout_and_the_game_moves_on_its_own(self):
        running = demo_game.run(self)
        first = cutout_pixels(running, demo_game.wait_for_first_frame(running))
        harness.wait_until(
            lambda: cutout_pixels(running, harness.screenshot(running.xvfb.display)) != first,
            what="the cut-out to change with no key pressed")

    def test_arrow_keys_steer_the_ship(self):
        running = demo_game.run(self)
        start = wait_for_state(running, lambda s: s["event"] == "ready", "the movie to start",
                               timeout=demo_game.FIRST_FRAME_TIMEOUT)
        where = (start["x"], start["y"])
        # (key, which way the ship goes: dx, dy as signs)
        cases = [("Right", 1, 0), ("Down", 0, 1), ("Left", -1, 0), ("Up", 0, -1)]
        for key, dx, dy in cases:
            with self.subTest(key):
                seen = len(states(running))
                harness.press_key(running.xvfb.display, key, hold=0.8)
                stop = wait_for_state(running, lambda s: s["event"] == "moved",
                                      "the ship to stop after " + key, since=seen)
                moved = (stop["x"] - where[0], stop["y"] - where[1])
                self.assertEqual(((moved[0] > 0) - (moved[0] < 0), (moved[1] > 0) - (moved[1] < 0)),
                                 (dx, dy), "from %s to %s" % (where, (stop["x"], stop["y"])))
                where = (stop["x"], stop["y"])

    def test_f1_switches_the_sound_heard_at_the_sound_server(self):
        world = harness.World(self)
        sound = sound_server.start(world, world.env())
        running = demo_game.run(self, world=world)
        start = wait_for_state(running, lambda s: s["event"] == "ready", "the movie to start",
                               timeout=demo_game.FIRST_FRAME_TIMEOUT)
        self.assertEqual(start["sound"], "on")
        # No click and no key yet: the tune plays from the start.
        sound.wait_for_level(lambda level: level > LOUD, "the tune at the sound server")
        for switched_to, heard, what in [("off", lambda level: level < QUIET, "silence"),
                                          ("on", lambda level: level > LOUD, "the tune again")]:
            with self.subTest(switched_to):
                seen = len(states(running))
                harness.press_key(running.xvfb.display, "F1")
                switch = wait_for_state(running, lambda s: s["event"] == "sound",
                                        "the movie's sound switch", since=seen)
                self.assertEqual(switch["sound"], switched_to)
                sound.wait_for_level(heard, what)
                # ...and it stays so.
                time.sleep(1.0)
                self.assertTrue(heard(sound.level(1.0)), sound.level(1.0))

    def test_best_score_survives_f2_and_a_restart(self):
        running = demo_game.run(self)
        # A point a second while the ship is alive: the best score grows.
        best = wait_for_state(running, lambda s: s["best"] >= 3, "a best score of 3",
                              timeout=demo_game.FIRST_FRAME_TIMEOUT)["best"]
        records = os.path.join(running.cache_folder, "WebKitCache", "*", "Records", "*", "*", "*")
        harness.wait_until(lambda: glob.glob(records), what="the browser's disk cache")
        harness.press_key(running.xvfb.display, "F2", hold=0.2)
        harness.wait_until(lambda: not glob.glob(records), what="F2 to clear the disk cache")
        self.assertEqual(running.close(), 0)

        again = demo_game.run(self, world=running.world, xvfb=running.xvfb)
        ready = wait_for_state(again, lambda s: s["event"] == "ready", "the movie to start again",
                               timeout=demo_game.FIRST_FRAME_TIMEOUT)
        self.assertGreaterEqual(ready["best"], best)


if __name__ == "__main__":
    unittest.main()
