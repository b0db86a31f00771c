"""Benchmarks of the running program, Vellmir beside the bare WebKitGTK
reference (bench/reference_browser.cpp) in the same run, under the
end-to-end harness (Xvfb, the local test-page proxy). Prints a report.

Per launch, alternating Vellmir and the reference:
  start-up   exec -> window viewable; exec -> game page requested
  memory     PSS of the whole process tree (UI, web, network processes),
             2 s after the page reported itself loaded
  idle CPU   time on a CPU of the UI process's threads over --idle seconds
             (schedstat, nanoseconds), and how often its main thread woke
Then, Vellmir only:
  latency    key down (XTest, what xdotool sends) -> toggleSound reported,
             beside the page's own keydown report of the same press
  F2 walk    F2 over a cache folder of --f2-files files (tick_probe
             preloaded): the removals, and the key-state queries meanwhile
Nothing here asserts anything.
"""

import argparse
import contextlib
import ctypes
import mmap
import os
import random
import statistics
import struct
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
import harness  # noqa: E402
from bench_common import Cleanups, pss_kib, session_pids  # noqa: E402
from program_facts import GAME_PATH, HOST  # noqa: E402


def comm(pid):
    try:
        with open("/proc/%d/comm" % pid) as f:
            return f.read().strip()
    except OSError:
        return "?"


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    return (int(fields[11]) + int(fields[12])) / ticks  # utime + stime


def cpu_ns(pid):
    """Time on a CPU of every thread of a process so far, in nanoseconds."""
    total = 0
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, tid)) as f:
                total += int(f.read().split()[0])
        except (OSError, ValueError, IndexError):
            pass
    return total


def main_thread_switches(pid):
    """Context switches of a process's main thread so far: each one is the
    thread going to sleep or being put aside, so about one per wakeup."""
    count = 0
    with open("/proc/%d/task/%d/status" % (pid, pid)) as f:
        for line in f:
            if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                count += int(line.split()[1])
    return count


def median(values):
    return statistics.median(values) if values else float("nan")


def percentile(values, p):
    values = sorted(values)
    if not values:
        return float("nan")
    k = min(len(values) - 1, max(0, int(round(p / 100.0 * (len(values) - 1)))))
    return values[k]


@contextlib.contextmanager
def bench_world(**proxy_args):
    """A private X server, the test-page proxy (or another page, given as
    the proxy's arguments) and an X client, all ended when the block ends."""
    with Cleanups() as case:
        world = harness.World(case, prefix="vellmir-bench-")
        xvfb = world.xvfb()
        yield world, xvfb, world.proxy(HOST, **proxy_args), world.x11(xvfb.display)


def launch(binary, idle_seconds, extra_env=None):
    """One launch: start-up times, PSS by process, idle CPU of the UI process."""
    with bench_world() as (world, xvfb, proxy, x):
        env = world.env(display=xvfb.display, proxy=proxy, extra=extra_env)
        t0 = time.monotonic()
        prog = world.start([binary], env)
        mapped = requested = None
        deadline = t0 + 60
        while (mapped is None or requested is None) and time.monotonic() < deadline:
            now = time.monotonic()
            if requested is None and any(r.path == GAME_PATH for r in proxy.page_requests()):
                requested = now - t0
            if mapped is None and x.windows_of_pid(prog.pid):
                mapped = now - t0
            time.sleep(0.002)
        proxy.wait_for_reports(1, call="loaded", timeout=60)
        loaded = time.monotonic() - t0
        time.sleep(2.0)
        tree = {pid: (comm(pid), pss_kib(pid)) for pid in session_pids(prog.pid)}
        cpu0, ns0, sw0 = cpu_seconds(prog.pid), cpu_ns(prog.pid), main_thread_switches(prog.pid)
        time.sleep(idle_seconds)
        cpu1, ns1, sw1 = cpu_seconds(prog.pid), cpu_ns(prog.pid), main_thread_switches(prog.pid)
        x.request_close(x.windows_of_pid(prog.pid)[0])
        status = prog.wait(30)
        return {
            "mapped": mapped, "requested": requested, "loaded": loaded,
            "pss": sum(p for _, p in tree.values()), "tree": tree,
            "idle_cpu": cpu1 - cpu0, "idle_cpu_ns": ns1 - ns0,
            "wakeups": (sw1 - sw0) / idle_seconds if idle_seconds else 0.0, "status": status,
        }


