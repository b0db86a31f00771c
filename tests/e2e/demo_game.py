"""The demo game (demo/) in the Linux program: its page as demo/serve.py
serves it, from the harness's proxy, with a script added that reports every
state the movie hands the page (gameState) to the proxy."""

import os
import sys
import unittest

import harness
import linux_program
from linux_program import Running

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "demo"))
import serve  # noqa: E402

MOVIE = os.environ.get("VELLMIR_DEMO_MOVIE", "")
ARENA_COLOUR = (0x14, 0x28, 0x5A)
FIRST_FRAME_TIMEOUT = 120.0  # seconds; the emulator compiles 14 MB of WebAssembly

REPORTER = """<script>
var pageGameState = gameState;
gameState = function (event, x, y, score, best, soundOn) {
  pageGameState(event, x, y, score, best, soundOn);
  new Image().src = "/__report?call=gameState&event=" + event + "&x=" + x + "&y=" + y +
    "&score=" + score + "&best=" + best + "&sound=" + (soundOn ? "on" : "off") +
    "&r=" + Math.random();
};
addEventListener("load", function () { new Image().src = "/__report?call=loaded"; });
</script>
</body>"""


def require_movie(testcase_class):
    """Skips a test class without the built program or the demo movie (no
    Haxe where it was built)."""
    if not MOVIE or not os.path.exists(MOVIE):
        return unittest.skip("no demo movie (VELLMIR_DEMO_MOVIE): Haxe was not found")(testcase_class)
    return linux_program.require_binary(testcase_class)


def page():
    page = serve.page(harness.ASSET_PATH + "demo.swf")
    assert page.count("</body>") == 1
    return page.replace("</body>", REPORTER)


def run(testcase, world=None, xvfb=None):
    """The program playing the demo game, once the page has loaded."""
    world = world or harness.World(testcase)
    with open(MOVIE, "rb") as f:
        movie = f.read()
    proxy = world.proxy(linux_program.HOST, page=page(),
                        assets={"demo.swf": ("application/x-shockwave-flash", movie)})
    return Running(testcase, world=world, xvfb=xvfb, proxy=proxy)


def states(running, event=None):
    """The movie's states so far, oldest first: dicts with event, x, y,
    score, best (ints) and sound ("on" or "off")."""
    result = []
    for q in running.proxy.reports("gameState"):
        if event is None or q["event"] == event:
            state = dict(q)
            for key in ("x", "y", "score", "best"):
                state[key] = int(state[key])
            result.append(state)
    return result


def wait_for_state(running, predicate, what, since=0, timeout=harness.DEFAULT_TIMEOUT):
    """The first state from states(running)[since] on for which predicate
    holds."""
    return harness.wait_until(
        lambda: next((s for s in states(running)[since:] if predicate(s)), None), timeout,
        interval=0.1, what=what)


def cutout_on_screen(running):
    """The window's rect on the screen: the page's cut-out."""
    return running.x.geometry(running.window)


def wait_for_first_frame(running):
    """The screenshot once the arena fills most of the cut-out."""
    rect = cutout_on_screen(running)

    def shown():
        image = harness.screenshot(running.xvfb.display)
        share = image.count(rect, ARENA_COLOUR, tolerance=4) / float(rect[2] * rect[3])
        return image if share > 0.8 else None
    return harness.wait_until(shown, FIRST_FRAME_TIMEOUT, interval=0.2,
                              what="the demo game's first frame")
