#!/usr/bin/env python3
"""Flash content through the bundled emulator: what it costs.

    python3 bench/flash_emulator_bench.py [--runs N] [--only WHAT] VARIANT...

A VARIANT is a built program, optionally with a label, a renderer the page
asks the emulator for, a trial in the page's head (HEADS below), and
environment variables for the program:
    BINARY | LABEL=BINARY[,renderer=NAME][,config=NAME:VALUE]...[,head=NAME]
                          [,env=NAME:VALUE]...[,caches=cold]
Variants run alternately, one program at a time, each under Xvfb with the
end-to-end test page from the harness's proxy. WHAT (comma-separated, all by
default):
  first    exec -> first frame of the solid-colour test movie on screen (a
           1 x 1 pixel probe of the root window, cheap enough not to slow the
           program down), with exec -> page requested and the emulator's
           files arriving in the page (resource timing);
  playing  a 1060 x 680 movie at 30 fps, one 60 px square crossing the stage,
           filling the whole view: CPU of the process tree (program and every
           WebKit process) over --play seconds once it plays, and its PSS;
           with --shots DIR, a screenshot of it per variant;
  plain    the PSS of the process tree, page without Flash;
  script   the loader script's own cost (compiling and running its text in
           the page, averaged over 100 times), against loading ruffle.js up
           front (a blocking <script> of it from the program's scheme).
Each program gets a fresh profile (HOME), but the caches a user's system
keeps between launches are shared by every run and warmed by one run of each
variant that is not counted: GStreamer's plugin registry (building it takes
seconds, and WebKit's audio needs it once the emulator starts) and Mesa's
shader cache. A variant with ",caches=cold" builds both afresh every run.
Prints medians (min..max) and the load average. Nothing is asserted.
"""

import argparse
import json
import os
import shutil
import signal
import statistics
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

import harness  # noqa: E402
import linux_program  # noqa: E402
from program_facts import GAME_VIEW  # noqa: E402
from bench_common import Cleanups, ScreenProbe, session_pids, session_pss_kib  # noqa: E402
import swf  # noqa: E402
import test_flash_emulator as pages  # noqa: E402

SETTLE = 5.0  # seconds of playing (or idling) before PSS is read
PLAY_BACKGROUND = (0, 0, 96)
PLAY_SQUARE = (255, 200, 0)
VIEW = GAME_VIEW[2:]  # the movie fills the page: 1060 x 680
SHARED_CACHES = {}  # environment naming the caches every run shares (main() fills it)


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

# In the page's head: the emulator's settings a variant asks for (its renderer,
# ",config=NAME:VALUE"), as a page would.
CONFIG_PRELUDE = """<script>window.RufflePlayer = window.RufflePlayer || {};
RufflePlayer.config = Object.assign(RufflePlayer.config || {}, %s);</script>"""

# Page-side trials, put in the page's head by a variant's "head=NAME":
HEADS = {
    # Ruffle's probes of WebAssembly extensions fail: it loads its plain build.
    "vanilla": """<script>(function () {
  var validate = WebAssembly.validate;
  WebAssembly.validate = function (bytes) {
    return bytes.byteLength < 64 ? false : validate.apply(this, arguments);
  };
})();</script>""",
    # The module Ruffle will load is fetched and compiled from here on (the
    # <embed> follows at once), not once ruffle.js has run: Ruffle's fetch
    # gets a copy of the same response, and its instantiation the compiled
    # module.
    "early": """<script>(function () {
  var url = "vellmir-ruffle://emulator/%s";
  var response = fetch(url);
  var module = response.then(function (r) { return WebAssembly.compileStreaming(r.clone()); });
  var fetchFn = window.fetch, instantiate = WebAssembly.instantiateStreaming;
  window.fetch = function (input) {
    if (response && String(input && input.url || input) === url) {
      var r = response; response = null;
      return r;
    }
    return fetchFn.apply(this, arguments);
  };
  WebAssembly.instantiateStreaming = function (source, imports) {
    if (!module) return instantiate.apply(this, arguments);
    var m = module; module = null;
    Promise.resolve(source).then(function (r) { return r.arrayBuffer(); }).catch(function () {});
    return m.then(function (compiled) {
      return WebAssembly.instantiate(compiled, imports).then(function (instance) {
        return {module: compiled, instance: instance};
      });
    });
  };
})();</script>""",
}


