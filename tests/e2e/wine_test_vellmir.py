"""vellmir.exe under Wine and Xvfb, seen from X and through the proxy.

Wine has no HTML engine here (no Gecko), so pages are requested but never
drawn and never run script: what can be seen is the window, the requests that
reach the proxy, the handshake section, and what F2 leaves of the URL cache
and the cache folder.
"""

import os
import shutil
import unittest

import harness
from wine_program import (EXE, GAME_HOST, GAME_PAGE_PATH, TITLE, WINDOW_SIZE, WineRun,
                          remove_template, require_exe, windows_path)

MWM_HINTS_DECORATIONS = 2
WS_POPUP, WS_CHILD, WS_CLIPCHILDREN = 0x80000000, 0x40000000, 0x02000000
WS_CAPTION, WS_BORDER, WS_DLGFRAME = 0x00C00000, 0x00800000, 0x00400000
WS_SYSMENU, WS_THICKFRAME, WS_MINIMIZEBOX, WS_MAXIMIZEBOX = 0x80000, 0x40000, 0x20000, 0x10000
EXIT_FAILED_TO_OPEN = 255  # -1, as Wine hands it on to Unix


def tearDownModule():
    remove_template()


def close_and_wait(testcase, run, process, window):
    run.x.request_close(window)
    testcase.assertEqual(run.wait_for_exit(process), 0)


@require_exe
class MainWindowTest(unittest.TestCase):

    def test_place_size_title_frame_and_game_page(self):
        # (screen, where the window's top-left corner must be)
        cases = [
            ((1920, 1080), (489, 245)),
            ((1366, 768), (212, 89)),
            ((800, 600), (-70, 5)),  # -141 / 2 truncates toward zero
        ]
        for screen, corner in cases:
            with self.subTest(screen=screen):
                run = WineRun(self, *screen)
                program = run.start(EXE)
                window = run.x.wait_for_window(program.pid)
                self.assertEqual(run.x.geometry(window), corner + WINDOW_SIZE)
                self.assertEqual(run.x.text(window, "_NET_WM_NAME"), TITLE)
                flags, _functions, decorations = run.x.property(window, "_MOTIF_WM_HINTS")[2][:3]
                self.assertTrue(flags & MWM_HINTS_DECORATIONS)
                self.assertEqual(decorations, 0)
                requests = run.proxy.wait_for_requests(GAME_PAGE_PATH)
                self.assertEqual(requests[0].method, "GET")
                close_and_wait(self, run, program, window)
                self.doCleanups()

    def test_alt_f4_closes_the_window(self):
        run = WineRun(self)
        program = run.start(EXE)
        window = run.x.wait_for_window(program.pid)
        run.proxy.wait_for_requests(GAME_PAGE_PATH)
        run.x.set_focus(window)
        harness.wait_until(lambda: run.x.focus_is_within(window), what="the focus")
        harness.key_down(run.xvfb.display, "alt")
        harness.press_key(run.xvfb.display, "F4")
        harness.key_up(run.xvfb.display, "alt")
        self.assertEqual(run.wait_for_exit(program), 0)

    def test_error_box_and_exit_code_when_the_browser_cannot_be_made(self):
        # Without ieframe.dll there is no WebBrowser control to create.
        run = WineRun(self, extra_env={"WINEDLLOVERRIDES": "ieframe=d"})
        program = run.start(EXE)
        box = run.x.wait_for_window(program.pid)
        self.assertEqual(run.x.text(box, "_NET_WM_NAME"), "Vellmir")
        self.assertNotEqual(run.x.geometry(box)[2:], WINDOW_SIZE)
        run.x.set_focus(box)
        harness.press_key(run.xvfb.display, "Return")
        self.assertEqual(run.wait_for_exit(program), EXIT_FAILED_TO_OPEN)
        self.assertEqual(run.proxy.requests_for(), [])


@require_exe
class HandshakeTest(unittest.TestCase):
    """The peer creates the section with bytes a0..af, starts a copy of
    vellmir.exe under the given name, and reports the bytes once the main
    window exists (the handshake comes before it) and the exit code after
    closing it."""

    def test_names(self):
        filled = ["%02x" % (0xA0 + i) for i in range(16)]
        cases = [
            ("game.tmp", True),
            ("GAME.TMP", True),
            ("game.tmp.exe", False),
        ]
        peer = os.environ["VELLMIR_HANDSHAKE_PEER"]
        for name, runs in cases:
            with self.subTest(name=name):
                run = WineRun(self)
                folder = run.world.path("bin")
                os.makedirs(folder, exist_ok=True)
                copy = os.path.join(folder, name)
                shutil.copyfile(EXE, copy)
                output = run.run(peer, windows_path(copy))
                lines = dict(line.split(":", 1) for line in output.splitlines() if ":" in line)
                expected = (["00"] * 3 + filled[3:]) if runs else filled
                self.assertEqual(lines["bytes"].split(), expected, output)
                self.assertEqual(lines["exit"].strip(), "0", output)
                self.doCleanups()


