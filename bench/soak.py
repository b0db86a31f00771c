"""A long run of the program under steady hotkey use, under the end-to-end
harness (Xvfb, the local test-page proxy). Prints a report; asserts nothing.

F1 every --f1-every seconds (held 30 ms, XTest as xdotool sends it) and F2
every --f2-every seconds, for --minutes, on the test page or, with --demo
MOVIE, on the demo game playing that movie. Counted: toggleSound reports (on
the demo, the movie's reports of its sound switching) against F1 presses;
for F2, a marker file put into the cache folder before each press and gone
by the next one. Compared between the start (after --warmup seconds)
and the end (after a quiet second): PSS of the process tree, threads and open
files of each process, and the UI process's CPU time.

  python3 bench/soak.py build/bench/vellmir [--minutes 10] [--demo build/bench/demo/demo.swf]
"""

import argparse
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
import demo_game  # noqa: E402
import harness  # noqa: E402
from bench_common import pss_kib, session_pids  # noqa: E402
from e2e_bench import XTest, bench_world, comm, cpu_seconds  # noqa: E402


def count_entries(path):
    try:
        return len(os.listdir(path))
    except OSError:
        return 0


def private_kib(pid):
    """Memory of one process that no other process shares, in KiB. Unlike
    PSS it does not move when other programs map the same libraries."""
    total = 0
    try:
        with open("/proc/%d/smaps_rollup" % pid) as f:
            for line in f:
                if line.startswith(("Private_Clean:", "Private_Dirty:")):
                    total += int(line.split()[1])
    except OSError:
        pass
    return total


def tree_state(sid):
    """Per process of the session: name, PSS KiB, threads, open files,
    private KiB."""
    state = {}
    for pid in session_pids(sid):
        state[pid] = (comm(pid), pss_kib(pid), count_entries("/proc/%d/task" % pid),
                      count_entries("/proc/%d/fd" % pid), private_kib(pid))
    return state


