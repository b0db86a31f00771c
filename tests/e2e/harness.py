"""End-to-end test harness: a private X server, a local HTTP proxy that serves
a test game page, the program under test, and the X11 helpers to look at it.

Python 3 standard library only. Everything started here is ended here, by
process id. The program's command line and environment are parameters, so the
same pieces drive the Linux binary and the Windows one under Wine.

Typical use from a unittest.TestCase:

    world = harness.World(self)                  # temp dir, cleaned up after the test
    xvfb = world.xvfb()                          # Xvfb -displayfd, 1920x1080x24
    proxy = world.proxy("games.example")         # serves harness.TEST_PAGE for that host
    env = world.env(display=xvfb.display, proxy=proxy)
    prog = world.start([binary], env)
    x = world.x11(xvfb.display)
    win = x.wait_for_window(prog.pid)
    harness.press_key(xvfb.display, "F1")
    proxy.wait_for_reports(1)
"""

import ctypes
import ctypes.util
import http.server
import os
import shutil
import signal
import socket
import socketserver
import subprocess
import tempfile
import threading
import time
import urllib.parse

from program_facts import CUTOUT, GAME_VIEW

DEFAULT_TIMEOUT = 30.0  # seconds; generous, the sanitizer builds are slow

# The test game page. Everything outside the cut-out that the window shows,
# (51, 80) to (992, 670) of the page, is MARGIN_COLOUR; the cut-out itself is
# CUTOUT_COLOUR. toggleSound(arg) reports each call to REPORT_PATH on the same
# host. The page also pulls a few cacheable assets so that the browser's disk
# cache has something in it.
MARGIN_COLOUR = (255, 0, 255)
CUTOUT_COLOUR = (0, 160, 64)
REPORT_PATH = "/__report"
ASSET_PATH = "/__asset/"
DROP_PATH = "/__drop"  # the proxy hangs up without an answer
SILENT_PATH = "/__silent"  # the proxy keeps the connection and never answers
COOKIE_NAME = "vellmir_e2e"

TEST_PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Test game</title>
<link rel="stylesheet" href="/__asset/game.css">
<style>
html, body { margin: 0; padding: 0; overflow: hidden; width: %(view_w)dpx; height: %(view_h)dpx;
             background: rgb%(margin)s; font-family: "DejaVu Sans", sans-serif; }
#cutout { position: absolute; left: %(cut_x)dpx; top: %(cut_y)dpx; width: %(cut_w)dpx; height: %(cut_h)dpx;
          background: rgb%(cutout)s; color: white; text-align: center; }
#cutout h1 { margin: 190px 0 10px; font-size: 64px; letter-spacing: 4px; }
#cutout p { margin: 6px; font-size: 22px; }
#sound { font-weight: bold; }
</style>
<script src="/__asset/game.js"></script>
<script>
var calls = 0;
function report(query) {
  var img = new Image();
  img.src = "/__report?" + query + "&r=" + Math.random();
}
function toggleSound(arg) {
  calls += 1;
  var sound = document.getElementById("sound");
  if (sound) sound.textContent = calls %% 2 ? "off" : "on";
  report("call=toggleSound&arg=" + encodeURIComponent(String(arg)) + "&n=" + calls +
         "&cookie=" + encodeURIComponent(document.cookie));
}
window.addEventListener("load", function () { report("call=loaded"); });
document.addEventListener("keydown", function (e) {
  report("call=keydown&key=" + encodeURIComponent(e.key));
});
</script></head>
<body><div id="cutout">
<h1>Test game</h1>
<p>sound <span id="sound">on</span></p>
<p>F1 switches the sound &middot; F2 clears the browser cache</p>
<img src="/__asset/logo.svg" width="1" height="1" alt="">
</div></body>
</html>
""" % {"view_w": GAME_VIEW[2], "view_h": GAME_VIEW[3], "margin": MARGIN_COLOUR,
       "cutout": CUTOUT_COLOUR, "cut_x": CUTOUT[0], "cut_y": CUTOUT[1], "cut_w": CUTOUT[2],
       "cut_h": CUTOUT[3]}

ASSETS = {
    "game.css": ("text/css", "#cutout { outline: none; }\n" + "/* padding */\n" * 400),
    "game.js": ("application/javascript", "var gameLoaded = true;\n" + "// padding\n" * 400),
    "logo.svg": ("image/svg+xml",
                 '<svg xmlns="http://www.w3.org/2000/svg" width="1" height="1">'
                 '<rect width="1" height="1" fill="rgb(0,160,64)"/></svg>' + " " * 4000),
}


def wait_until(predicate, timeout=DEFAULT_TIMEOUT, interval=0.05, what="condition"):
    """Calls predicate until it returns something truthy and returns that;
    raises TimeoutError after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise TimeoutError("timed out waiting for " + what)
        time.sleep(interval)