class XTest:
    """Key events straight from this process (as xdotool sends them), so the
    time of the event is known to within a system call."""

    def __init__(self, display):
        self.x11 = ctypes.CDLL("libX11.so.6")
        self.xtst = ctypes.CDLL("libXtst.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x11.XStringToKeysym.restype = ctypes.c_ulong
        self.x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
        self.x11.XFlush.argtypes = [ctypes.c_void_p]
        self.x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                                ctypes.c_ulong]
        self.dpy = self.x11.XOpenDisplay(display.encode())

    def key(self, name, down):
        code = self.x11.XKeysymToKeycode(self.dpy, self.x11.XStringToKeysym(name.encode()))
        self.xtst.XTestFakeKeyEvent(self.dpy, code, 1 if down else 0, 0)
        self.x11.XSync(self.dpy, 0)

    def close(self):
        self.x11.XCloseDisplay(self.dpy)


def stamp_reports(proxy):
    """Arrival times of the proxy's requests, by the proxy's own clock."""
    times = []
    original = proxy._record

    def record(handler, method, host, path, query):
        times.append((time.monotonic(), path, query.get("call")))
        original(handler, method, host, path, query)

    proxy._record = record
    return times


def hotkey_latency(binary, presses):
    with bench_world() as (world, xvfb, proxy, x):
        prog = world.start([binary], world.env(display=xvfb.display, proxy=proxy))
        window = x.wait_for_window(prog.pid)
        proxy.wait_for_reports(1, call="loaded", timeout=60)
        harness.wait_until(lambda: x.focus_is_within(window), what="focus")
        times = stamp_reports(proxy)
        keys = XTest(xvfb.display)
        hotkey, page, both, missed = [], [], [], 0
        for _ in range(presses):
            del times[:]
            time.sleep(0.05 + random.random() * 0.01)  # off the 10 ms tick grid
            t0 = time.monotonic()
            keys.key("F1", True)
            time.sleep(0.03)
            keys.key("F1", False)
            deadline = time.monotonic() + 3
            got_sound = got_key = None
            while time.monotonic() < deadline and (got_sound is None or got_key is None):
                for t, path, call in list(times):
                    if call == "toggleSound" and got_sound is None:
                        got_sound = t - t0
                    if call == "keydown" and got_key is None:
                        got_key = t - t0
                time.sleep(0.001)
            if got_sound is None:
                missed += 1
            else:
                hotkey.append(got_sound * 1000)
            if got_key is not None:
                page.append(got_key * 1000)
            if got_sound is not None and got_key is not None:
                both.append((got_sound - got_key) * 1000)
        keys.close()
        x.request_close(window)
        prog.wait(30)
        return hotkey, page, both, missed


