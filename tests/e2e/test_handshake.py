"""The start-up handshake: run under a name ending in ".tmp", the program
writes three zero bytes at the start of the POSIX shared-memory object named
"/" + the section name bytes, if it exists and holds three bytes, and keeps it
mapped."""

import fcntl
import os
import tempfile
import unittest

import harness
from linux_program import BINARY, Running, require_binary

# "Roduv-IR" in GB2312 full-width forms.
SECTION_NAME = bytes.fromhex("A3D2A3EFA3E4A3F5A3F6A3ADA3C9A3D2")
SHM_PATH = b"/dev/shm/" + SECTION_NAME


def read_object():
    try:
        with open(SHM_PATH, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def maps_object(pid):
    with open("/proc/%d/maps" % pid, "rb") as f:
        return any(line.rstrip().endswith(SHM_PATH) for line in f)


@require_binary
class HandshakeTest(unittest.TestCase):
    def setUp(self):
        # The object's name is machine-wide: one such test at a time.
        lock = open(os.path.join(tempfile.gettempdir(), "vellmir-e2e-handshake.lock"), "w")
        self.addCleanup(lock.close)
        fcntl.flock(lock, fcntl.LOCK_EX)
        self.addCleanup(self.remove_object)
        self.remove_object()

    @staticmethod
    def remove_object():
        try:
            os.unlink(SHM_PATH)
        except FileNotFoundError:
            pass

    def test_names_and_objects(self):
        world = harness.World(self)
        xvfb = world.xvfb()
        proxy = world.proxy("unused.example")
        cases = [
            # executable name, object before, object after (None: no object)
            ("game.tmp", b"ABCDEFGH", b"\0\0\0DEFGH"),
            ("GAME.TMP", b"ABCDEFGH", b"\0\0\0DEFGH"),
            ("game.Tmp", b"XYZ", b"\0\0\0"),
            ("game.tmp", b"Z", b"Z"),
            ("game.tmp", None, None),
            ("game.tmp.exe", b"ABCDEFGH", b"ABCDEFGH"),
            ("gametmp", b"ABCDEFGH", b"ABCDEFGH"),
        ]
        for i, (name, before, after) in enumerate(cases):
            with self.subTest(name=name, object=before):
                folder = world.path("case-%d" % i)
                os.makedirs(folder)
                executable = os.path.join(folder, name)
                os.symlink(BINARY, executable)
                self.remove_object()
                if before is not None:
                    with open(SHM_PATH, "wb") as f:
                        f.write(before)
                # The handshake comes before the window.
                run = Running(self, world=world, xvfb=xvfb, proxy=proxy, executable=executable,
                              wait_for_page=False)
                self.assertEqual(read_object(), after)
                handshake_ran = name.lower().endswith(".tmp")
                self.assertEqual(maps_object(run.prog.pid), handshake_ran and before is not None)
                self.assertEqual(run.close(), 0)


if __name__ == "__main__":
    unittest.main()
