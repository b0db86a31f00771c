"""Tiny SWF movies written byte by byte, for the Flash end-to-end tests.

solid_movie() is a one-frame movie that only sets its background colour.
talking_movie() adds AVM1 code (a DoAction tag) that talks to the page
through flash.external.ExternalInterface: on its first frame it registers a
callback, "ping", that returns its argument plus one, and then calls the
page's function "reportFromMovie" with a greeting.
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


def _movie(tags, width, height, version):
    body = _rect(width, height) + struct.pack("<HH", 24 << 8, 1) + b"".join(tags) + _tag(0)
    return b"FWS" + bytes([version]) + struct.pack("<I", 8 + len(body)) + body


SET_BACKGROUND_COLOR, SHOW_FRAME, DO_ACTION, FILE_ATTRIBUTES = 9, 1, 12, 69


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


if __name__ == "__main__":
    import sys
    sys.stdout.buffer.write(talking_movie((0, 0x80, 0xFF), "hello") if "--talking" in sys.argv
                            else solid_movie((0xFF, 0x40, 0x00)))