# In the page's head, before the emulator can run: when ruffle.js, the
# WebAssembly module and its instantiation begin and end (page milliseconds),
# reported once the module is instantiated.
TIMELINE = """<script>
(function () {
  var t = {call: "timeline", origin: performance.timeOrigin};
  var fetchFn = window.fetch;
  window.fetch = function (input) {
    var promise = fetchFn.apply(this, arguments);
    var address = String(input && input.url || input);
    if (/\\.wasm$/.test(address) && !t.wasm_start) {
      t.wasm_start = performance.now();
      t.module = address.replace(/.*\\//, "");
      promise.then(function () { t.wasm_headers = performance.now(); });
    }
    return promise;
  };
  var instantiate = WebAssembly.instantiateStreaming;
  WebAssembly.instantiateStreaming = function () {
    t.instantiate_start = performance.now();
    var promise = instantiate.apply(this, arguments);
    promise.then(function () {
      t.instantiate_end = performance.now();
      (function wait() {
        if (t.movie_loaded) flashReport(t); else setTimeout(wait, 50);
      })();
    });
    return promise;
  };
  new MutationObserver(function (records) {
    records.forEach(function (record) {
      record.addedNodes.forEach(function (node) {
        if (node.localName === "script" && /ruffle\\.js$/.test(node.src) && !t.ruffle_js_start) {
          t.ruffle_js_start = performance.now();
          node.addEventListener("load", function () { t.ruffle_js_end = performance.now(); });
        }
        if (node.localName === "ruffle-embed" && !t.player) {
          t.player = performance.now();
          node.addEventListener("loadeddata", function () { t.movie_loaded = performance.now(); });
        }
      });
    });
  }).observe(document, {childList: true, subtree: true});
})();
</script>"""


def extended_module(binary):
    """The file name of the WebAssembly build Ruffle loads where every
    extension it probes for is there, read from the ruffle.js the program
    serves."""
    import re
    with open(os.path.join(os.path.dirname(binary), "ruffle", "ruffle.js")) as f:
        text = f.read()
    names = dict(re.findall(r'(\d+)\(e,n,a\)\{e\.exports=a\.p\+"([0-9a-f]+\.wasm)"', text))
    chosen = re.search(r'n\?new URL\(a\((\d+)\)', text)
    if not chosen or chosen.group(1) not in names:
        raise SystemExit("cannot tell Ruffle's WebAssembly builds apart in its ruffle.js")
    return names[chosen.group(1)]


def parse_variant(text):
    label, sep, rest = text.partition("=")
    if not sep:
        label, rest = os.path.basename(text), text
    fields = rest.split(",")
    variant = {"label": label, "binary": os.path.abspath(fields[0]), "renderer": None, "head": None,
               "config": {}, "env": {}, "cold": False}
    for field in fields[1:]:
        key, _, value = field.partition("=")
        if key == "renderer":
            variant["renderer"] = value
        elif key == "head":
            variant["head"] = value
        elif key == "config":
            name, _, val = value.partition(":")
            variant["config"][name] = val
        elif key == "caches" and value == "cold":
            variant["cold"] = True
        elif key == "env":
            name, _, val = value.partition(":")
            variant["env"][name] = val
        else:
            raise SystemExit("unknown variant field: " + field)
    return variant


def start(cleanups, variant, stage_html, assets, stage_rect=pages.EMBED, wait_for_page=True,
          head=""):
    """The program of `variant` on the test page with `stage_html` placed at
    stage_rect (page coordinates). Returns (Running, exec time: monotonic,
    exec time: wall clock)."""
    linux_program.BINARY = variant["binary"]
    x, y, w, h = stage_rect
    page = harness.TEST_PAGE.replace("</body>", pages.STAGE % {"x": x, "y": y, "w": w, "h": h,
                                                               "stage": stage_html})
    if variant["head"] == "early":
        head = HEADS["early"] % extended_module(variant["binary"]) + head
    elif variant["head"]:
        head = HEADS[variant["head"]] + head
    if variant["renderer"]:
        variant = dict(variant, config=dict(variant["config"], preferredRenderer=variant["renderer"]))
    if variant["config"]:
        head = CONFIG_PRELUDE % json.dumps(variant["config"]) + head
    page = page.replace("</head>", head + "</head>")
    world = harness.World(cleanups, prefix="vellmir-bench-")
    proxy = world.proxy(linux_program.HOST, page=page, assets=assets)
    env = dict(variant["env"])
    if not variant["cold"]:
        env.update(SHARED_CACHES)
    t0, wall0 = time.monotonic(), time.time()
    running = linux_program.Running(cleanups, world=world, proxy=proxy, extra_env=env,
                                    wait_for_page=wait_for_page)
    return running, t0, wall0


def embed_tag(name, w, h):
    return pages.EMBED_TAG % (name, w, h)


