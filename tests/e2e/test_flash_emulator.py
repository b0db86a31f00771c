"""Flash content in the game page, played by the bundled emulator: the real
program under Xvfb, the game page from the harness's proxy, SWF movies that
tests/e2e/swf.py writes byte by byte."""

import glob
import json
import os
import unittest

import harness
import linux_program
import swf
from linux_program import GAME_PATH, Running, require_binary

MOVIE_COLOUR = (255, 64, 0)
TALKING_COLOUR = (0, 128, 255)
# The movie's place on the page, inside the cut-out and clear of its text:
# (x, y, width, height).
EMBED = (91, 120, 200, 100)
FIRST_FRAME_TIMEOUT = 90.0  # seconds; the emulator compiles 14 MB of WebAssembly

# Added to the harness's test page: a stage above the cut-out, the function
# the movie calls, toggleSound passing its argument on to the movie's "ping"
# callback, and a probe telling whether the emulator's script is in the page.
STAGE = """<div id="stage" style="position: absolute; left: %(x)dpx; top: %(y)dpx;
     width: %(w)dpx; height: %(h)dpx">%(stage)s</div>
<script>
function flashReport(fields) {
  var query = [];
  for (var k in fields) query.push(k + "=" + encodeURIComponent(String(fields[k])));
  new Image().src = "/__report?" + query.join("&") + "&r=" + Math.random();
}
function reportFromMovie(greeting) { flashReport({call: "reportFromMovie", arg: greeting}); }
var pageToggleSound = toggleSound;
toggleSound = function (arg) {
  var game = document.getElementById("game");
  var result = game && typeof game.ping === "function" ? game.ping(arg) : "none";
  flashReport({call: "ping", arg: arg, result: result});
  pageToggleSound(arg);
};
addEventListener("load", function () {
  setTimeout(function () {
    var loaded = document.querySelector('script[src^="vellmir-ruffle:"]') !== null;
    flashReport({call: "probe", emulator: loaded ? "loaded" : "absent"});
  }, 500);
});
</script>
</body>"""

EMBED_TAG = ('<embed id="game" src="/__asset/%s" width="%d" height="%d" '
             'type="application/x-shockwave-flash" allowScriptAccess="always">')


def page(stage_html):
    x, y, w, h = EMBED
    stage = STAGE % {"x": x, "y": y, "w": w, "h": h, "stage": stage_html}
    assert harness.TEST_PAGE.count("</body>") == 1
    return harness.TEST_PAGE.replace("</body>", stage)


def embed(name):
    return EMBED_TAG % (name, EMBED[2], EMBED[3])


# The form a page written for Internet Explorer's Flash control uses.
ACTIVEX_OBJECT = ('<object classid="clsid:D27CDB6E-AE6D-11cf-96B8-444553540000" width="%d" height="%d">'
                  '<param name="movie" value="/__asset/solid.swf"></object>' % EMBED[2:])
SAME_ORIGIN_FRAME = ('<iframe src="/__asset/frame.html" width="%d" height="%d" scrolling="no" '
                     'style="border: 0; display: block"></iframe>' % EMBED[2:])
FRAME_PAGE = '<!DOCTYPE html><html><body style="margin: 0">%s</body></html>' % embed("solid.swf")


def emulator_files():
    """The emulator's files the program under test serves: the build tree's
    or the installed ones."""
    where = os.path.dirname(linux_program.BINARY)
    for folder in (os.path.join(where, "ruffle"), os.path.join(where, "..", "share", "vellmir", "ruffle")):
        if os.path.exists(os.path.join(folder, "ruffle.js")):
            return folder
    return None


# Fetches each address from the page and reports what came back.
FETCH_STAGE = """<script>
addEventListener("load", function () {
  %s.forEach(function (address, i) {
    fetch(address).then(function (response) {
      return response.arrayBuffer().then(function (body) {
        flashReport({call: "fetch", i: i, status: response.status, type: response.headers.get("Content-Type"),
                     length: body.byteLength});
      });
    }, function () { flashReport({call: "fetch", i: i, status: "failed"}); });
  });
});
</script>"""


