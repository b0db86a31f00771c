"""Takes the README's picture: the Linux program's window, cut from a
screenshot of the whole screen. With the demo game's movie, the window plays
the demo game (as `make run` does); without, it shows the test game page.

    python3 tests/e2e/take_screenshot.py build/linux/vellmir docs/screenshot.png [build/linux/demo/demo.swf]
"""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness  # noqa: E402


def main(binary, out_path, movie=None):
    os.environ["VELLMIR_BINARY"] = os.path.abspath(binary)
    import demo_game
    import linux_program

    linux_program.BINARY = os.environ["VELLMIR_BINARY"]

    class Screenshot(unittest.TestCase):
        def runTest(self):
            if movie:
                demo_game.MOVIE = os.path.abspath(movie)
                run = demo_game.run(self)
                demo_game.wait_for_first_frame(run)
            else:
                run = linux_program.Running(self)
            full = run.world.path("screen.png")
            harness.screenshot(run.xvfb.display, full)
            harness.crop(full, run.x.geometry(run.window), os.path.abspath(out_path))
            self.assertEqual(run.close(), 0)

    result = unittest.TextTestRunner(verbosity=0).run(Screenshot())
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