def centre(rect, size=8):
    x, y, w, h = rect
    return x + w // 2 - size // 2, y + h // 2 - size // 2, size, size


def first_frame(variant, assets):
    with Cleanups() as cleanups:
        stage = embed_tag("solid.swf", *pages.EMBED[2:])
        running, t0, wall0 = start(cleanups, variant, stage, assets, wait_for_page=False,
                                   head=TIMELINE)
        probe = ScreenProbe(running.xvfb.display)
        cleanups.addCleanup(probe.close)
        rect = None
        def shown():
            nonlocal rect
            if rect is None:
                try:
                    rect = centre(pages.screen_rect(running, pages.EMBED))
                except Exception:  # noqa: BLE001 - the window is not there yet
                    return None
            if probe.share(rect, pages.MOVIE_COLOUR) > 0.9:
                return time.monotonic(), tree_cpu_seconds(running.prog.pid)
            return None
        frame, cpu = harness.wait_until(shown, pages.FIRST_FRAME_TIMEOUT, interval=0.005,
                                        what="the movie")
        asked = running.proxy.requests_for(linux_program.GAME_PATH)[0].time
        result = {"first_frame": frame - t0, "requested": asked - t0, "cpu_first_frame": cpu}
        try:
            line = harness.wait_until(lambda: pages.reports(running, "timeline"), 20,
                                      what="the timeline")[0]
            origin = float(line["origin"]) / 1000.0 - wall0  # page time 0, seconds after exec
            for key, value in line.items():
                if key == "module":
                    result["module"] = value
                elif key not in ("call", "origin", "r"):
                    result[key] = float(value) / 1000.0 + origin
        except TimeoutError:
            pass
        return result


def tree_cpu_seconds(sid):
    total = 0.0
    ticks = os.sysconf("SC_CLK_TCK")
    for pid in session_pids(sid):
        try:
            with open("/proc/%d/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += (int(fields[11]) + int(fields[12])) / ticks
        except OSError:
            pass
    return total


def playing(variant, assets, play_seconds, shots):
    stage = (0, 0) + VIEW
    with Cleanups() as cleanups:
        running = start(cleanups, variant, embed_tag("square.swf", *VIEW), assets, stage_rect=stage)[0]
        probe = ScreenProbe(running.xvfb.display)
        cleanups.addCleanup(probe.close)
        # The view's top left corner: the stage's background once it plays.
        left, top, _, _ = running.x.geometry(running.window)
        corner = (left + 2, top + 2, 8, 8)
        harness.wait_until(lambda: probe.share(corner, PLAY_BACKGROUND) > 0.9, pages.FIRST_FRAME_TIMEOUT,
                           interval=0.05, what="the movie to play")
        time.sleep(3.0)
        sid = running.prog.pid
        cpu0, t0 = tree_cpu_seconds(sid), time.monotonic()
        time.sleep(play_seconds)
        cpu1, t1 = tree_cpu_seconds(sid), time.monotonic()
        result = {"cpu": 100.0 * (cpu1 - cpu0) / (t1 - t0), "pss_playing": session_pss_kib(sid)}
        if shots:
            path = os.path.join(shots, "%s.png" % variant["label"])
            harness.screenshot(running.xvfb.display, path)
            harness.crop(path, (left, top) + linux_program.WINDOW_SIZE, path)
        return result


def plain(variant):
    with Cleanups() as cleanups:
        running = start(cleanups, variant, "", {})[0]
        harness.wait_until(lambda: pages.reports(running, "probe"), what="the probe")
        time.sleep(SETTLE)
        return {"pss_plain": session_pss_kib(running.prog.pid)}


def script(variant):
    with Cleanups() as cleanups:
        running = start(cleanups, variant, TIMING_STAGE % json.dumps(loader_source()), {})[0]
        timing = harness.wait_until(lambda: pages.reports(running, "timing"), what="the timing")[0]
        return {"loader_ms": float(timing["loader"]), "ruffle_ms": float(timing["ruffle"])}


def summary(values, fmt):
    if not values:
        return "-"
    return (fmt % statistics.median(values)) + " (" + (fmt % min(values)) + ".." + (fmt % max(values)) + ")"


ROWS = [
    ("requested", "exec -> game page requested", "s", 1, "%.2f"),
    ("ruffle_js_start", "exec -> ruffle.js asked for", "s", 1, "%.2f"),
    ("ruffle_js_end", "exec -> ruffle.js run", "s", 1, "%.2f"),
    ("wasm_start", "exec -> WebAssembly module asked for", "s", 1, "%.2f"),
    ("wasm_headers", "exec -> its response begins", "s", 1, "%.2f"),
    ("instantiate_start", "exec -> instantiation begins", "s", 1, "%.2f"),
    ("instantiate_end", "exec -> module compiled and instantiated", "s", 1, "%.2f"),
    ("player", "exec -> emulator's player element in the page", "s", 1, "%.2f"),
    ("movie_loaded", "exec -> player reports the movie loaded", "s", 1, "%.2f"),
    ("first_frame", "exec -> first frame of the test movie", "s", 1, "%.2f"),
    ("cpu_first_frame", "CPU time of the process tree, exec -> first frame", "s", 1, "%.2f"),
    ("cpu", "CPU of the process tree, movie playing", "% of a core", 1, "%.0f"),
    ("pss_playing", "PSS of the process tree, movie playing", "MiB", 1 / 1024.0, "%.0f"),
    ("pss_plain", "PSS of the process tree, page without Flash", "MiB", 1 / 1024.0, "%.0f"),
    ("loader_ms", "loader script, compile and run in the page", "ms", 1, "%.2f"),
    ("ruffle_ms", "ruffle.js up front (blocking <script>)", "ms", 1, "%.1f"),
]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("variants", nargs="+")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--only", default="first,playing,plain,script")
    parser.add_argument("--play", type=float, default=10.0, help="seconds of playing measured")
    parser.add_argument("--shots", help="folder for a screenshot of each variant playing")
    args = parser.parse_args()
    variants = [parse_variant(v) for v in args.variants]
    only = args.only.split(",")
    if args.shots:
        os.makedirs(args.shots, exist_ok=True)
    assets = {"solid.swf": ("application/x-shockwave-flash",
                            swf.solid_movie(pages.MOVIE_COLOUR, pages.EMBED[2], pages.EMBED[3])),
              "square.swf": ("application/x-shockwave-flash",
                             swf.moving_square_movie(PLAY_BACKGROUND, PLAY_SQUARE, *VIEW))}
    shared = tempfile.mkdtemp(prefix="vellmir-bench-caches-")
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))  # ends the runs through their cleanups
    try:
        SHARED_CACHES.update({"GST_REGISTRY": os.path.join(shared, "gstreamer-registry.bin"),
                              "MESA_SHADER_CACHE_DIR": os.path.join(shared, "mesa")})
        for variant in variants:  # warms the shared caches; not counted
            first_frame(variant, assets)
        run_all(args, variants, only, assets)
    finally:
        shutil.rmtree(shared, ignore_errors=True)