# --------------------------------------------------------------------------
# Processes


class Process:
    """A started process in a session of its own. stop() ends it and anything
    left in its process group (browser helper processes), by id."""

    def __init__(self, argv, env, cwd=None, log_prefix=None, pass_fds=()):
        self.argv = list(argv)
        self.log_prefix = log_prefix
        out = open(log_prefix + ".out", "wb") if log_prefix else subprocess.DEVNULL
        err = open(log_prefix + ".err", "wb") if log_prefix else subprocess.DEVNULL
        try:
            self.popen = subprocess.Popen(self.argv, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                                          stdout=out, stderr=err, start_new_session=True,
                                          pass_fds=pass_fds)
        finally:
            if log_prefix:
                out.close()
                err.close()
        self.pid = self.popen.pid

    @property
    def running(self):
        return self.popen.poll() is None

    def wait(self, timeout=DEFAULT_TIMEOUT):
        """The exit status (negative: killed by that signal)."""
        return self.popen.wait(timeout)

    def output(self):
        """(stdout, stderr) as text, when logged."""
        if not self.log_prefix:
            return "", ""
        result = []
        for suffix in (".out", ".err"):
            try:
                with open(self.log_prefix + suffix, "rb") as f:
                    result.append(f.read().decode("utf-8", "replace"))
            except OSError:
                result.append("")
        return tuple(result)

    def helpers(self, name):
        """The ids of its live helper processes (its process group) whose
        command name is name, as /proc has it (15 characters at most)."""
        found = []
        for pid in _live_members(self.pid):
            try:
                with open("/proc/%d/comm" % pid) as f:
                    if f.read().strip() == name[:15]:
                        found.append(pid)
            except OSError:
                pass
        return found

    def stop(self, grace=5.0):
        if self.popen.poll() is None:
            try:
                self.popen.send_signal(signal.SIGTERM)
                self.popen.wait(grace)
            except subprocess.TimeoutExpired:
                self.popen.kill()
                self.popen.wait()
        # The group is ours (start_new_session): end what is left of it, and
        # wait until none of it runs any more (it may still write files).
        try:
            os.killpg(self.pid, signal.SIGKILL)
        except (ProcessLookupError, PermissionError):
            return
        try:
            wait_until(lambda: not _live_members(self.pid), timeout=10, what="the process group")
        except TimeoutError:
            pass


def _live_members(pgid):
    """Processes of a process group that are not yet zombies."""
    members = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
        except OSError:
            continue
        # pid (comm) state ppid pgrp ...; comm may hold spaces and parentheses
        fields = stat[stat.rindex(")") + 2:].split()
        if int(fields[2]) == pgid and fields[0] != "Z":
            members.append(int(entry))
    return members


class Xvfb:
    """A private X server: Xvfb -displayfd, one screen of the given size."""

    def __init__(self, workdir, width=1920, height=1080, depth=24):
        read_fd, write_fd = os.pipe()
        try:
            self.process = Process(
                ["Xvfb", "-displayfd", str(write_fd), "-screen", "0",
                 "%dx%dx%d" % (width, height, depth), "-nolisten", "tcp", "-noreset"],
                env=dict(os.environ), cwd=workdir, log_prefix=os.path.join(workdir, "xvfb"),
                pass_fds=(write_fd,))
        finally:
            os.close(write_fd)
        number = b""
        with os.fdopen(read_fd, "rb") as pipe:
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip():
            self.process.stop()
            raise RuntimeError("Xvfb did not start: " + self.process.output()[1])
        self.display = ":" + number.decode().strip()
        self.size = (width, height)

    def stop(self):
        self.process.stop()


# --------------------------------------------------------------------------
# The proxy and its test page


