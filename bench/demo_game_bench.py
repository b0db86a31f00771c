#!/usr/bin/env python3
"""The demo game (demo/) in the program: what playing it costs.

    python3 bench/demo_game_bench.py [--runs N] [--play SECONDS] [--renderer NAME] BINARY MOVIE

Each run starts the program under Xvfb with the demo page from the harness's
proxy (tests/e2e/demo_game.py) and times, from exec:
  window    the program's window is mapped
  page      the proxy has the game page's request
  emulator  the emulator's script (ruffle.js) has run: its element stands
            where the <embed> was
  player    the emulator has compiled its WebAssembly and created its
            player (its log line)
  movie     the proxy has the movie's request
  ready     the movie's first script has run (its first call into the page)
  frame     the arena's colour fills the cut-out (a sparse grid of its
            pixels, read straight from the X server: polling it costs
            next to nothing, where a screenshot a poll would slow the
            program down)
Then, in the last run, the game plays for --play seconds: CPU time of the
process tree (the program and every WebKit process under it) and of Xvfb,
in % of one core, and the tree's PSS at the end. The emulator's own log line
names the renderer it picked; --renderer asks it for another one (a page
script setting its preferredRenderer: wgpu-webgl, webgl or canvas). Prints
medians (min..max); asserts nothing.
"""

import argparse
import os
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

import demo_game  # noqa: E402
import harness  # noqa: E402
import linux_program  # noqa: E402
from bench_common import Cleanups, ScreenProbe, session_pids, session_pss_kib  # noqa: E402

# The emulator logs the renderer it picked ("Used renderer: ...") once its
# player exists; at the movie's first call into the page, the page's clock
# (ms since navigation started) and when the emulator's files arrived. Both
# are handed to the proxy like the game's states.
PROBE = """<script>
function benchReport(query) { new Image().src = "/__report?" + query + "&r=" + Math.random(); }
var pageLog = console.log;
console.log = function () {
  var text = Array.prototype.join.call(arguments, " ");
  if (/renderer/i.test(text))
    benchReport("call=console&at=" + performance.now() + "&text=" + encodeURIComponent(text.slice(0, 400)));
  return pageLog.apply(console, arguments);
};
// ruffle.js has run once it has put its own element in the embed's place.
var benchPolyfilled = null;
new MutationObserver(function (records, observer) {
  if (document.querySelector("ruffle-embed, ruffle-object")) {
    benchPolyfilled = performance.now();
    observer.disconnect();
  }
}).observe(document, { childList: true, subtree: true });
var benchGameState = gameState, benchTimed = false;
gameState = function () {
  if (!benchTimed) {
    benchTimed = true;
    var files = performance.getEntriesByType("resource").filter(function (e) {
      return /ruffle|wasm|swf/.test(e.name);
    }).map(function (e) {
      return e.name.split("/").pop() + " " + Math.round(e.startTime) + ".." + Math.round(e.responseEnd);
    });
    benchReport("call=timing&polyfilled=" + benchPolyfilled + "&files=" + encodeURIComponent(files.join(", ")));
  }
  return benchGameState.apply(this, arguments);
};
</script>
</body>"""


