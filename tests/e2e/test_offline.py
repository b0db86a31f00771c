"""A page that cannot be loaded, whose host never answers, or whose process
ends under it: the browser's own error page, readable in the cut-out (the
address, the reason, that F5 tries again; Chinese for Chinese locales,
English otherwise), nothing retried by itself, and F5 and Ctrl+R in the view
reload the page shown, an error page's failed address included."""

import os
import signal
import time
import unittest

import harness
from linux_program import GAME_PATH, HOST, Running, require_binary

GAME_URL = "http://%s%s" % (HOST, GAME_PATH)
# Text that turns into markup if the error page does not escape the address.
MARKUP_QUERY = "?q=&lt;b&gt;kept&amp;x=1"
# How far from the window's edges the message keeps.
EDGE = 8


def has_chinese(text):
    return any("\u4e00" <= c <= "\u9fff" for c in text)


def ink(image, rect):
    """(count, (left, top, right, bottom)) of the pixels of rect (x, y, w, h)
    that stand out from its commonest colour: the message's text."""
    x0, y0, w, h = rect
    counts = {}
    for y in range(y0, y0 + h, 7):
        for x in range(x0, x0 + w, 7):
            p = image.pixel(x, y)
            counts[p] = counts.get(p, 0) + 1
    background = max(counts, key=counts.get)
    n, box = 0, [x0 + w, y0 + h, -1, -1]
    for y in range(y0, y0 + h):
        for x in range(x0, x0 + w):
            if sum(abs(a - b) for a, b in zip(image.pixel(x, y), background)) > 120:
                n += 1
                box = [min(box[0], x), min(box[1], y), max(box[2], x), max(box[3], y)]
    return n, tuple(box)


def page_text(run):
    """The page's text as the player could copy it: Ctrl+A, Ctrl+C in the
    view, then the clipboard."""
    def copy():
        harness.xdotool(run.xvfb.display, "key", "ctrl+a")
        harness.xdotool(run.xvfb.display, "key", "ctrl+c")
        return run.x.selection_text(timeout=5)
    return harness.wait_until(copy, interval=0.5, what="the copied text")


def error_page_text(run, timeout=harness.DEFAULT_TIMEOUT):
    """The page's text once it is an error page (it says how to retry)."""
    def text():
        copied = page_text(run)
        return "F5" in copied and copied
    return harness.wait_until(text, timeout=timeout, interval=1, what="the error page")


def settled_page_requests(proxy, path=GAME_PATH, quiet=3.0, timeout=harness.DEFAULT_TIMEOUT):
    """The requests for path once none has come for `quiet` seconds."""
    seen, since = -1, time.monotonic()
    deadline = since + timeout
    while time.monotonic() < deadline:
        now = len(proxy.requests_for(path))
        if now != seen:
            seen, since = now, time.monotonic()
        elif time.monotonic() - since >= quiet:
            break
        time.sleep(0.1)
    return proxy.requests_for(path)