class Request:
    def __init__(self, method, host, path, query, headers):
        self.method = method
        self.host = host
        self.path = path
        self.query = query  # dict of first values
        self.headers = headers  # lower-case names
        self.time = time.monotonic()

    @property
    def cookies(self):
        jar = {}
        for part in self.headers.get("cookie", "").split(";"):
            name, sep, value = part.strip().partition("=")
            if sep:
                jar[name] = value
        return jar

    def __repr__(self):
        return "<%s http://%s%s>" % (self.method, self.host, self.path)


class GameProxy:
    """An HTTP proxy on 127.0.0.1 (on `port`, or an ephemeral one). Requests
    for `host` are answered here: REPORT_PATH records a report, ASSET_PATH
    serves cacheable assets, DROP_PATH closes the connection without an
    answer, SILENT_PATH keeps it open without one until the proxy stops, and
    every other path serves `page` with a persistent cookie
    COOKIE_NAME=cookie_value. Requests for any other host get 502: nothing
    leaves the machine. Every request is recorded in .requests."""

    def __init__(self, host, page=TEST_PAGE, cookie_value="kept", assets=None, port=0):
        self.host = host.lower()
        self.page = page
        self.cookie_value = cookie_value
        self.assets = dict(ASSETS, **(assets or {}))  # name -> (type, str or bytes)
        self.requests = []
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        proxy = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_CONNECT(self):
                proxy._record(self, self.command, self.path.split(":")[0], "", {})
                self._send(405, "text/plain", b"no tunnels here\n")

            def do_GET(self):
                self._serve()

            def do_HEAD(self):
                self._serve()

            def do_POST(self):
                length = int(self.headers.get("Content-Length") or 0)
                if length:
                    self.rfile.read(length)
                self._serve()

            def _serve(self):
                parts = urllib.parse.urlsplit(self.path)
                host = (parts.hostname or self.headers.get("Host", "").split(":")[0]).lower()
                path = parts.path or "/"
                query = {k: v[0] for k, v in urllib.parse.parse_qs(parts.query).items()}
                proxy._record(self, self.command, host, path, query)
                if host != proxy.host:
                    self._send(502, "text/plain", b"unknown host\n")
                elif path == REPORT_PATH:
                    self._send(204, None, b"", ["Cache-Control: no-store"])
                elif path == DROP_PATH:
                    self.close_connection = True
                elif path == SILENT_PATH:
                    proxy.stopping.wait()
                    self.close_connection = True
                elif path.startswith(ASSET_PATH) and path[len(ASSET_PATH):] in proxy.assets:
                    ctype, body = proxy.assets[path[len(ASSET_PATH):]]
                    self._send(200, ctype, body if isinstance(body, bytes) else body.encode(),
                               ["Cache-Control: public, max-age=86400",
                                "Last-Modified: Mon, 01 Jan 2024 00:00:00 GMT"])
                else:
                    self._send(200, "text/html; charset=utf-8", proxy.page.encode("utf-8"),
                               ["Cache-Control: no-cache",
                                "Set-Cookie: %s=%s; Max-Age=31536000; Path=/"
                                % (COOKIE_NAME, proxy.cookie_value)])

            def _send(self, status, ctype, body, extra=()):
                self.send_response(status)
                if ctype:
                    self.send_header("Content-Type", ctype)
                for line in extra:
                    name, _, value = line.partition(": ")
                    self.send_header(name, value)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                if self.command != "HEAD":
                    self.wfile.write(body)

        class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
            daemon_threads = True
            allow_reuse_address = True

        self.server = Server(("127.0.0.1", port), Handler)
        self.port = self.server.server_address[1]
        self.url = "http://127.0.0.1:%d" % self.port
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def _record(self, handler, method, host, path, query):
        headers = {k.lower(): v for k, v in handler.headers.items()}
        with self.lock:
            self.requests.append(Request(method, host, path, query, headers))

    def requests_for(self, path=None):
        """Requests for our host (optionally one path), in arrival order."""
        with self.lock:
            return [r for r in self.requests
                    if r.host == self.host and (path is None or r.path == path)]

    def page_requests(self):
        """Requests for anything on our host but reports and assets."""
        return [r for r in self.requests_for()
                if r.path != REPORT_PATH and not r.path.startswith(ASSET_PATH)]

    def reports(self, call="toggleSound"):
        """The page's reports of one kind, as query dicts: "toggleSound" (one
        per call, with arg, n and the page's cookie), "keydown" (with key) or
        "loaded" (once the page has loaded)."""
        return [r.query for r in self.requests_for(REPORT_PATH) if r.query.get("call") == call]

    def wait_for_requests(self, path, count=1, timeout=DEFAULT_TIMEOUT):
        return wait_until(lambda: len(self.requests_for(path)) >= count and self.requests_for(path),
                          timeout, what="%d request(s) for %s" % (count, path))

    def wait_for_reports(self, count, call="toggleSound", timeout=DEFAULT_TIMEOUT):
        return wait_until(lambda: len(self.reports(call)) >= count and self.reports(call),
                          timeout, what="%d %s report(s)" % (count, call))

    def settled_reports(self, call="toggleSound", quiet=1.5, timeout=DEFAULT_TIMEOUT):
        """The reports once none has arrived for `quiet` seconds."""
        deadline = time.monotonic() + timeout
        seen = len(self.reports(call))
        last_change = time.monotonic()
        while time.monotonic() < deadline:
            time.sleep(0.05)
            now = len(self.reports(call))
            if now != seen:
                seen, last_change = now, time.monotonic()
            elif time.monotonic() - last_change >= quiet:
                break
        return self.reports(call)

    def stop(self):
        self.stopping.set()
        self.server.shutdown()
        self.server.server_close()