def run(testcase, stage_html, assets, head="", extra_env=None):
    world = harness.World(testcase)
    proxy = world.proxy(linux_program.HOST, page=page(stage_html).replace("</head>", head + "</head>"),
                        assets=assets)
    return Running(testcase, world=world, proxy=proxy, extra_env=extra_env)


def screen_rect(running, rect):
    """A rect of the page, as (x, y, w, h) on the screen."""
    left, top, _, _ = running.x.geometry(running.window)
    cut_x, cut_y, _, _ = linux_program.CUTOUT
    return rect[0] - cut_x + left, rect[1] - cut_y + top, rect[2], rect[3]


def reports(running, call):
    """The page's reports of one kind, as query dicts."""
    return [r.query for r in running.proxy.requests_for(harness.REPORT_PATH) if r.query.get("call") == call]


def share(image, rect, colour):
    return image.count(rect, colour) / float(rect[2] * rect[3])


# Once the emulator has the movie: which kind of drawing context its canvas
# holds ("2d" for its canvas renderer, "webgl" for either WebGL one).
RENDERER_PROBE = """<script>
addEventListener("load", function () {
  var tries = 0;
  (function look() {
    var player = document.querySelector("ruffle-embed, ruffle-object");
    var canvas = player && player.readyState === 2 && player.shadowRoot.querySelector("canvas");
    if (canvas) {
      var kind = canvas.getContext("webgl2") || canvas.getContext("webgl") ? "webgl" : "2d";
      flashReport({call: "renderer", kind: kind});
    } else if (++tries < 900) {
      setTimeout(look, 100);
    }
  })();
});
</script>"""
ASK_FOR_WEBGL = """<script>window.RufflePlayer = window.RufflePlayer || {};
RufflePlayer.config = RufflePlayer.config || {}; RufflePlayer.config.preferredRenderer = "webgl";</script>"""