def describe(state):
    return ", ".join("%s(%d) PSS %.1f MiB private %.1f MiB %d threads %d fds"
                     % (name, pid, pss / 1024, private / 1024, threads, fds)
                     for pid, (name, pss, threads, fds, private) in sorted(state.items()))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("binary")
    ap.add_argument("--minutes", type=float, default=10.0)
    ap.add_argument("--f1-every", type=float, default=0.2)
    ap.add_argument("--f2-every", type=float, default=10.0)
    ap.add_argument("--warmup", type=float, default=10.0)
    ap.add_argument("--demo", metavar="MOVIE", help="play the demo game with this movie")
    args = ap.parse_args()
    binary = os.path.abspath(args.binary)

    page = {}
    if args.demo:
        with open(args.demo, "rb") as f:
            page = dict(page=demo_game.page(),
                        assets={"demo.swf": ("application/x-shockwave-flash", f.read())})

    with bench_world(**page) as (world, xvfb, proxy, x):
        if args.demo:
            def f1_reports():
                return [q for q in proxy.reports("gameState") if q["event"] == "sound"]
        else:
            f1_reports = proxy.reports
        env = world.env(display=xvfb.display, proxy=proxy)
        cache = os.path.join(env["XDG_CACHE_HOME"], "vellmir")
        prog = world.start([binary], env)
        window = x.wait_for_window(prog.pid)
        proxy.wait_for_reports(1, call="loaded", timeout=60)
        if args.demo:
            harness.wait_until(lambda: any(q["event"] == "ready" for q in proxy.reports("gameState")),
                               timeout=120, what="the demo game")
        harness.wait_until(lambda: x.focus_is_within(window), what="focus")
        keys = XTest(xvfb.display)

        # One F1 and one F2 first, so that what they set up once is there.
        keys.key("F1", True)
        time.sleep(0.03)
        keys.key("F1", False)
        keys.key("F2", True)
        time.sleep(0.03)
        keys.key("F2", False)
        time.sleep(args.warmup)
        f1_before = len(f1_reports())
        start = tree_state(prog.pid)
        cpu_start = cpu_seconds(prog.pid)
        print("start: " + describe(start), flush=True)

        t0 = time.monotonic()
        duration = args.minutes * 60
        f1_sent = f2_sent = f2_seen = 0
        marker = None
        next_f1, next_f2, next_note = t0, t0 + args.f2_every / 2, t0 + 60
        while True:
            now = time.monotonic()
            if now - t0 >= duration:
                break
            if now >= next_f2:
                if marker is not None and not os.path.exists(marker):
                    f2_seen += 1
                os.makedirs(cache, exist_ok=True)
                marker = os.path.join(cache, "soak-marker-%d" % f2_sent)
                open(marker, "w").close()
                keys.key("F2", True)
                time.sleep(0.03)
                keys.key("F2", False)
                f2_sent += 1
                next_f2 += args.f2_every
            elif now >= next_f1:
                keys.key("F1", True)
                time.sleep(0.03)
                keys.key("F1", False)
                f1_sent += 1
                next_f1 += args.f1_every
            else:
                time.sleep(max(0.0, min(next_f1, next_f2) - now))
            if now >= next_note:
                next_note += 60
                pids = session_pids(prog.pid)
                print("  %.0f s: F1 %d pressed, %d reported; PSS %.1f MiB, private %.1f MiB" % (
                    now - t0, f1_sent, len(f1_reports()) - f1_before,
                    sum(pss_kib(pid) for pid in pids) / 1024,
                    sum(private_kib(pid) for pid in pids) / 1024), flush=True)

        # Every press reported, or none more for 5 s.
        last, changed = -1, time.monotonic()
        while len(f1_reports()) - f1_before < f1_sent and time.monotonic() - changed < 5.0:
            if len(f1_reports()) != last:
                last, changed = len(f1_reports()), time.monotonic()
            time.sleep(0.05)
        reported = len(f1_reports()) - f1_before
        if marker is not None:
            harness.wait_until(lambda: not os.path.exists(marker), timeout=30, what="last F2")
            f2_seen += 1
        time.sleep(1.0)
        end = tree_state(prog.pid)
        cpu_end = cpu_seconds(prog.pid)
        keys.close()
        x.request_close(window)
        status = prog.wait(60)

    print("end:   " + describe(end))
    pss0 = sum(s[1] for s in start.values())
    pss1 = sum(s[1] for s in end.values())
    print("## Soak, %.1f min: F1 every %.1f s, F2 every %.0f s" % (args.minutes, args.f1_every,
                                                                  args.f2_every))
    print("  F1: %d pressed, %d toggleSound reported, %d lost" % (f1_sent, reported,
                                                                  f1_sent - reported))
    print("  F2: %d pressed, %d cleared their marker, %d lost" % (f2_sent, f2_seen,
                                                                  f2_sent - f2_seen))
    print("  PSS of the process tree: %.1f -> %.1f MiB (%+.2f %%)"
          % (pss0 / 1024, pss1 / 1024, 100.0 * (pss1 - pss0) / pss0 if pss0 else float("nan")))
    own0 = sum(s[4] for s in start.values())
    own1 = sum(s[4] for s in end.values())
    print("  private memory of the process tree: %.1f -> %.1f MiB (%+.2f %%)"
          % (own0 / 1024, own1 / 1024, 100.0 * (own1 - own0) / own0 if own0 else float("nan")))
    for label, index in (("threads", 2), ("open files", 3)):
        print("  %s: %s" % (label, ", ".join(
            "%s %d -> %s" % (start[pid][0], start[pid][index],
                             end[pid][index] if pid in end else "gone")
            for pid in sorted(start))))
    print("  UI process CPU over the soak: %.1f s (%.1f %% of a core)"
          % (cpu_end - cpu_start, 100.0 * (cpu_end - cpu_start) / duration))
    print("  exit status %d" % status)


if __name__ == "__main__":
    main()
