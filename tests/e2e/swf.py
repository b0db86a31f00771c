"""Tiny SWF movies written byte by byte, for the Flash end-to-end tests.

solid_movie() is a one-frame movie that only sets its background colour.
talking_movie() adds AVM1 code (a DoAction tag) that talks to the page
through flash.external.ExternalInterface: on its first frame it registers a
callback, "ping", that returns its argument plus one, and then calls the
page's function "reportFromMovie" with a greeting.
moving_square_movie() is an ActionScript 3 movie whose timeline moves one
square across the stage, a new position every frame, looping.
"""

import struct


def _rect(width_px, height_px):
    """A RECT of 0..width × 0..height (in twips), bit-packed."""
    values = [0, width_px * 20, 0, height_px * 20]
    nbits = max(v.bit_length() for v in values) + 1  # signed fields
    bits = format(nbits, "05b") + "".join(format(v, "0%db" % nbits) for v in values)
    bits += "0" * (-len(bits) % 8)
    return bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))


def _tag(code, body=b""):
    if len(body) < 0x3F:
        return struct.pack("<H", code << 6 | len(body)) + body
    return struct.pack("<HI", code << 6 | 0x3F, len(body)) + body


def _movie(tags, width, height, version, fps=24, frames=1):
    body = _rect(width, height) + struct.pack("<HH", fps << 8, frames) + b"".join(tags) + _tag(0)
    return b"FWS" + bytes([version]) + struct.pack("<I", 8 + len(body)) + body


SET_BACKGROUND_COLOR, SHOW_FRAME, DO_ACTION, FILE_ATTRIBUTES = 9, 1, 12, 69
DEFINE_SHAPE, PLACE_OBJECT2 = 2, 26


def solid_movie(rgb, width=200, height=100):
    """FWS header, SetBackgroundColor, ShowFrame, End."""
    return _movie([_tag(SET_BACKGROUND_COLOR, bytes(rgb)), _tag(SHOW_FRAME)], width, height, version=6)


# --- AVM1 ---------------------------------------------------------------

def _action(code, payload=None):
    if payload is None:
        return bytes([code])
    return bytes([code]) + struct.pack("<H", len(payload)) + payload


def _push(*values):
    """ActionPush of strings, integers and None (null)."""
    out = b""
    for v in values:
        if v is None:
            out += b"\x02"
        elif isinstance(v, int):
            out += b"\x07" + struct.pack("<i", v)
        else:
            out += b"\x00" + v.encode() + b"\x00"
    return _action(0x96, out)


GET_VARIABLE, GET_MEMBER, CALL_METHOD, POP, ADD2, RETURN = 0x1C, 0x4E, 0x52, 0x17, 0x47, 0x3E


def _external_interface():
    """Leaves flash.external.ExternalInterface on the stack."""
    return (_push("flash") + _action(GET_VARIABLE) + _push("external") + _action(GET_MEMBER)
            + _push("ExternalInterface") + _action(GET_MEMBER))


def _call_method(name, arguments_code, count):
    """ExternalInterface.<name>(...) with its arguments already pushed, last first."""
    return arguments_code + _push(count) + _external_interface() + _push(name) + _action(CALL_METHOD) + _action(POP)


def _function(params, body):
    """ActionDefineFunction without a name: leaves the function on the stack."""
    header = b"\x00" + struct.pack("<H", len(params)) + b"".join(p.encode() + b"\x00" for p in params)
    return _action(0x9B, header + struct.pack("<H", len(body))) + body