@require_binary
class FlashContentTest(unittest.TestCase):

    def wait_for_colour(self, running, rect, colour, timeout=FIRST_FRAME_TIMEOUT):
        """The screenshot once `rect` (screen) is nearly all `colour`."""
        def shown():
            image = harness.screenshot(running.xvfb.display)
            return image if share(image, rect, colour) > 0.95 else None
        return harness.wait_until(shown, timeout, interval=0.2, what="colour %s on screen" % (colour,))

    def test_movie_or_none_shows_where_the_embed_is(self):
        # (what the stage holds, its colour on screen, emulator in the top page)
        cases = [
            ("embed", embed("solid.swf"), MOVIE_COLOUR, "loaded"),
            ("ActiveX-style object", ACTIVEX_OBJECT, MOVIE_COLOUR, "loaded"),
            ("embed in a same-origin frame", SAME_ORIGIN_FRAME, MOVIE_COLOUR, "absent"),
            ("page without Flash", "", harness.CUTOUT_COLOUR, "absent"),
        ]
        assets = {"solid.swf": ("application/x-shockwave-flash",
                                swf.solid_movie(MOVIE_COLOUR, EMBED[2], EMBED[3])),
                  "frame.html": ("text/html", FRAME_PAGE)}
        for name, stage_html, colour, emulator in cases:
            with self.subTest(name):
                running = run(self, stage_html, assets)
                probe = harness.wait_until(lambda: reports(running, "probe"), what="the page's probe")
                self.assertEqual(probe[0]["emulator"], emulator)
                stage = screen_rect(running, EMBED)
                image = self.wait_for_colour(running, stage, colour)
                # Around the movie the page is as it was: the cut-out's colour.
                x, y, w, h = stage
                for around in [(x - 20, y, 10, h), (x + w + 10, y, 10, h), (x, y - 20, w, 10),
                               (x, y + h + 10, w, 10)]:
                    self.assertGreater(share(image, around, harness.CUTOUT_COLOUR), 0.95, around)
                running.prog.stop()

    def test_renderer_where_webgl_is_drawn_in_software(self):
        # Mesa drawing WebGL on the CPU: the emulator's 2D canvas renderer,
        # unless the page asks for a renderer itself. (case, page head, context)
        cases = [
            ("page asks for nothing", "", "2d"),
            ("page asks for WebGL", ASK_FOR_WEBGL, "webgl"),
        ]
        movie = {"solid.swf": ("application/x-shockwave-flash",
                               swf.solid_movie(MOVIE_COLOUR, EMBED[2], EMBED[3]))}
        for name, head, kind in cases:
            with self.subTest(name):
                running = run(self, embed("solid.swf") + RENDERER_PROBE, movie, head=head,
                              extra_env={"LIBGL_ALWAYS_SOFTWARE": "1"})
                got = harness.wait_until(lambda: reports(running, "renderer"), FIRST_FRAME_TIMEOUT,
                                         what="the renderer's report")
                self.assertEqual(got[0]["kind"], kind)
                self.wait_for_colour(running, screen_rect(running, EMBED), MOVIE_COLOUR)
                running.prog.stop()

    def test_scheme_serves_the_emulator_files_and_nothing_else(self):
        folder = emulator_files()
        self.assertIsNotNone(folder, "no emulator files beside " + linux_program.BINARY)
        wasm = os.path.basename(sorted(glob.glob(os.path.join(folder, "*.wasm")))[0])
        base = "vellmir-ruffle://emulator/"
        # (address, status, Content-Type, length)
        cases = [
            (base + "ruffle.js", 200, "text/javascript", os.path.getsize(os.path.join(folder, "ruffle.js"))),
            (base + wasm, 200, "application/wasm", os.path.getsize(os.path.join(folder, wasm))),
            (base + "missing.js", "failed", None, None),
            (base + "../../../../../../etc/passwd", "failed", None, None),
            (base + "..%2f..%2f..%2f..%2f..%2f..%2fetc%2fpasswd", "failed", None, None),
            (base + "%2e%2e/%2e%2e/%2e%2e/%2e%2e/%2e%2e/etc/passwd", "failed", None, None),
            (base + ".copied", "failed", None, None),
            ("vellmir-ruffle:///etc/passwd", "failed", None, None),
        ]
        running = run(self, FETCH_STAGE % json.dumps([c[0] for c in cases]), {})
        got = harness.wait_until(lambda: len(reports(running, "fetch")) == len(cases) and reports(running, "fetch"),
                                 what="every fetch to end")
        by_index = {int(r["i"]): r for r in got}
        for i, (address, status, ctype, length) in enumerate(cases):
            with self.subTest(address):
                r = by_index[i]
                self.assertEqual(r["status"], str(status))
                if status == 200:
                    self.assertEqual((r["type"], int(r["length"])), (ctype, length))

    def test_page_and_movie_call_each_other(self):
        # The movie registers "ping" (n -> n + 1) and calls reportFromMovie;
        # F1 runs toggleSound(0), which calls the movie's ping.
        running = run(self, embed("talking.swf"),
                      {"talking.swf": ("application/x-shockwave-flash",
                                       swf.talking_movie(TALKING_COLOUR, "hello", EMBED[2], EMBED[3]))})
        self.wait_for_colour(running, screen_rect(running, EMBED), TALKING_COLOUR)
        greeting = harness.wait_until(lambda: reports(running, "reportFromMovie"),
                                      what="the movie's call into the page")
        self.assertEqual(greeting[0]["arg"], "hello")

        harness.press_key(running.xvfb.display, "F1")
        toggles = harness.wait_until(lambda: reports(running, "ping"), what="toggleSound's call of the movie")
        self.assertEqual((toggles[0]["arg"], toggles[0]["result"]), ("0", "1"))
        harness.wait_until(lambda: reports(running, "toggleSound"), what="the page's own toggleSound")
        self.assertEqual(len(running.proxy.requests_for(GAME_PATH)), 1)


if __name__ == "__main__":
    unittest.main()
