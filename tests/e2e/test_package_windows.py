"""The Windows packages as a player gets them: the installer
(vellmir-<version>-win64-setup.exe) run silently under Wine in a fresh prefix,
the installed program started from where it was put, the uninstaller; and
the portable zip."""

import os
import struct
import subprocess
import unittest
import zipfile

import harness
import packages
from wine_program import (GAME_PAGE_PATH, TITLE, WINE, WINESERVER, WineRun, remove_template)

INSTALL_FOLDER = "C:\\Program Files\\Vellmir"
INSTALLED_EXE = INSTALL_FOLDER + "\\vellmir.exe"
UNINSTALLER = INSTALL_FOLDER + "\\Uninstall.exe"
START_MENU_FOLDER = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Vellmir"
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vellmir"
VENDOR_KEY = "HKLM\\Software\\The Vellmir developers"
# The program and its licence texts: ours, and MinGW-w64's for the run-time
# linked into the .exe.
PROGRAM_FILES = ["LICENSE-mingw-w64.txt", "LICENSE.txt", "vellmir.exe"]


def tearDownModule():
    remove_template()


def read_shortcut(data):
    """The target and icon of a shell link (.lnk, [MS-SHLLINK]): a dict with
    "target" (LinkInfo's local base path), "icon" (ICON_LOCATION) and
    "icon_index"."""
    header_size, = struct.unpack_from("<I", data, 0)
    flags, = struct.unpack_from("<I", data, 20)
    icon_index, = struct.unpack_from("<i", data, 56)
    has_id_list, has_link_info, unicode = flags & 0x1, flags & 0x2, flags & 0x80
    pos = header_size
    if has_id_list:
        id_list_size, = struct.unpack_from("<H", data, pos)
        pos += 2 + id_list_size
    target = None
    if has_link_info:
        size, _header, info_flags, _volume, base_offset = struct.unpack_from("<5I", data, pos)
        if info_flags & 0x1:  # VolumeIDAndLocalBasePath
            end = data.index(b"\0", pos + base_offset)
            target = data[pos + base_offset:end].decode("latin-1")
        pos += size
    strings = {}
    # NAME, RELATIVE_PATH, WORKING_DIR, COMMAND_LINE_ARGUMENTS, ICON_LOCATION
    for bit, name in ((0x4, "name"), (0x8, "relative"), (0x10, "working_dir"), (0x20, "arguments"),
                      (0x40, "icon")):
        if flags & bit:
            count, = struct.unpack_from("<H", data, pos)
            width = 2 if unicode else 1
            raw = data[pos + 2:pos + 2 + count * width]
            # Wine counts and writes a terminating NUL as well.
            strings[name] = raw.decode("utf-16-le" if unicode else "latin-1").rstrip("\0")
            pos += 2 + count * width
    return {"target": target, "icon": strings.get("icon"), "icon_index": icon_index}