def run_all(args, variants, only, assets):
    results = {v["label"]: [] for v in variants}
    loads = []
    for run in range(args.runs):
        order = variants if run % 2 == 0 else variants[::-1]
        for variant in order:
            loads.append(os.getloadavg()[0])
            r = {}
            if "first" in only:
                r.update(first_frame(variant, assets))
            if "playing" in only:
                r.update(playing(variant, assets, args.play, args.shots if run == 0 else None))
            if "plain" in only:
                r.update(plain(variant))
            if "script" in only:
                r.update(script(variant))
            results[variant["label"]].append(r)
            print("run %d %s: %s" % (run + 1, variant["label"], ", ".join(
                "%s %s" % (k, v if isinstance(v, str) else "%.3f" % v) for k, v in sorted(r.items()))),
                file=sys.stderr, flush=True)
    print("runs: %d each, alternating; load average (1 min) during the runs: %s"
          % (args.runs, summary(loads, "%.1f")))
    for v in variants:
        extra = "".join([", renderer asked for by the page: " + v["renderer"] if v["renderer"] else "",
                         "".join(", page sets %s=%s" % kv for kv in v["config"].items()),
                         ", page head: " + v["head"] if v["head"] else "",
                         "".join(", %s=%s" % kv for kv in v["env"].items())])
        print("  %s: %s%s" % (v["label"], v["binary"], extra))
    width = max(len(v["label"]) for v in variants)
    for v in variants:
        modules = sorted(set(r["module"] for r in results[v["label"]] if "module" in r))
        if modules:
            print("WebAssembly module loaded by %s: %s" % (v["label"], ", ".join(modules)))
    for key, label, unit, scale, fmt in ROWS:
        if not any(key in r for rs in results.values() for r in rs):
            continue
        print("%s (%s), median (min..max):" % (label, unit))
        for v in variants:
            values = [r[key] * scale for r in results[v["label"]] if key in r]
            print("  %-*s %s" % (width, v["label"], summary(values, fmt)))


if __name__ == "__main__":
    shutil.which("Xvfb") or sys.exit("Xvfb is needed")
    main()
