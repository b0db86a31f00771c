#!/usr/bin/env python3
"""Stands in for the game's server: a small HTTP proxy on 127.0.0.1 that
answers for the game host with the demo page and its movie, and runs the
program with http_proxy pointing at it. When the program ends, so does the
proxy; the program's exit status is this script's.

    serve.py --host games.example --movie build/linux/demo/demo.swf -- build/linux/vellmir

Requests for any other host get 502: nothing leaves the machine. Python 3
standard library only.
"""

import argparse
import http.server
import os
import signal
import socketserver
import subprocess
import sys
import threading
import urllib.parse

MOVIE_PATH = "/flash/demo.swf"

# The game page. The movie fills the whole view (1060 x 680, the view's page
# at its top left), so the arena the movie draws at (51, 80) to (992, 670)
# is what the window shows. toggleSound(x), which F1 runs, switches the
# movie's sound through its ExternalInterface callback (and returns nothing:
# a javascript: address whose script gives a string replaces the page); the
# movie calls gameState() whenever its state changes.
PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Comet Catch</title>
<style>
html, body { margin: 0; padding: 0; overflow: hidden; width: 1060px; height: 680px;
             background: #0a1430; }
#game { position: absolute; left: 0; top: 0; width: 1060px; height: 680px; }
</style>
<script>
function toggleSound(x) {
  var game = document.getElementById("game");
  if (game && typeof game.toggleSound === "function") game.toggleSound();
}
function gameState(event, x, y, score, best, soundOn) {
  document.title = "Comet Catch: " + score + " (best " + best + ")" + (soundOn ? "" : ", muted");
  if (event === "ready") focusGame();
}
// The keys go to the movie without a click first: the emulator takes them
// while its player has the focus.
function focusGame() {
  var game = document.getElementById("game");
  if (!game) return;
  game.focus();
  var canvas = game.shadowRoot && game.shadowRoot.querySelector("canvas");
  if (canvas) canvas.focus();
}
</script></head>
<body>
<embed id="game" src="%(movie)s" width="1060" height="680" type="application/x-shockwave-flash"
       allowScriptAccess="always" quality="high">
</body>
</html>
"""


def page(movie=MOVIE_PATH):
    return PAGE % {"movie": movie}


class DemoServer:
    """The proxy, serving in a thread of its own: the page for every path of
    `host` but MOVIE_PATH, which is the movie."""

    def __init__(self, host, movie_bytes):
        self.host = host.lower()
        server = self
        page_bytes = page().encode("utf-8")

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_CONNECT(self):
                self._send(405, "text/plain", b"no tunnels here\n")

            def do_GET(self):
                parts = urllib.parse.urlsplit(self.path)
                host = (parts.hostname or self.headers.get("Host", "").split(":")[0]).lower()
                if host != server.host:
                    self._send(502, "text/plain", b"unknown host\n")
                elif parts.path == MOVIE_PATH:
                    self._send(200, "application/x-shockwave-flash", movie_bytes)
                else:
                    self._send(200, "text/html; charset=utf-8", page_bytes)

            do_HEAD = do_GET

            def _send(self, status, ctype, body):
                self.send_response(status)
                self.send_header("Content-Type", ctype)
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Cache-Control", "no-cache")
                self.end_headers()
                if self.command != "HEAD":
                    self.wfile.write(body)

        class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
            daemon_threads = True

        self.server = Server(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d/" % self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


def main():
    parser = argparse.ArgumentParser(description="Run the program against the demo game.")
    parser.add_argument("--host", required=True, help="the game host the program asks for")
    parser.add_argument("--movie", required=True, help="the demo game's .swf")
    parser.add_argument("program", nargs="+", help="the program and its arguments")
    args = parser.parse_args()
    with open(args.movie, "rb") as f:
        movie = f.read()

    server = DemoServer(args.host, movie)
    env = dict(os.environ, http_proxy=server.url, HTTP_PROXY=server.url, no_proxy="", NO_PROXY="")
    print("Demo game for http://%s/ served at %s" % (args.host, server.url), flush=True)
    program = subprocess.Popen(args.program, env=env)

    # A terminating signal to this script ends the program too, by its id.
    def forward(signum, frame):
        if program.poll() is None:
            program.send_signal(signum)
    for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, forward)
    status = program.wait()
    server.stop()
    return status if status >= 0 else 128 - status


if __name__ == "__main__":
    sys.exit(main())