def cpu_seconds(pids):
    total = 0
    for pid in pids:
        try:
            with open("/proc/%d/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])  # utime + stime
        except (OSError, IndexError, ValueError):
            pass
    return total / os.sysconf("SC_CLK_TCK")


PREFERRED_RENDERER = '<script>window.RufflePlayer.config.preferredRenderer = "%s";</script></head>'


def one_run(play_seconds, renderer):
    result = {}
    with Cleanups() as cleanups:
        world = harness.World(cleanups)
        xvfb = world.xvfb(width=1000, height=650)
        with open(demo_game.MOVIE, "rb") as f:
            movie = f.read()
        page = demo_game.page().replace("</body>", PROBE, 1)
        if renderer:
            page = page.replace("</head>", PREFERRED_RENDERER % renderer, 1)
        proxy = world.proxy(linux_program.HOST, page=page,
                            assets={"demo.swf": ("application/x-shockwave-flash", movie)})
        x = world.x11(xvfb.display)
        env = world.env(display=xvfb.display, proxy=proxy)
        start = time.monotonic()
        prog = world.start([linux_program.BINARY], env)
        window = x.wait_for_window(prog.pid)
        result["window"] = time.monotonic() - start
        rect = x.geometry(window)
        probe = ScreenProbe(xvfb.display)
        cleanups.addCleanup(probe.close)

        def frame():
            shown = probe.share(rect, demo_game.ARENA_COLOUR, tolerance=4, step=20) > 0.8
            return time.monotonic() if shown else None
        shown = harness.wait_until(frame, demo_game.FIRST_FRAME_TIMEOUT, interval=0.005,
                                   what="the first frame")
        result["frame"] = shown - start
        first = lambda path: proxy.requests_for(path)[0].time - start  # noqa: E731
        result["page"] = first(linux_program.GAME_PATH)
        result["movie"] = first(harness.ASSET_PATH + "demo.swf")
        result["ready"] = [r.time for r in proxy.requests_for(harness.REPORT_PATH)
                           if r.query.get("call") == "gameState"][0] - start
        logged = harness.wait_until(lambda: proxy.reports("console"), what="the emulator's log")[0]
        result["renderer"] = logged["text"].split("|")[-1].split(")")[0].strip()
        # The page's clock starts about when the page is asked for.
        result["player"] = result["page"] + float(logged["at"]) / 1000
        timing = harness.wait_until(lambda: proxy.reports("timing"), what="the page's timing")[0]
        result["files"] = timing["files"]
        result["emulator"] = result["page"] + float(timing["polyfilled"]) / 1000
        if play_seconds:
            time.sleep(2)
            tree, server = session_pids(prog.pid), [xvfb.process.pid]
            t0, cpu0, xcpu0 = time.monotonic(), cpu_seconds(tree), cpu_seconds(server)
            time.sleep(play_seconds)
            tree = session_pids(prog.pid)
            elapsed = time.monotonic() - t0
            result["cpu"] = 100 * (cpu_seconds(tree) - cpu0) / elapsed
            result["xvfb_cpu"] = 100 * (cpu_seconds(server) - xcpu0) / elapsed
            result["pss"] = session_pss_kib(prog.pid)
            result["processes"] = len(tree)
    return result


def summary(values, fmt):
    return "%s (%s..%s)" % (fmt % statistics.median(values), fmt % min(values), fmt % max(values))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("binary")
    parser.add_argument("movie")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--play", type=float, default=30.0)
    parser.add_argument("--renderer", help="the renderer to ask the emulator for")
    args = parser.parse_args()
    linux_program.BINARY = os.path.abspath(args.binary)
    demo_game.MOVIE = os.path.abspath(args.movie)
    runs = []
    for i in range(args.runs):
        runs.append(one_run(args.play if i == args.runs - 1 else 0, args.renderer))
        print("run %d: %s" % (i + 1, runs[-1]), file=sys.stderr, flush=True)
    print("runs: %d, binary: %s" % (args.runs, args.binary))
    for key, what in [("window", "window mapped"), ("page", "page requested"),
                      ("emulator", "emulator's script has run"),
                      ("player", "emulator's player created"), ("movie", "movie requested"),
                      ("ready", "movie's first script"),
                      ("frame", "first frame in the cut-out")]:
        print("exec -> %-28s %s s" % (what + ":", summary([r[key] for r in runs], "%.2f")))
    played = runs[-1]
    print("renderer: %s" % played["renderer"])
    print("movie file, ms after the page was asked for (last run): %s" % played["files"])
    if "cpu" in played:
        print("playing %.0f s: process tree (%d processes) %.0f %% of a core, Xvfb %.0f %%; PSS %.0f MiB"
              % (args.play, played["processes"], played["cpu"], played["xvfb_cpu"],
                 played["pss"] / 1024))


if __name__ == "__main__":
    main()
