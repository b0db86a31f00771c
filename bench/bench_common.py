"""What the benchmark scripts share: cleaning up what a run started, reading
a process tree's memory from /proc, and reading pixels off the X server."""

import ctypes
import ctypes.util
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


class ScreenProbe:
    """Pixels of the root window straight through Xlib (XGetImage), a few at
    a time: polling this costs the machine next to nothing."""

    class _XImage(ctypes.Structure):
        _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                    ("format", ctypes.c_int), ("data", ctypes.c_void_p),
                    ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                    ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                    ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                    ("bits_per_pixel", ctypes.c_int)]

    def __init__(self, display):
        self.lib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        self.lib.XOpenDisplay.restype = ctypes.c_void_p
        self.lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.lib.XDefaultRootWindow.restype = ctypes.c_ulong
        self.lib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.lib.XGetImage.restype = ctypes.POINTER(self._XImage)
        self.lib.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                       ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        self.lib.XFree.argtypes = [ctypes.c_void_p]
        self.lib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.dpy = self.lib.XOpenDisplay(display.encode())
        self.root = self.lib.XDefaultRootWindow(self.dpy)

    def share(self, rect, colour, tolerance=8, step=1):
        """Share of rect (x, y, w, h) within tolerance of colour (24-bit
        TrueColor, 32 bits a pixel, as Xvfb has it), counting every step-th
        pixel of every step-th row."""
        x, y, w, h = rect
        image = self.lib.XGetImage(self.dpy, self.root, x, y, w, h, 0xFFFFFFFF, 2)  # ZPixmap
        if not image:
            return 0.0
        img = image.contents
        raw = ctypes.string_at(img.data, img.bytes_per_line * h)
        self.lib.XFree(img.data)
        self.lib.XFree(image)
        hits = count = 0
        for row in range(0, h, step):
            line = raw[row * img.bytes_per_line:row * img.bytes_per_line + 4 * w]
            for i in range(0, 4 * w, 4 * step):
                b, g, r = line[i], line[i + 1], line[i + 2]
                hits += (abs(r - colour[0]) <= tolerance and abs(g - colour[1]) <= tolerance
                         and abs(b - colour[2]) <= tolerance)
                count += 1
        return hits / float(count)

    def close(self):
        self.lib.XCloseDisplay(self.dpy)
