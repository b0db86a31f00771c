"""The main window as the window system and the screen see it."""

import unittest

import harness
from linux_program import CUTOUT, Running, WINDOW_SIZE, require_binary

MWM_HINTS_FUNCTIONS, MWM_HINTS_DECORATIONS = 1, 2
MWM_FUNC_RESIZE, MWM_FUNC_MINIMIZE, MWM_FUNC_MAXIMIZE = 2, 8, 16
P_MIN_SIZE, P_MAX_SIZE = 16, 32


@require_binary
class MainWindowTest(unittest.TestCase):
    """One run on a 1920 x 1080 screen."""

    @classmethod
    def setUpClass(cls):
        cls.run_ = Running(cls)
        cls.x, cls.window = cls.run_.x, cls.run_.window

    def test_centred_on_the_screen(self):
        self.assertEqual(self.x.geometry(self.window), (489, 245) + WINDOW_SIZE)

    def test_title(self):
        self.assertEqual(self.x.text(self.window, "_NET_WM_NAME"), "Vellmir内嵌程序")

    def test_no_frame_and_no_resizing(self):
        self.assertIsNone(self.x.property(self.window, "_NET_FRAME_EXTENTS"))
        flags, functions, decorations = self.x.property(self.window, "_MOTIF_WM_HINTS")[2][:3]
        self.assertTrue(flags & MWM_HINTS_DECORATIONS)
        self.assertEqual(decorations, 0)
        self.assertTrue(flags & MWM_HINTS_FUNCTIONS)
        self.assertEqual(functions & (MWM_FUNC_RESIZE | MWM_FUNC_MAXIMIZE), 0)
        self.assertTrue(functions & MWM_FUNC_MINIMIZE)
        # WM_NORMAL_HINTS: flags, 4 padding fields, min w/h, max w/h.
        hints = self.x.property(self.window, "WM_NORMAL_HINTS")[2]
        self.assertTrue(hints[0] & P_MIN_SIZE and hints[0] & P_MAX_SIZE)
        self.assertEqual(tuple(hints[5:9]), WINDOW_SIZE * 2)

    def test_taskbar_entry(self):
        self.assertIsNone(self.x.property(self.window, "WM_TRANSIENT_FOR"))
        state = self.x.property(self.window, "_NET_WM_STATE")
        atoms = state[2] if state else []
        self.assertNotIn(self.x.atom("_NET_WM_STATE_SKIP_TASKBAR"), atoms)
        kind = self.x.property(self.window, "_NET_WM_WINDOW_TYPE")
        if kind is not None:
            self.assertEqual(kind[2], [self.x.atom("_NET_WM_WINDOW_TYPE_NORMAL")])

    def test_icon_sizes(self):
        data = self.x.property(self.window, "_NET_WM_ICON")[2]
        sizes, i = [], 0
        while i + 2 <= len(data):
            width, height = data[i], data[i + 1]
            sizes.append((width, height))
            i += 2 + width * height
        self.assertEqual(sorted(sizes), [(s, s) for s in (16, 24, 32, 48, 64, 128)])

    def test_only_the_cutout_shows(self):
        left, top, width, height = self.x.geometry(self.window)
        image = harness.screenshot(self.run_.xvfb.display)
        window = (left, top, width, height)
        # No page margin and nothing of the window's own background shows;
        # each edge of the window is the cut-out's own edge.
        self.assertEqual(image.count(window, harness.MARGIN_COLOUR), 0)
        ring = [(left, top, width, 1), (left, top + height - 1, width, 1),
                (left, top, 1, height), (left + width - 1, top, 1, height)]
        for edge in ring:
            self.assertEqual(image.count(edge, harness.CUTOUT_COLOUR), edge[2] * edge[3], edge)
        # Nothing of the page reaches past the window.
        screen = (0, 0, image.width, image.height)
        self.assertEqual(image.count(screen, harness.CUTOUT_COLOUR),
                         image.count(window, harness.CUTOUT_COLOUR))
        self.assertEqual(image.count(screen, harness.MARGIN_COLOUR), 0)

    def test_keys_go_to_the_page_and_esc_there_does_not_close(self):
        harness.press_key(self.run_.xvfb.display, "Escape", hold=0.2)
        harness.press_key(self.run_.xvfb.display, "k", hold=0.2)
        keys = self.run_.proxy.wait_for_reports(2, call="keydown")
        self.assertEqual(sorted(k["key"] for k in keys), ["Escape", "k"])
        self.assertTrue(self.run_.prog.running)
        self.assertTrue(self.x.viewable(self.window))


@require_binary
class OtherScreenSizesTest(unittest.TestCase):
    def test_centred_on_the_primary_screen(self):
        # x and y halve toward zero: on 800 x 600 the window starts left of the screen.
        for (width, height), expected in [((800, 600), (-70, 5)), ((1366, 768), (212, 89))]:
            with self.subTest(screen=(width, height)):
                world = harness.World(self)
                xvfb = world.xvfb(width, height)
                run = Running(self, world=world, xvfb=xvfb, wait_for_page=False)
                self.assertEqual(run.x.geometry(run.window), expected + WINDOW_SIZE)
                run.prog.stop()


if __name__ == "__main__":
    unittest.main()
