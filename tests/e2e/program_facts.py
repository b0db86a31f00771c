"""The program's facts as the tests and benchmarks need them, read from the
one place they are written: app/program_facts.h. Nothing here is typed twice.

HOST comes from the environment (CTest passes the configured
VELLMIR_GAME_HOST), with the header's placeholder as the default."""

import os
import re

_HEADER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "app",
                       "program_facts.h")


def _read_header():
    with open(_HEADER, encoding="utf-8") as f:
        text = f.read()
    ints = {m.group(1): int(m.group(2))
            for m in re.finditer(r"constexpr int (\w+) = (-?\d+);", text)}
    strings = {}
    for m in re.finditer(r'(?:#define|const char) (\w+)(?:\[\])?\s*(?:=\s*)?"((?:[^"\\]|\\.)*)"', text):
        raw = m.group(2).encode("latin-1").decode("unicode_escape")
        strings[m.group(1)] = raw.encode("latin-1").decode("utf-8")
    return ints, strings


_INTS, _STRINGS = _read_header()

HOST = os.environ.get("VELLMIR_GAME_HOST") or _STRINGS["VELLMIR_GAME_HOST"]
GAME_PATH = _STRINGS["VELLMIR_GAME_PAGE_PATH"]
TITLE = _STRINGS["MAIN_WINDOW_TITLE"]
WINDOW_SIZE = (_INTS["MAIN_WINDOW_WIDTH"], _INTS["MAIN_WINDOW_HEIGHT"])
# The game view in the window: (left, top, width, height), left and top negative.
GAME_VIEW = (_INTS["GAME_VIEW_LEFT"], _INTS["GAME_VIEW_TOP"], _INTS["GAME_VIEW_WIDTH"],
             _INTS["GAME_VIEW_HEIGHT"])
# What shows of the page, in page coordinates: (51, 80, 941, 590).
CUTOUT = (-GAME_VIEW[0], -GAME_VIEW[1]) + WINDOW_SIZE