@require_exe
class ClearCacheTest(unittest.TestCase):
    """F2 with the Wine window focused. Wine names the user profile, and so
    the cache folder's path, after $USER: a Chinese user name gives a path
    that code page 1252, Wine's ANSI code page here, cannot write."""

    def test_f2_clears_cache_entries_but_cookies_and_files_but_folders(self):
        probe = os.environ["VELLMIR_CACHE_PROBE"]
        tag = "vellmir-e2e"
        for user in ("player", "\u73a9\u5bb6"):  # 玩家, "player"
            with self.subTest(user=user):
                run = WineRun(self, extra_env={"USER": user})
                self.assertIn("\\users\\%s\\" % user, run.run(probe, "where"))
                program = run.start(EXE)
                window = run.x.wait_for_window(program.pid)
                run.proxy.wait_for_requests(GAME_PAGE_PATH)
                self.assertIn("seeded ok", run.run(probe, "seed", tag))
                before = run.run(probe, "list", tag).splitlines()
                self.assertIn("entry http://%s.test/page.htm" % tag, before)
                self.assertIn("cookie Cookie:user@%s.test/" % tag, before)
                self.assertIn("file a.txt -", before)

                run.x.set_focus(window)
                harness.wait_until(lambda: run.x.focus_is_within(window), what="the focus")
                # Esc while the game view has the focus must not close the window.
                harness.press_key(run.xvfb.display, "Escape")
                harness.press_key(run.xvfb.display, "F2")

                def cleared():
                    listing = run.run(probe, "list", tag).splitlines()
                    return not any(line.startswith("entry ") or
                                   (line.startswith("file ") and not line.endswith(" readonly"))
                                   for line in listing)
                try:
                    harness.wait_until(cleared, interval=0.5, what="F2 to clear the cache")
                except TimeoutError:
                    pass  # the assertions below say what is left
                after = run.run(probe, "list", tag).splitlines()
                self.assertEqual([line for line in after if line.startswith("entry ")], [])
                self.assertEqual(sorted(line for line in after if line.startswith("cookie ")),
                                 sorted(line for line in before if line.startswith("cookie ")))
                self.assertEqual(sorted(line for line in after if line.startswith("folder ")),
                                 ["folder empty", "folder sub", "folder sub/deeper"])
                self.assertEqual([line for line in after if line.startswith("file ")],
                                 ["file sub/readonly.txt readonly"])
                self.assertTrue(program.running and run.x.viewable(window), "Esc closed the window")
                close_and_wait(self, run, program, window)
                self.doCleanups()


TEARDOWN_POSTS = "2"  # both messages posted inside the game view as it goes were handled


@require_exe
class NavigateTest(unittest.TestCase):
    """The real main window and game view, with navigate called from a thread
    of their own by the navigate probe. The message loop ends on the quit
    request, after what the game view's windows posted while they were
    destroyed."""

    def test_navigate_from_another_thread_reaches_the_browser(self):
        run = WineRun(self)
        program = run.start(os.environ["VELLMIR_NAVIGATE_PROBE"],
                            "http://%s/flash/from-a-thread.htm" % GAME_HOST)
        window = run.x.wait_for_window(program.pid)
        run.proxy.wait_for_requests("/flash/from-a-thread.htm")
        run.proxy.wait_for_requests(GAME_PAGE_PATH)
        close_and_wait(self, run, program, window)

        # What the window is made of, as the probe saw it once it was open.
        report = dict(line.split(" ", 1) for line in program.output()[0].splitlines())
        style, exstyle = int(report["style"], 16), int(report["exstyle"], 16)
        for bit in (WS_CLIPCHILDREN, WS_MINIMIZEBOX):
            self.assertTrue(style & bit, hex(style))
        for bit in (WS_CAPTION, WS_BORDER, WS_DLGFRAME, WS_SYSMENU, WS_THICKFRAME,
                    WS_MAXIMIZEBOX, WS_CHILD, WS_POPUP):
            self.assertFalse(style & bit, hex(style))
        self.assertEqual(exstyle, 0)
        self.assertEqual(report["view"], "-51 -80 1060 680 visible=1 tabstop=1")
        self.assertEqual(report["icons"], "32 16")
        self.assertEqual(report["teardown_posts"], TEARDOWN_POSTS)

    def test_navigates_while_the_window_closes_are_dropped(self):
        run = WineRun(self)
        program = run.start(os.environ["VELLMIR_NAVIGATE_PROBE"], "about:blank", "--close")
        self.assertEqual(run.wait_for_exit(program), 0)
        report = dict(line.split(" ", 1) for line in program.output()[0].splitlines())
        self.assertEqual(report["teardown_posts"], TEARDOWN_POSTS)


@require_exe
class DisplayUnitTest(unittest.TestCase):
    """The Windows platform unit tests that need a display (they skip
    without one), run on the test's own X server."""

    def test_game_view_container(self):
        run = WineRun(self)
        output = run.run(os.environ["VELLMIR_PLATFORM_TESTS"],
                         "--gtest_filter=GameViewContainer.*")
        self.assertIn("[  PASSED  ] 1 test.", output)
        self.assertNotIn("SKIPPED", output)


if __name__ == "__main__":
    unittest.main()
