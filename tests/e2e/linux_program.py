"""Starting the Linux program under test (the binary CTest names in
VELLMIR_BINARY) in a harness world, and what the tests know about it."""

import os
import unittest

import harness
from program_facts import CUTOUT, GAME_PATH, HOST, WINDOW_SIZE  # noqa: F401 (re-exported)

BINARY = os.environ.get("VELLMIR_BINARY", "")
LAUNCH_PROBE = os.environ.get("VELLMIR_LAUNCH_PROBE", "")


def require_binary(testcase_class):
    """Skips a test class when no binary was named (run outside CTest)."""
    if not BINARY or not os.access(BINARY, os.X_OK):
        return unittest.skip("VELLMIR_BINARY does not name the built program")(testcase_class)
    return testcase_class


class Running:
    """One run of the program: .world, .xvfb, .proxy, .x, .prog, .window."""

    def __init__(self, testcase, world=None, xvfb=None, proxy=None, executable=None,
                 extra_env=None, wait_for_page=True, cookie_value="kept"):
        self.world = world or harness.World(testcase)
        self.xvfb = xvfb or self.world.xvfb()
        self.proxy = proxy or self.world.proxy(HOST, cookie_value=cookie_value)
        self.x = self.world.x11(self.xvfb.display)
        self.env = self.world.env(display=self.xvfb.display, proxy=self.proxy, extra=extra_env)
        self.prog = self.world.start([executable or BINARY], self.env)
        self.window = self.x.wait_for_window(self.prog.pid)
        if wait_for_page:
            # The page has loaded: toggleSound exists from here on.
            self.proxy.wait_for_reports(1, call="loaded")
            harness.wait_until(lambda: self.x.focus_is_within(self.window),
                               what="the program's window to have the focus")

    @property
    def cache_folder(self):
        return os.path.join(self.env["XDG_CACHE_HOME"], "vellmir")

    @property
    def data_folder(self):
        return os.path.join(self.env["XDG_DATA_HOME"], "vellmir")

    def close(self):
        """A window manager's close request; returns the exit status."""
        self.x.request_close(self.window)
        return self.prog.wait()
