"""What the benchmark scripts share: cleaning up what a run started, and
reading a process tree's memory from /proc."""

import os


class Cleanups:
    """Stands in for the unittest.TestCase that the e2e harness cleans up
    through: runs the cleanups newest first, at the end of a `with` block."""

    def __init__(self):
        self.calls = []

    def addCleanup(self, fn, *args):
        self.calls.append((fn, args))

    def run(self):
        while self.calls:
            fn, args = self.calls.pop()
            try:
                fn(*args)
            except Exception:  # noqa: BLE001 - best effort, as unittest does
                pass

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.run()
        return False


def session_pids(sid):
    """Every process of a session: the program started as its leader and the
    WebKit processes under it."""
    pids = []
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % name) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            if int(fields[3]) == sid:  # field 6: session id
                pids.append(int(name))
        except (OSError, IndexError, ValueError):
            pass
    return pids


def pss_kib(pid):
    """Proportional set size of one process, in KiB (0 when it is gone)."""
    try:
        with open("/proc/%d/smaps_rollup" % pid) as f:
            for line in f:
                if line.startswith("Pss:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def session_pss_kib(sid):
    return sum(pss_kib(pid) for pid in session_pids(sid))
