#!/usr/bin/env python3
"""Flash content through the bundled emulator: what it costs.

    python3 bench/flash_emulator_bench.py [--runs N] BINARY

For each run, the program under Xvfb with the end-to-end test page (the
harness's proxy):
  - with the solid-colour test movie: time from the game page's request to the
    first screenshot showing the movie's colour where the embed is; then the
    process tree's PSS (the program and every WebKit process under it) once
    the movie has played for a few seconds;
  - without Flash: the same PSS once the page has loaded;
  - the loader script's own cost (compiling and running its text in the
    page, averaged over 100 times), against what loading ruffle.js up front would cost (a blocking
    <script> of it from the program's scheme).
Prints medians (min..max). Nothing is asserted.
"""

import argparse
import json
import os
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

import harness  # noqa: E402
import linux_program  # noqa: E402
from bench_common import Cleanups, session_pss_kib  # noqa: E402
import swf  # noqa: E402
import test_flash_emulator as pages  # noqa: E402

SETTLE = 5.0  # seconds of playing (or idling) before PSS is read


def loader_source():
    with open(os.path.join(HERE, "..", "app", "webkit_flash_emulator.cpp")) as f:
        text = f.read()
    return text[text.index('R"JS(') + 5:text.index(')JS"')]


# Measured in the page and reported: the loader's text compiled and run once
# more, and ruffle.js fetched, compiled and run by a blocking script.
TIMING_STAGE = """<script>var loaderText = %s; var t0 = performance.now();
for (var i = 0; i < 100; i++) new Function(loaderText)();
var loaderMs = (performance.now() - t0) / 100; var t1 = performance.now();</script>
<script src="vellmir-ruffle://emulator/ruffle.js"></script>
<script>var ruffleMs = performance.now() - t1;
addEventListener("load", function () { flashReport({call: "timing", loader: loaderMs, ruffle: ruffleMs}); });
</script>"""


def start(cleanups, stage_html, assets):
    return pages.run(cleanups, stage_html, assets)


def one_run(binary_assets):
    result = {}
    # With the movie.
    with Cleanups() as cleanups:
        running = start(cleanups, pages.embed("solid.swf"), binary_assets)
        asked = running.proxy.requests_for(linux_program.GAME_PATH)[0].time
        rect = pages.screen_rect(running, pages.EMBED)
        def shown():
            image = harness.screenshot(running.xvfb.display)
            return time.monotonic() if pages.share(image, rect, pages.MOVIE_COLOUR) > 0.95 else None
        result["first_frame"] = harness.wait_until(shown, pages.FIRST_FRAME_TIMEOUT, interval=0.01,
                                                   what="the movie") - asked
        time.sleep(SETTLE)
        result["pss_flash"] = session_pss_kib(running.prog.pid)
    # Without.
    with Cleanups() as cleanups:
        running = start(cleanups, "", binary_assets)
        harness.wait_until(lambda: pages.reports(running, "probe"), what="the probe")
        time.sleep(SETTLE)
        result["pss_plain"] = session_pss_kib(running.prog.pid)
    # Script costs.
    with Cleanups() as cleanups:
        running = start(cleanups, TIMING_STAGE % json.dumps(loader_source()), binary_assets)
        timing = harness.wait_until(lambda: pages.reports(running, "timing"), what="the timing")[0]
        result["loader_ms"] = float(timing["loader"])
        result["ruffle_ms"] = float(timing["ruffle"])
    return result


def summary(values, fmt):
    return (fmt % statistics.median(values)) + " (" + (fmt % min(values)) + ".." + (fmt % max(values)) + ")"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("binary")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    linux_program.BINARY = os.path.abspath(args.binary)
    os.environ["VELLMIR_BINARY"] = linux_program.BINARY
    assets = {"solid.swf": ("application/x-shockwave-flash",
                            swf.solid_movie(pages.MOVIE_COLOUR, pages.EMBED[2], pages.EMBED[3]))}
    runs = []
    for i in range(args.runs):
        runs.append(one_run(assets))
        print("run %d: %s" % (i + 1, runs[-1]), file=sys.stderr)
    col = lambda k: [r[k] for r in runs]  # noqa: E731
    print("runs: %d, binary: %s" % (args.runs, args.binary))
    print("page request -> first frame of the test movie: %s s" % summary(col("first_frame"), "%.2f"))
    print("PSS of the process tree, page with the movie:   %s MiB" % summary([v / 1024 for v in col("pss_flash")], "%.0f"))
    print("PSS of the process tree, page without Flash:    %s MiB" % summary([v / 1024 for v in col("pss_plain")], "%.0f"))
    print("loader script, compile and run in the page:     %s ms" % summary(col("loader_ms"), "%.2f"))
    print("ruffle.js up front (blocking <script>):         %s ms" % summary(col("ruffle_ms"), "%.1f"))


if __name__ == "__main__":
    main()