class ClosedPort:
    """A loopback port where nothing listens, as a proxy that is down: bound
    but never listening, so connections to it are refused and nobody else
    takes the port meanwhile. .url is what http_proxy would name; release()
    frees the port for a GameProxy(port=.port)."""

    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.bind(("127.0.0.1", 0))
        self.port = self.sock.getsockname()[1]
        self.url = "http://127.0.0.1:%d" % self.port

    def release(self):
        self.sock.close()


# --------------------------------------------------------------------------
# Keys and pictures (xdotool, ImageMagick)


def xdotool(display, *args):
    env = dict(os.environ, DISPLAY=display)
    return subprocess.run(["xdotool"] + [str(a) for a in args], env=env, check=True,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=DEFAULT_TIMEOUT).stdout.decode()


def key_down(display, *keys):
    for key in keys:
        xdotool(display, "keydown", key)


def key_up(display, *keys):
    for key in reversed(keys):
        xdotool(display, "keyup", key)


def press_key(display, key, hold=0.06):
    """Presses and releases one key (xdotool key names: F1, Escape, shift...),
    held for `hold` seconds, sent to whatever has the focus."""
    key_down(display, key)
    time.sleep(hold)
    key_up(display, key)


class Image:
    """An RGB picture: .width, .height, .pixel(x, y) -> (r, g, b)."""

    def __init__(self, ppm):
        # Binary PPM (P6) with maxval 255, as ImageMagick writes it.
        fields = []
        pos = 0
        while len(fields) < 4:
            while ppm[pos:pos + 1].isspace():
                pos += 1
            if ppm[pos:pos + 1] == b"#":
                pos = ppm.index(b"\n", pos) + 1
                continue
            end = pos
            while not ppm[end:end + 1].isspace():
                end += 1
            fields.append(ppm[pos:end])
            pos = end
        if fields[0] != b"P6" or int(fields[3]) != 255:
            raise ValueError("expected an 8-bit binary PPM")
        self.width, self.height = int(fields[1]), int(fields[2])
        self.data = ppm[pos + 1:pos + 1 + 3 * self.width * self.height]

    def pixel(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.data[i:i + 3])

    def count(self, rect, colour, tolerance=8):
        """How many pixels of rect (x, y, w, h) are within tolerance of colour."""
        x0, y0, w, h = rect
        n = 0
        for y in range(max(0, y0), min(self.height, y0 + h)):
            row = self.data[3 * (y * self.width):3 * ((y + 1) * self.width)]
            for x in range(max(0, x0), min(self.width, x0 + w)):
                r, g, b = row[3 * x], row[3 * x + 1], row[3 * x + 2]
                if (abs(r - colour[0]) <= tolerance and abs(g - colour[1]) <= tolerance
                        and abs(b - colour[2]) <= tolerance):
                    n += 1
        return n


def screenshot(display, path=None):
    """The whole screen (import -window root) as an Image; also saved to
    `path` (any format ImageMagick knows by its extension) when given."""
    env = dict(os.environ, DISPLAY=display)
    ppm = subprocess.run(["import", "-display", display, "-window", "root", "-depth", "8", "ppm:-"], env=env,
                         check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                         timeout=DEFAULT_TIMEOUT).stdout
    if path:
        subprocess.run(["convert", "ppm:-", path], input=ppm, check=True,
                       stdout=subprocess.DEVNULL, timeout=DEFAULT_TIMEOUT)
    return Image(ppm)