def talking_movie(rgb, greeting, width=200, height=100):
    """ExternalInterface.addCallback("ping", null, function (n) { return n + 1; });
    ExternalInterface.call("reportFromMovie", greeting);"""
    plus_one = _push("n") + _action(GET_VARIABLE) + _push(1) + _action(ADD2) + _action(RETURN)
    code = (_call_method("addCallback", _function(["n"], plus_one) + _push(None, "ping"), 3)
            + _call_method("call", _push(greeting, "reportFromMovie"), 2)
            + _action(0))
    tags = [
        _tag(FILE_ATTRIBUTES, struct.pack("<I", 0)),  # AVM1, no network sandbox flags
        _tag(SET_BACKGROUND_COLOR, bytes(rgb)),
        _tag(DO_ACTION, code),
        _tag(SHOW_FRAME),
    ]
    return _movie(tags, width, height, version=10)


# --- Timeline animation ------------------------------------------------

class _Bits:
    """Most significant bit first, as SWF packs its records."""

    def __init__(self):
        self.bits = ""

    def unsigned(self, value, n):
        self.bits += format(value, "0%db" % n)

    def signed(self, value, n):
        self.bits += format(value & ((1 << n) - 1), "0%db" % n)

    def bytes(self):
        bits = self.bits + "0" * (-len(self.bits) % 8)
        return bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))


def _signed_bits(*values):
    return max(v.bit_length() for v in values) + 1


def _square_shape(shape_id, rgb, side_px):
    """DefineShape: a filled square of side_px, its corner at the origin."""
    side = side_px * 20
    styles = bytes([1, 0x00]) + bytes(rgb) + bytes([0])  # one solid fill, no line styles
    b = _Bits()
    b.unsigned(1, 4)  # fill index bits
    b.unsigned(0, 4)  # line index bits
    # Style change: fill style 1, move to (0, 0).
    b.unsigned(0b000101, 6)
    b.unsigned(1, 5)
    b.signed(0, 1)
    b.signed(0, 1)
    b.unsigned(1, 1)
    n = _signed_bits(side)
    for dx, dy in ((side, 0), (0, side), (-side, 0), (0, -side)):
        b.unsigned(0b11, 2)  # edge, straight
        b.unsigned(n - 2, 4)
        b.unsigned(0, 1)  # not a general line
        b.unsigned(1 if dx == 0 else 0, 1)  # vertical
        b.signed(dy if dx == 0 else dx, n)
    b.unsigned(0, 6)  # end of shape
    return _tag(DEFINE_SHAPE, struct.pack("<H", shape_id) + _rect(side_px, side_px) + styles + b.bytes())


def _place(depth, x_px, y_px, character=None):
    """PlaceObject2: puts `character` at depth, or moves what is there."""
    x, y = x_px * 20, y_px * 20
    n = _signed_bits(x, y)
    b = _Bits()
    b.unsigned(0, 2)  # no scale, no rotation
    b.unsigned(n, 5)
    b.signed(x, n)
    b.signed(y, n)
    flags = 0x04 | (0x02 if character is not None else 0x01)
    body = bytes([flags]) + struct.pack("<H", depth)
    if character is not None:
        body += struct.pack("<H", character)
    return _tag(PLACE_OBJECT2, body + b.bytes())


def moving_square_movie(background, square, width=1060, height=680, side=60, fps=30, frames=60):
    """An ActionScript 3 movie of `frames` frames at `fps`: a square of `side`
    pixels crosses the stage from left to right, then starts again."""
    y = (height - side) // 2
    step = (width - side) // frames
    tags = [_tag(FILE_ATTRIBUTES, struct.pack("<I", 0x08)),  # ActionScript 3
            _tag(SET_BACKGROUND_COLOR, bytes(background)),
            _square_shape(1, square, side)]
    for frame in range(frames):
        tags.append(_place(1, frame * step, y, character=1 if frame == 0 else None))
        tags.append(_tag(SHOW_FRAME))
    return _movie(tags, width, height, version=10, fps=fps, frames=frames)


if __name__ == "__main__":
    import sys
    sys.stdout.buffer.write(talking_movie((0, 0x80, 0xFF), "hello") if "--talking" in sys.argv
                            else solid_movie((0xFF, 0x40, 0x00)))