def make_cache_tree(root, files):
    per_leaf = max(1, files // 1000)
    made = 0
    for a in range(10):
        for b in range(10):
            for c in range(10):
                d = os.path.join(root, "%d/%d/%d" % (a, b, c))
                os.makedirs(d, exist_ok=True)
                for i in range(per_leaf):
                    if made >= files:
                        return made
                    open(os.path.join(d, "r%d" % i), "wb").close()
                    made += 1
    return made


def f2_jitter(binary, probe, files):
    with bench_world() as (world, xvfb, proxy, x):
        log_path = world.path("ticks.bin")
        env = world.env(display=xvfb.display, proxy=proxy,
                        extra={"LD_PRELOAD": probe, "VELLMIR_TICK_LOG": log_path})
        make_cache_tree(os.path.join(env["XDG_CACHE_HOME"], "vellmir", "bench"), files)
        os.sync()
        prog = world.start([binary], env)
        window = x.wait_for_window(prog.pid)
        proxy.wait_for_reports(1, call="loaded", timeout=60)
        time.sleep(3.0)  # a quiet stretch to compare with
        keys = XTest(xvfb.display)
        pressed = time.monotonic_ns()
        keys.key("F2", True)
        time.sleep(0.03)
        keys.key("F2", False)
        keys.close()
        with open(log_path, "r+b") as f:
            m = mmap.mmap(f.fileno(), 0)
            # Done once the removals have stopped for a second.
            last, still = 0, 0
            deadline = time.monotonic() + 300
            while time.monotonic() < deadline:
                time.sleep(0.25)
                unlinks = struct.unpack_from("<Q", m, 8)[0]
                still = still + 1 if unlinks == last and unlinks > 0 else 0
                last = unlinks
                if still >= 4:
                    break
            time.sleep(1.0)
            ticks, unlinks, first_ns, last_ns = struct.unpack_from("<QQQQ", m, 0)
            stamps = struct.unpack_from("<%dQ" % ticks, m, 32)
            m.close()
        x.request_close(window)
        prog.wait(30)

        def intervals(lo, hi):
            s = [t for t in stamps if lo <= t <= hi]
            return [(b - a) / 1e6 for a, b in zip(s, s[1:])]

        def count(lo, hi):
            return len([t for t in stamps if lo <= t <= hi])

        quiet = intervals(pressed - 3_000_000_000, pressed - 100_000_000)
        busy = intervals(first_ns, last_ns)
        return {"unlinks": unlinks, "walk_s": (last_ns - first_ns) / 1e9,
                "press_to_first_ms": (first_ns - pressed) / 1e6, "quiet": quiet, "busy": busy,
                "queries_quiet": count(pressed - 3_000_000_000, pressed - 100_000_000),
                "queries_busy": count(first_ns, last_ns)}


def describe(values, unit="ms"):
    return "median %.1f %s, p99 %.1f, max %.1f (n=%d)" % (
        median(values), unit, percentile(values, 99), max(values) if values else float("nan"),
        len(values))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--vellmir", required=True)
    ap.add_argument("--reference", required=True)
    ap.add_argument("--probe", required=True)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--idle", type=float, default=30.0)
    ap.add_argument("--presses", type=int, default=120)
    ap.add_argument("--f2-files", type=int, default=100000)
    ap.add_argument("--only", default="launch,latency,f2")
    ap.add_argument("--also", action="append", default=[], metavar="LABEL=BINARY",
                    help="another build of the program, launched in the same rotation")
    args = ap.parse_args()
    args.vellmir, args.reference, args.probe = (os.path.abspath(p) for p in
                                                (args.vellmir, args.reference, args.probe))
    only = args.only.split(",")
    programs = [("vellmir", args.vellmir), ("reference", args.reference)]
    for extra in args.also:
        label, _, binary = extra.partition("=")
        programs.append((label, os.path.abspath(binary)))

    if "launch" in only:
        print("## Start-up, memory, idle CPU (%d launches each, alternating; idle %.0f s)"
              % (args.runs, args.idle))
        results = {name: [] for name, _ in programs}
        for name, binary in programs:  # warm the page cache; not counted
            launch(binary, 0.5)
        for run in range(args.runs):
            order = programs if run % 2 == 0 else programs[::-1]
            for name, binary in order:
                r = launch(binary, args.idle)
                results[name].append(r)
                print("  %-9s run %d: mapped %.0f ms, page requested %.0f ms, loaded %.0f ms, "
                      "PSS %.1f MiB, idle CPU %.3f s (schedstat %.4f s), main thread %.1f "
                      "wakeups/s, exit %d"
                      % (name, run + 1, r["mapped"] * 1000, r["requested"] * 1000,
                         r["loaded"] * 1000, r["pss"] / 1024, r["idle_cpu"],
                         r["idle_cpu_ns"] / 1e9, r["wakeups"], r["status"]),
                      flush=True)
        for name, _ in programs[:2]:
            last = results[name][-1]["tree"]
            print("  %s process tree (last run): %s" % (name, ", ".join(
                "%s %.1f MiB" % (c, p / 1024) for c, p in sorted(last.values(), key=lambda v: -v[1]))))
        med = {name: {k: median([r[k] for r in rs]) for k in ("mapped", "requested", "loaded",
                                                               "pss", "idle_cpu", "idle_cpu_ns",
                                                               "wakeups")}
               for name, rs in results.items()}
        v, ref = med["vellmir"], med["reference"]
        others = [name for name, _ in programs[2:]]
        print("  medians            %12s %12s %8s" % ("vellmir", "reference", "ratio")
              + "".join(" %12s %8s" % (name, "ratio") for name in others))
        for key, label, scale, fmt in (("mapped", "exec->mapped ms", 1000, "%.0f"),
                                       ("requested", "exec->request ms", 1000, "%.0f"),
                                       ("loaded", "exec->loaded ms", 1000, "%.0f"),
                                       ("pss", "PSS MiB", 1 / 1024, "%.1f"),
                                       ("idle_cpu", "idle CPU s", 1, "%.3f"),
                                       ("idle_cpu_ns", "idle CPU ms (ns)", 1e-6, "%.2f"),
                                       ("wakeups", "wakeups/s", 1, "%.1f")):
            ratio = lambda x: x / ref[key] if ref[key] else float("nan")  # noqa: E731
            print("  %-18s %12s %12s %8.2f" % (label, fmt % (v[key] * scale),
                                               fmt % (ref[key] * scale), ratio(v[key]))
                  + "".join(" %12s %8.2f" % (fmt % (med[name][key] * scale), ratio(med[name][key]))
                            for name in others))
        print("  idle CPU of the poller: %.3f s over %.0f s = %.2f %% of one core (Vellmir minus reference)"
              % (v["idle_cpu"] - ref["idle_cpu"], args.idle,
                 100 * (v["idle_cpu"] - ref["idle_cpu"]) / args.idle))
        extra = (v["idle_cpu_ns"] - ref["idle_cpu_ns"]) / 1e9
        print("  by schedstat: %.4f s over %.0f s = %.3f %% of one core (Vellmir minus reference)"
              % (extra, args.idle, 100 * extra / args.idle))
        print()

    if "latency" in only:
        hotkey, page, both, missed = hotkey_latency(args.vellmir, args.presses)
        print("## Hotkey latency, %d F1 presses (key down -> report at the test server)" % args.presses)
        print("  F1 -> toggleSound:          " + describe(hotkey) + ", missed %d" % missed)
        print("  same press -> page keydown: " + describe(page) + "  (the page's own key path, for scale)")
        print("  toggleSound after keydown, press by press: " + describe(both))
        print()

    if "f2" in only:
        r = f2_jitter(args.vellmir, args.probe, args.f2_files)
        print("## F2 over a cache folder of %d files: main-thread poll ticks" % args.f2_files)
        print("  removals %d, walk %.2f s, press -> first removal %.0f ms"
              % (r["unlinks"], r["walk_s"], r["press_to_first_ms"]))
        # A sampler that asks the server on every tick calls XQueryKeymap
        # once per tick; one that follows key events only to resynchronise.
        print("  XQueryKeymap calls: %d in the 3 s before F2, %d during the walk"
              % (r["queries_quiet"], r["queries_busy"]))
        if len(r["quiet"]) > 10:
            print("  tick interval, 3 s before F2: " + describe(r["quiet"]))
            print("  tick interval, during F2:     " + describe(r["busy"]))
        print()


if __name__ == "__main__":
    main()