def crop(image_path, rect, out_path):
    """Writes the rect (x, y, w, h) of an image file to out_path."""
    x, y, w, h = rect
    subprocess.run(["convert", image_path, "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage",
                    out_path], check=True, timeout=DEFAULT_TIMEOUT)


# --------------------------------------------------------------------------
# X11 through libX11 (ctypes): windows by process id, properties, focus,
# close requests, and a small window of our own that can take the focus.

_xlib = None
_xtst = None
_error_handler = None

_Window = ctypes.c_ulong
_Atom = ctypes.c_ulong


class _XWindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int),
                ("height", ctypes.c_int), ("border_width", ctypes.c_int),
                ("depth", ctypes.c_int), ("visual", ctypes.c_void_p), ("root", _Window),
                ("c_class", ctypes.c_int), ("bit_gravity", ctypes.c_int),
                ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int),
                ("backing_planes", ctypes.c_ulong), ("backing_pixel", ctypes.c_ulong),
                ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong),
                ("map_installed", ctypes.c_int), ("map_state", ctypes.c_int),
                ("all_event_masks", ctypes.c_long), ("your_event_mask", ctypes.c_long),
                ("do_not_propagate_mask", ctypes.c_long), ("override_redirect", ctypes.c_int),
                ("screen", ctypes.c_void_p)]


class _XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", _Window), ("message_type", _Atom),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class _XKeyEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", _Window), ("root", _Window),
                ("subwindow", _Window), ("time", ctypes.c_ulong), ("x", ctypes.c_int),
                ("y", ctypes.c_int), ("x_root", ctypes.c_int), ("y_root", ctypes.c_int),
                ("state", ctypes.c_uint), ("keycode", ctypes.c_uint),
                ("same_screen", ctypes.c_int)]


class _XAnyEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", _Window)]


class _XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("xany", _XAnyEvent), ("xkey", _XKeyEvent),
                ("xclient", _XClientMessageEvent), ("pad", ctypes.c_long * 24)]


def _lib():
    global _xlib, _error_handler
    if _xlib is None:
        lib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        vp, win, atom = ctypes.c_void_p, _Window, _Atom
        P = ctypes.POINTER
        sigs = {
            "XOpenDisplay": (vp, [ctypes.c_char_p]),
            "XCloseDisplay": (ctypes.c_int, [vp]),
            "XDefaultRootWindow": (win, [vp]),
            "XInternAtom": (atom, [vp, ctypes.c_char_p, ctypes.c_int]),
            "XGetWindowProperty": (ctypes.c_int, [vp, win, atom, ctypes.c_long, ctypes.c_long,
                                                  ctypes.c_int, atom, P(atom), P(ctypes.c_int),
                                                  P(ctypes.c_ulong), P(ctypes.c_ulong),
                                                  P(P(ctypes.c_ubyte))]),
            "XFree": (ctypes.c_int, [vp]),
            "XQueryTree": (ctypes.c_int, [vp, win, P(win), P(win), P(P(win)),
                                          P(ctypes.c_uint)]),
            "XGetWindowAttributes": (ctypes.c_int, [vp, win, P(_XWindowAttributes)]),
            "XTranslateCoordinates": (ctypes.c_int, [vp, win, win, ctypes.c_int, ctypes.c_int,
                                                     P(ctypes.c_int), P(ctypes.c_int), P(win)]),
            "XGetInputFocus": (ctypes.c_int, [vp, P(win), P(ctypes.c_int)]),
            "XSetInputFocus": (ctypes.c_int, [vp, win, ctypes.c_int, ctypes.c_ulong]),
            "XSendEvent": (ctypes.c_int, [vp, win, ctypes.c_int, ctypes.c_long, P(_XEvent)]),
            "XCreateSimpleWindow": (win, [vp, win, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                          ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong,
                                          ctypes.c_ulong]),
            "XDestroyWindow": (ctypes.c_int, [vp, win]),
            "XMapRaised": (ctypes.c_int, [vp, win]),
            "XSelectInput": (ctypes.c_int, [vp, win, ctypes.c_long]),
            "XStoreName": (ctypes.c_int, [vp, win, ctypes.c_char_p]),
            "XConvertSelection": (ctypes.c_int, [vp, atom, atom, atom, win, ctypes.c_ulong]),
            "XSync": (ctypes.c_int, [vp, ctypes.c_int]),
            "XFlush": (ctypes.c_int, [vp]),
            "XPending": (ctypes.c_int, [vp]),
            "XNextEvent": (ctypes.c_int, [vp, P(_XEvent)]),
            "XKeysymToKeycode": (ctypes.c_ubyte, [vp, ctypes.c_ulong]),
            "XStringToKeysym": (ctypes.c_ulong, [ctypes.c_char_p]),
        }
        for name, (restype, argtypes) in sigs.items():
            fn = getattr(lib, name)
            fn.restype, fn.argtypes = restype, argtypes
        # Windows may vanish between listing and asking; never let Xlib's
        # default handler end the test process over that.
        handler_type = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
        _error_handler = handler_type(lambda display, event: 0)
        lib.XSetErrorHandler.restype = ctypes.c_void_p
        lib.XSetErrorHandler.argtypes = [handler_type]
        lib.XSetErrorHandler(_error_handler)
        _xlib = lib
    return _xlib