@packages.require(packages.SETUP)
class InstallerTest(unittest.TestCase):

    def wine(self, run, *args, check=True):
        done = subprocess.run([WINE] + list(args), env=run.env, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=300)
        output = done.stdout.decode("utf-8", "replace")
        if check:
            self.assertEqual(done.returncode, 0, "%s: %s" % (" ".join(args), output))
        return done.returncode, output

    def registry(self, run, key):
        """{value name: (type, data)} of a key, or None when there is no key."""
        status, output = self.wine(run, "reg", "query", key, check=False)
        if status != 0:
            return None
        values = {}
        for line in output.splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[1].startswith("REG_"):
                values[parts[0]] = (parts[1], parts[2] if len(parts) > 2 else "")
        return values

    def wait_for_wine_to_end(self, run):
        """Until every process of the prefix has ended (the uninstaller runs
        on from a copy of itself after the one started has returned)."""
        subprocess.run([WINESERVER, "-w"], env=run.env, timeout=300, check=True)

    def test_silent_install_run_and_uninstall(self):
        run = WineRun(self)
        folder = run.unix_path(INSTALL_FOLDER)
        menu = run.unix_path(START_MENU_FOLDER)

        self.wine(run, packages.SETUP, "/S")
        self.assertEqual(sorted(os.listdir(folder)), sorted(PROGRAM_FILES + ["Uninstall.exe"]))
        self.assertEqual(sorted(os.listdir(menu)), ["Uninstall.lnk", "Vellmir.lnk"])
        with open(os.path.join(menu, "Vellmir.lnk"), "rb") as f:
            shortcut = read_shortcut(f.read())
        # (what, found, expected); Windows paths compare without case.
        cases = [
            ("shortcut target", shortcut["target"], INSTALLED_EXE),
            ("shortcut icon", shortcut["icon"], INSTALLED_EXE),
            ("shortcut icon index", shortcut["icon_index"], 0),
        ]
        key = self.registry(run, UNINSTALL_KEY)
        self.assertIsNotNone(key, "no " + UNINSTALL_KEY)
        size_kib = sum(os.path.getsize(os.path.join(folder, n)) for n in os.listdir(folder)) // 1024
        estimated_kib = int(key.get("EstimatedSize", ("", "-1"))[1], 16)
        cases += [
            ("DisplayName", key.get("DisplayName"), ("REG_SZ", "Vellmir")),
            ("DisplayVersion", key.get("DisplayVersion"), ("REG_SZ", packages.VERSION)),
            ("Publisher", key.get("Publisher"), ("REG_SZ", "The Vellmir developers")),
            ("DisplayIcon", key.get("DisplayIcon"), ("REG_SZ", INSTALLED_EXE)),
            ("UninstallString", key.get("UninstallString"), ("REG_SZ", '"%s"' % UNINSTALLER)),
            # The size in KiB, rounded either way.
            ("EstimatedSize", abs(estimated_kib - size_kib) <= 4, True),
        ]
        for what, found, expected in cases:
            with self.subTest(what):
                if isinstance(expected, str):
                    self.assertEqual(str(found).lower(), expected.lower())
                else:
                    self.assertEqual(found, expected)

        # The installed program opens its window and asks the proxy for the game page.
        program = run.start(INSTALLED_EXE)
        window = run.x.wait_for_window(program.pid)
        self.assertEqual(run.x.text(window, "_NET_WM_NAME"), TITLE)
        run.proxy.wait_for_requests(GAME_PAGE_PATH)
        run.x.request_close(window)
        self.assertEqual(run.wait_for_exit(program), 0)

        self.wine(run, UNINSTALLER, "/S")
        self.wait_for_wine_to_end(run)
        left = [(what, path) for what, path in (("program folder", folder), ("start menu folder", menu))
                if os.path.lexists(path)]
        left += [("registry key", k) for k in (UNINSTALL_KEY, VENDOR_KEY)
                 if self.registry(run, k) is not None]
        self.assertEqual(left, [])


@packages.require(packages.ZIP)
class PortableZipTest(unittest.TestCase):

    def test_zip_holds_the_program_and_its_licences(self):
        top = "vellmir-%s-win64/" % packages.VERSION
        with zipfile.ZipFile(packages.ZIP) as archive:
            names = sorted(n for n in archive.namelist() if not n.endswith("/"))
            self.assertEqual(names, [top + n for n in PROGRAM_FILES])
            self.assertEqual(archive.read(top + "LICENSE.txt").decode("utf-8"),
                             packages.read_source("LICENSE"))
            self.assertIn(b"winpthreads", archive.read(top + "LICENSE-mingw-w64.txt"))
            exe = archive.read(top + "vellmir.exe")
        # A 64-bit Windows GUI program: PE machine x86-64, subsystem GUI.
        pe, = struct.unpack_from("<I", exe, 0x3C)
        self.assertEqual(exe[:2] + exe[pe:pe + 4], b"MZPE\0\0")
        machine, = struct.unpack_from("<H", exe, pe + 4)
        subsystem, = struct.unpack_from("<H", exe, pe + 24 + 68)
        self.assertEqual((machine, subsystem), (0x8664, 2))


if __name__ == "__main__":
    unittest.main()
