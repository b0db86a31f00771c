"""vellmir.exe under Wine for the end-to-end tests: a Wine prefix made once
per run as a template and copied fresh for every test, the program and the
Windows test helpers started with it, and its wineserver ended by the test.

The executables come from CTest's environment: VELLMIR_EXE, VELLMIR_WINE
(wine64), VELLMIR_HANDSHAKE_PEER, VELLMIR_CACHE_PROBE, VELLMIR_NAVIGATE_PROBE,
VELLMIR_PLATFORM_TESTS (the Windows platform unit tests, for those that need a
display).
"""

import os
import shutil
import subprocess
import tempfile
import unittest

import harness
from program_facts import GAME_PATH as GAME_PAGE_PATH, HOST as GAME_HOST, TITLE, WINDOW_SIZE  # noqa: F401

EXE = os.environ.get("VELLMIR_EXE")
WINE = os.environ.get("VELLMIR_WINE", "wine64")
WINESERVER = os.path.join(os.path.dirname(WINE), "wineserver") if os.path.isabs(WINE) else "wineserver"
MAIN_WINDOW_CLASS = "VellmirMainWindow"
PREFIX_TIMEOUT = 300

_template = None


def require_exe(testcase_class):
    """Skips a test class when no executable was named (run outside CTest)."""
    return unittest.skipUnless(EXE and os.path.exists(EXE), "VELLMIR_EXE is not set")(testcase_class)


def _wine_env(base, prefix):
    env = dict(base)
    env.update({"WINEPREFIX": prefix, "WINEDEBUG": "-all"})
    return env


def _end_wineserver(env):
    subprocess.run([WINESERVER, "-k"], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)
    subprocess.run([WINESERVER, "-w"], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)


def template_prefix():
    """A prefix made once per test run (no display: nothing is shown while
    Wine sets it up; Mono and Gecko, which are not installed, are not asked
    for)."""
    global _template
    if _template is None:
        root = tempfile.mkdtemp(prefix="vellmir-wine-template-")
        prefix = os.path.join(root, "prefix")
        env = _wine_env({k: os.environ[k] for k in ("PATH",) if k in os.environ}, prefix)
        env["HOME"] = root
        env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
        try:
            subprocess.run([WINE, "wineboot", "--init"], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=PREFIX_TIMEOUT, check=True)
        finally:
            _end_wineserver(env)
        _template = root
    return os.path.join(_template, "prefix")


def remove_template():
    global _template
    if _template is not None:
        shutil.rmtree(_template, ignore_errors=True)
        _template = None


def windows_path(path):
    """The Z: drive path of a file of this machine."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class WineRun:
    """One test's Wine: a fresh copy of the template prefix, a private X
    server of the given size and the proxy for the game host. Cleanups end
    the prefix's wineserver (and so every Wine process of the prefix) before
    the X server goes."""

    def __init__(self, testcase, width=1920, height=1080, extra_env=None):
        self.world = harness.World(testcase, prefix="vellmir-wine-e2e-")
        self.prefix = self.world.path("prefix")
        shutil.copytree(template_prefix(), self.prefix, symlinks=True)
        self.xvfb = self.world.xvfb(width, height)
        self.proxy = self.world.proxy(GAME_HOST)
        self.env = _wine_env(self.world.env(display=self.xvfb.display, proxy=self.proxy),
                             self.prefix)
        if extra_env:
            self.env.update(extra_env)
        testcase.addCleanup(_end_wineserver, self.env)
        self.x = self.world.x11(self.xvfb.display)

    def start(self, program, *args, extra_env=None):
        env = dict(self.env, **(extra_env or {}))
        return self.world.start([WINE, program] + list(args), env)

    def run(self, program, *args):
        """Runs a console helper to its end; its standard output."""
        done = subprocess.run([WINE, program] + list(args), env=self.env, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=harness.DEFAULT_TIMEOUT * 4)
        if done.returncode != 0:
            raise AssertionError("%s %s failed (%d): %s%s" % (
                os.path.basename(program), " ".join(args), done.returncode,
                done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace")))
        return done.stdout.decode("utf-8", "replace")

    def unix_path(self, path):
        """Where a C: drive path of the prefix lies on this machine."""
        drive, rest = path[:2], path[2:]
        if drive.upper() != "C:":
            raise ValueError("not on drive C: " + path)
        return os.path.join(self.prefix, "drive_c", *[p for p in rest.split("\\") if p])

    def wait_for_exit(self, process):
        return process.wait(harness.DEFAULT_TIMEOUT * 2)