KeyPress, KeyRelease, FocusIn, MapNotify, SelectionNotify, ClientMessage = 2, 3, 9, 19, 31, 33
IsViewable = 2


class X11:
    """One connection to an X display."""

    def __init__(self, display):
        self.lib = _lib()
        self.dpy = self.lib.XOpenDisplay(display.encode())
        if not self.dpy:
            raise RuntimeError("cannot open display " + display)
        self.root = self.lib.XDefaultRootWindow(self.dpy)
        self.own_windows = []

    def close(self):
        if self.dpy:
            for w in self.own_windows:
                self.lib.XDestroyWindow(self.dpy, w)
            self.lib.XCloseDisplay(self.dpy)
            self.dpy = None

    def atom(self, name):
        return self.lib.XInternAtom(self.dpy, name.encode(), 0)

    def children(self, window):
        root, parent = _Window(), _Window()
        kids = ctypes.POINTER(_Window)()
        n = ctypes.c_uint()
        if not self.lib.XQueryTree(self.dpy, window, ctypes.byref(root), ctypes.byref(parent),
                                   ctypes.byref(kids), ctypes.byref(n)):
            return []
        result = [kids[i] for i in range(n.value)]
        if kids:
            self.lib.XFree(kids)
        return result

    def property(self, window, name):
        """(type name, format, items) or None. Format 8 gives bytes, 32 a list
        of ints."""
        actual_type, actual_format = _Atom(), ctypes.c_int()
        nitems, after = ctypes.c_ulong(), ctypes.c_ulong()
        data = ctypes.POINTER(ctypes.c_ubyte)()
        status = self.lib.XGetWindowProperty(
            self.dpy, window, self.atom(name), 0, 1 << 20, 0, 0, ctypes.byref(actual_type),
            ctypes.byref(actual_format), ctypes.byref(nitems), ctypes.byref(after),
            ctypes.byref(data))
        if status != 0 or not actual_type.value:
            if data:
                self.lib.XFree(data)
            return None
        fmt, n = actual_format.value, nitems.value
        if fmt == 8:
            items = bytes(data[:n])
        elif fmt == 16:
            items = list(ctypes.cast(data, ctypes.POINTER(ctypes.c_short))[:n])
        else:  # format 32 comes as C longs
            items = list(ctypes.cast(data, ctypes.POINTER(ctypes.c_long))[:n])
        self.lib.XFree(data)
        return self.atom_name(actual_type.value), fmt, items

    def atom_name(self, atom):
        self.lib.XGetAtomName.restype = ctypes.c_void_p
        self.lib.XGetAtomName.argtypes = [ctypes.c_void_p, _Atom]
        p = self.lib.XGetAtomName(self.dpy, atom)
        if not p:
            return None
        name = ctypes.string_at(p).decode()
        self.lib.XFree(p)
        return name

    def text(self, window, name):
        """A text property (UTF8_STRING or STRING) as str, or None."""
        prop = self.property(window, name)
        if prop is None or prop[1] != 8:
            return None
        return prop[2].decode("utf-8" if prop[0] == "UTF8_STRING" else "latin-1")

    def attributes(self, window):
        attrs = _XWindowAttributes()
        if not self.lib.XGetWindowAttributes(self.dpy, window, ctypes.byref(attrs)):
            return None
        return attrs

    def geometry(self, window):
        """(x, y, width, height) of the window on the screen, border excluded."""
        attrs = self.attributes(window)
        if attrs is None:
            return None
        x, y, child = ctypes.c_int(), ctypes.c_int(), _Window()
        self.lib.XTranslateCoordinates(self.dpy, window, self.root, 0, 0, ctypes.byref(x),
                                       ctypes.byref(y), ctypes.byref(child))
        return x.value, y.value, attrs.width, attrs.height

    def viewable(self, window):
        attrs = self.attributes(window)
        return attrs is not None and attrs.map_state == IsViewable

    def pid_of(self, window):
        prop = self.property(window, "_NET_WM_PID")
        return prop[2][0] if prop and prop[2] else None

    def windows_of_pid(self, pid, viewable_only=True):
        """Top-level windows (and, under a reparenting window manager, their
        client windows) whose _NET_WM_PID is pid."""
        found = []
        for top in self.children(self.root):
            for w in [top] + self.children(top):
                if self.pid_of(w) == pid and (not viewable_only or self.viewable(w)):
                    found.append(w)
        return found

    def wait_for_window(self, pid, timeout=DEFAULT_TIMEOUT):
        """The one viewable window of the process, once there is exactly one."""
        windows = wait_until(lambda: self.windows_of_pid(pid), timeout,
                             what="a window of process %d" % pid)
        return windows[0]

    def focus(self):
        w, revert = _Window(), ctypes.c_int()
        self.lib.XGetInputFocus(self.dpy, ctypes.byref(w), ctypes.byref(revert))
        return w.value

    def focus_is_within(self, window):
        """True when the focus window is `window` or one of its descendants."""
        focus = self.focus()
        pending = [window]
        while pending:
            w = pending.pop()
            if w == focus:
                return True
            pending.extend(self.children(w))
        return False

    def set_focus(self, window):
        self.lib.XSetInputFocus(self.dpy, window, 2, 0)  # RevertToParent, CurrentTime
        self.lib.XSync(self.dpy, 0)

    def request_close(self, window):
        """What a window manager does on a close click: WM_DELETE_WINDOW."""
        event = _XEvent()
        event.xclient.type = ClientMessage
        event.xclient.window = window
        event.xclient.message_type = self.atom("WM_PROTOCOLS")
        event.xclient.format = 32
        event.xclient.data[0] = self.atom("WM_DELETE_WINDOW")
        event.xclient.data[1] = 0  # CurrentTime
        self.lib.XSendEvent(self.dpy, window, 0, 0, ctypes.byref(event))
        self.lib.XSync(self.dpy, 0)

    def create_window(self, x, y, width, height, title="other window"):
        """A plain window of our own, mapped; it records its key presses."""
        w = self.lib.XCreateSimpleWindow(self.dpy, self.root, x, y, width, height, 0, 0, 0xFFFFFF)
        self.lib.XStoreName(self.dpy, w, title.encode())
        # KeyPress | KeyRelease | FocusChange | StructureNotify
        self.lib.XSelectInput(self.dpy, w, (1 << 0) | (1 << 1) | (1 << 21) | (1 << 17))
        self.lib.XMapRaised(self.dpy, w)
        self.lib.XSync(self.dpy, 0)
        self.own_windows.append(w)
        wait_until(lambda: self.viewable(w), what="our own window to be mapped")
        return w

    def events(self):
        """Every event queued for our own windows, as (type, window, keycode)."""
        result = []
        self.lib.XSync(self.dpy, 0)
        event = _XEvent()
        while self.lib.XPending(self.dpy):
            self.lib.XNextEvent(self.dpy, ctypes.byref(event))
            keycode = event.xkey.keycode if event.type in (KeyPress, KeyRelease) else None
            result.append((event.type, event.xany.window, keycode))
        return result

    def selection_text(self, selection="CLIPBOARD", timeout=DEFAULT_TIMEOUT):
        """The text that another client holds in a selection, as str, or None
        when nobody holds it or it does not come as UTF-8 text. Events queued
        meanwhile for our own windows are dropped."""
        requestor = self.lib.XCreateSimpleWindow(self.dpy, self.root, 0, 0, 1, 1, 0, 0, 0)
        try:
            self.lib.XConvertSelection(self.dpy, self.atom(selection), self.atom("UTF8_STRING"),
                                       self.atom("VELLMIR_SELECTION"), requestor, 0)
            self.lib.XFlush(self.dpy)
            event = _XEvent()
            deadline = time.monotonic() + timeout
            while time.monotonic() < deadline:
                if not self.lib.XPending(self.dpy):
                    time.sleep(0.02)
                    continue
                self.lib.XNextEvent(self.dpy, ctypes.byref(event))
                if event.type == SelectionNotify and event.xany.window == requestor:
                    return self.text(requestor, "VELLMIR_SELECTION")
            return None
        finally:
            self.lib.XDestroyWindow(self.dpy, requestor)

    def keycode(self, keysym_name):
        return self.lib.XKeysymToKeycode(self.dpy, self.lib.XStringToKeysym(keysym_name.encode()))

    def fake_key(self, keysym_name, down):
        """Presses or releases exactly the one key that carries keysym_name
        (XTest). xdotool adds keys of its own for some keysyms: for Super_R
        it presses Super_L as well."""
        global _xtst
        if _xtst is None:
            _xtst = ctypes.CDLL(ctypes.util.find_library("Xtst") or "libXtst.so.6")
            _xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                                ctypes.c_ulong]
        _xtst.XTestFakeKeyEvent(self.dpy, self.keycode(keysym_name), 1 if down else 0, 0)
        self.lib.XSync(self.dpy, 0)