@require_binary
class ErrorPageTest(unittest.TestCase):
    def wait_for_message(self, run):
        """Waits until the window shows a message and checks that all of it
        lies inside the window, clear of its edges."""
        def message():
            left, top, width, height = run.x.geometry(run.window)
            n, box = ink(harness.screenshot(run.xvfb.display), (left, top, width, height))
            return n > 2000 and (n, box, (left, top, width, height))
        n, box, (left, top, width, height) = harness.wait_until(message, what="a message")
        self.assertGreaterEqual(box[0], left + EDGE)
        self.assertGreaterEqual(box[1], top + EDGE)
        self.assertLessEqual(box[2], left + width - 1 - EDGE)
        self.assertLessEqual(box[3], top + height - 1 - EDGE)
        harness.wait_until(lambda: run.x.focus_is_within(run.window),
                           what="the program's window to have the focus")

    def test_proxy_down_at_start_shows_the_error_page_in_the_users_language(self):
        world = harness.World(self)
        xvfb = world.xvfb()
        down = harness.ClosedPort()
        self.addCleanup(down.release)
        # LANG, and the words the page should be in: English, or Chinese in
        # simplified or traditional characters.
        cases = [("C.UTF-8", "en"), ("fr_FR.UTF-8", "en"), ("zh_CN.UTF-8", "hans"),
                 ("zh_TW.UTF-8", "hant"), ("zh_HK.UTF-8", "hant")]
        texts = {}
        for lang, words in cases:
            with self.subTest(LANG=lang):
                run = Running(self, world=world, xvfb=xvfb, proxy=down, wait_for_page=False,
                              extra_env={"LANG": lang})
                self.wait_for_message(run)
                text = texts[lang] = page_text(run)
                self.assertIn(GAME_URL, text)
                self.assertIn("127.0.0.1", text)  # why: the proxy there refused
                self.assertIn("F5", text)
                self.assertEqual(has_chinese(text), words != "en", text)
                self.assertEqual(run.close(), 0)
        # Every run failed the same way: the pages differ only in their words.
        for lang_a, words_a in cases:
            for lang_b, words_b in cases:
                if lang_a in texts and lang_b in texts:
                    self.assertEqual(texts[lang_a] == texts[lang_b], words_a == words_b,
                                     (lang_a, lang_b))

    def test_nothing_retries_by_itself_and_f5_and_ctrl_r_reload_in_the_view(self):
        world = harness.World(self)
        down = harness.ClosedPort()
        self.addCleanup(down.release)
        run = Running(self, world=world, proxy=down, wait_for_page=False)
        self.wait_for_message(run)

        # The host comes back: the error page stays until the player asks.
        down.release()
        proxy = world.proxy(HOST, port=down.port)
        self.assertEqual(settled_page_requests(proxy), [])
        harness.press_key(run.xvfb.display, "F5")
        proxy.wait_for_reports(1, call="loaded")
        harness.xdotool(run.xvfb.display, "key", "ctrl+r")
        proxy.wait_for_reports(2, call="loaded")
        self.assertEqual(len(settled_page_requests(proxy)), 2)

        # Neither key is a hotkey: with another window focused they stay there.
        other = run.x.create_window(0, 0, 200, 100)
        run.x.set_focus(other)
        harness.wait_until(lambda: run.x.focus() == other, what="the other window's focus")
        harness.press_key(run.xvfb.display, "F5")
        harness.xdotool(run.xvfb.display, "key", "ctrl+r")
        self.assertEqual(len(settled_page_requests(proxy)), 2)
        # The view kept both keys to itself; the page never saw them.
        keys = [r["key"] for r in proxy.reports("keydown")]
        self.assertNotIn("F5", keys)
        self.assertNotIn("r", keys)
        self.assertEqual(run.close(), 0)

    def test_a_later_page_that_fails_and_its_retry(self):
        # The game page sends the view on to an address where the proxy hangs up.
        page = harness.TEST_PAGE.replace(
            '<script>', '<script>\nwindow.addEventListener("load", function () {\n'
            '  location.href = "%s%s"; });\n' % (harness.DROP_PATH, MARKUP_QUERY), 1)
        world = harness.World(self)
        run = Running(self, world=world, proxy=world.proxy(HOST, page=page),
                      wait_for_page=False)
        self.wait_for_message(run)
        text = page_text(run)
        self.assertIn("http://%s%s%s" % (HOST, harness.DROP_PATH, MARKUP_QUERY), text)
        self.assertEqual(len(run.proxy.requests_for(GAME_PATH)), 1)

        # Reloading the error page tries the failed address again.
        dropped = len(run.proxy.requests_for(harness.DROP_PATH))
        harness.press_key(run.xvfb.display, "F5")
        run.proxy.wait_for_requests(harness.DROP_PATH, dropped + 1)
        harness.xdotool(run.xvfb.display, "key", "ctrl+r")
        run.proxy.wait_for_requests(harness.DROP_PATH, dropped + 2)
        self.assertEqual(len(run.proxy.requests_for(GAME_PATH)), 1)
        self.assertEqual(run.close(), 0)

    def test_a_host_that_never_answers(self):
        # The game page sends the view on to an address where the proxy takes
        # the connection and says nothing, as a stalled server would.
        page = harness.TEST_PAGE.replace(
            '<script>', '<script>\nwindow.addEventListener("load", function () {\n'
            '  location.href = "%s"; });\n' % harness.SILENT_PATH, 1)
        world = harness.World(self)
        run = Running(self, world=world, proxy=world.proxy(HOST, page=page),
                      wait_for_page=False)
        run.proxy.wait_for_requests(harness.SILENT_PATH)
        # WebKit would wait for ever; after a minute the error page says why.
        text = error_page_text(run, timeout=150)
        self.assertIn("http://%s%s" % (HOST, harness.SILENT_PATH), text)
        self.assertIn("60", text)
        self.wait_for_message(run)
        # F5 asks the silent host again.
        harness.press_key(run.xvfb.display, "F5")
        run.proxy.wait_for_requests(harness.SILENT_PATH, 2)
        self.assertEqual(len(run.proxy.requests_for(GAME_PATH)), 1)
        self.assertEqual(run.close(), 0)

    def test_a_page_whose_process_ends_under_it(self):
        # What a crash of the page's process, or the system ending it for its
        # memory, does to the player: the process is gone.
        cases = [("C.UTF-8", "en"), ("zh_CN.UTF-8", "hans")]
        world = harness.World(self)
        xvfb = world.xvfb()
        for lang, words in cases:
            with self.subTest(LANG=lang):
                run = Running(self, world=world, xvfb=xvfb, extra_env={"LANG": lang})
                web = run.prog.helpers("WebKitWebProcess")
                self.assertEqual(len(web), 1)
                os.kill(web[0], signal.SIGKILL)
                text = error_page_text(run)
                self.assertIn(GAME_URL, text)
                self.assertEqual(has_chinese(text), words != "en", text)
                self.wait_for_message(run)
                # Nothing reloads by itself, not even when the error page's
                # own process ends too (as it would where every page crashes).
                again = harness.wait_until(lambda: run.prog.helpers("WebKitWebProcess"),
                                           what="the error page's process")
                os.kill(again[0], signal.SIGKILL)
                self.assertEqual(len(settled_page_requests(run.proxy)), 1)
                self.assertEqual(run.prog.helpers("WebKitWebProcess"), [])
                # F5 brings the game back.
                harness.press_key(run.xvfb.display, "F5")
                run.proxy.wait_for_reports(2, call="loaded")
                harness.press_key(run.xvfb.display, "F1")
                run.proxy.wait_for_reports(1)
                self.assertEqual(run.close(), 0)


if __name__ == "__main__":
    unittest.main()