# --------------------------------------------------------------------------
# One test's world


class World:
    """A temp folder and everything a test starts in it; all of it is ended
    and removed by the test case's cleanups."""

    def __init__(self, testcase, prefix="vellmir-e2e-"):
        """testcase: a TestCase (cleaned up after the test) or a TestCase
        class (cleaned up after the class, for use in setUpClass)."""
        self.root = tempfile.mkdtemp(prefix=prefix)
        self.keep = os.environ.get("VELLMIR_E2E_KEEP") == "1"
        self.add_cleanup = (testcase.addClassCleanup if isinstance(testcase, type)
                            else testcase.addCleanup)
        self.add_cleanup(self._remove)
        self._count = 0

    def _remove(self):
        if not self.keep:
            for _ in range(5):
                shutil.rmtree(self.root, ignore_errors=True)
                if not os.path.exists(self.root):
                    break
                time.sleep(0.2)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def xvfb(self, width=1920, height=1080, depth=24):
        server = Xvfb(self.root, width, height, depth)
        self.add_cleanup(server.stop)
        return server

    def proxy(self, host, **kwargs):
        server = GameProxy(host, **kwargs)
        self.add_cleanup(server.stop)
        return server

    def x11(self, display):
        connection = X11(display)
        self.add_cleanup(connection.close)
        return connection

    def env(self, display=None, proxy=None, extra=None, base_keys=("PATH", "ASAN_OPTIONS",
                                                                    "UBSAN_OPTIONS",
                                                                    "LSAN_OPTIONS")):
        """A clean environment: HOME and the XDG folders inside the temp
        folder (XDG_DATA_HOME = home/.local/share, XDG_CACHE_HOME = home/.cache,
        ...), DISPLAY, and http_proxy/HTTP_PROXY when a proxy is given."""
        home = self.path("home")
        env = {k: os.environ[k] for k in base_keys if k in os.environ}
        env.update({
            "HOME": home,
            "XDG_CONFIG_HOME": os.path.join(home, ".config"),
            "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
            "XDG_CACHE_HOME": os.path.join(home, ".cache"),
            "XDG_STATE_HOME": os.path.join(home, ".local", "state"),
            "XDG_RUNTIME_DIR": self.path("runtime"),
            "LANG": "C.UTF-8",
            "NO_AT_BRIDGE": "1",
            "DBUS_SESSION_BUS_ADDRESS": "disabled:",
        })
        for key in ("XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"):
            os.makedirs(env[key], exist_ok=True)
        os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
        if display:
            env["DISPLAY"] = display
        if proxy:
            for key in ("http_proxy", "HTTP_PROXY"):
                env[key] = proxy.url + "/"
            env["no_proxy"] = env["NO_PROXY"] = ""
        if extra:
            env.update(extra)
        return env

    def start(self, argv, env, cwd=None):
        """Starts a program (stdout/stderr logged in the temp folder)."""
        self._count += 1
        prog = Process(argv, env, cwd=cwd or self.root,
                       log_prefix=self.path("program-%d" % self._count))
        self.add_cleanup(prog.stop)
        return prog
