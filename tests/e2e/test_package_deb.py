"""The Debian package as a player gets it (build/package/vellmir_<version>_amd64.deb):
what it holds, what Debian's checkers say of it, the program run from it
unpacked, and, on a throwaway machine (CI=true, as root), installed with
apt-get, run, and purged without a trace."""

import fnmatch
import gzip
import os
import re
import subprocess
import unittest
import xml.etree.ElementTree as ElementTree

import harness
import linux_program
import packages
import swf
from linux_program import Running
from test_flash_emulator import (EMBED, FIRST_FRAME_TIMEOUT, MOVIE_COLOUR, embed, page, screen_rect,
                                 share)

DEB = packages.DEB
METAINFO = "usr/share/metainfo/org.vellmir.vellmir.metainfo.xml"
DESKTOP_FILE = "usr/share/applications/vellmir.desktop"

# Every file of the package matches one of these, and each matches a file.
EXPECTED_FILES = [
    "usr/bin/vellmir",
    DESKTOP_FILE,
    METAINFO,
    "usr/share/man/man6/vellmir.6.gz",
    "usr/share/doc/vellmir/copyright",
    "usr/share/doc/vellmir/changelog.gz",
    "usr/share/lintian/overrides/vellmir",
    "usr/share/vellmir/ruffle/ruffle.js",
    "usr/share/vellmir/ruffle/core.ruffle.*.js",
    "usr/share/vellmir/ruffle/*.wasm",
    "usr/share/vellmir/ruffle/LICENSE_MIT",
    "usr/share/vellmir/ruffle/LICENSE_APACHE",
] + ["usr/share/icons/hicolor/%dx%d/apps/vellmir.png" % (s, s) for s in packages.ICON_SIZES]


def run(argv, **kwargs):
    """(exit status, stdout + stderr as text)."""
    done = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          timeout=kwargs.pop("timeout", 600), **kwargs)
    return done.returncode, done.stdout.decode("utf-8", "replace")


def deb_field(name):
    return run(["dpkg-deb", "--field", DEB, name])[1].strip()


def deb_files():
    """Paths of the package's files and links (not folders), without the leading "./"."""
    listing = subprocess.run(["sh", "-c", 'dpkg-deb --fsys-tarfile "$1" | tar -tv', "sh", DEB],
                             stdout=subprocess.PIPE, check=True, timeout=600).stdout.decode()
    return sorted(line.split(None, 5)[5][2:] for line in listing.splitlines()
                  if not line.startswith("d"))


def unpack(world):
    """The package's files below a fresh folder of the test's world."""
    root = world.path("root")
    status, output = run(["dpkg-deb", "-x", DEB, root])
    if status:
        raise AssertionError("dpkg-deb -x failed: " + output)
    return root


def show_flash_movie(testcase, executable):
    """Runs the program against a page with a Flash movie; fails unless the
    movie's colour shows where the page has it."""
    world = harness.World(testcase)
    proxy = world.proxy(linux_program.HOST, page=page(embed("solid.swf")),
                        assets={"solid.swf": ("application/x-shockwave-flash",
                                              swf.solid_movie(MOVIE_COLOUR, EMBED[2], EMBED[3]))})
    running = Running(testcase, world=world, proxy=proxy, executable=executable)
    stage = screen_rect(running, EMBED)
    harness.wait_until(
        lambda: share(harness.screenshot(running.xvfb.display), stage, MOVIE_COLOUR) > 0.95,
        FIRST_FRAME_TIMEOUT, interval=0.2, what="the Flash movie on screen")
    testcase.assertEqual(running.close(), 0)


@packages.require(DEB)
class DebContentsTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.world = harness.World(cls)
        cls.root = unpack(cls.world)

    def read(self, path):
        with open(os.path.join(self.root, path), "rb") as f:
            data = f.read()
        return (gzip.decompress(data) if path.endswith(".gz") else data).decode("utf-8")

    def test_control_fields(self):
        # (field, what it must be, or a pattern it must match)
        cases = [
            ("Package", "vellmir"),
            ("Version", packages.VERSION),
            ("Architecture", "amd64"),
            ("Section", "games"),
            ("Priority", "optional"),
            # Computed from the binary: the libraries it links, with versions.
            ("Depends", re.compile(r"(^|, )libwebkit2gtk-4\.1-0 \(>= [^)]+\)(,|$)")),
            ("Depends", re.compile(r"(^|, )libgtk-3-0 \(>= [^)]+\)(,|$)")),
            ("Depends", re.compile(r"(^|, )libc6 \(>= [^)]+\)(,|$)")),
            ("Description", re.compile(r"^\S.{10,79}\n( \S.*\n)+ \.\n( \S.*\n?)+$")),
        ]
        for field, expected in cases:
            with self.subTest(field=field, expected=getattr(expected, "pattern", expected)):
                value = deb_field(field)
                if isinstance(expected, str):
                    self.assertEqual(value, expected)
                else:
                    self.assertRegex(value, expected)

    def test_files_are_exactly_the_expected_ones(self):
        files = deb_files()
        unexpected = [f for f in files if not any(fnmatch.fnmatch(f, p) for p in EXPECTED_FILES)]
        missing = [p for p in EXPECTED_FILES if not any(fnmatch.fnmatch(f, p) for f in files)]
        self.assertEqual((unexpected, missing), ([], []))
        self.assertEqual(len(fnmatch.filter(files, "usr/share/vellmir/ruffle/*.wasm")), 2)

    def test_checkers_are_clean(self):
        # (checker, command): each must pass without an error or a warning.
        cases = [
            ("lintian", ["lintian", "--fail-on", "error,warning", DEB]),
            ("appstreamcli", ["appstreamcli", "validate", "--no-net",
                              os.path.join(self.root, METAINFO)]),
            ("desktop-file-validate", ["desktop-file-validate",
                                       os.path.join(self.root, DESKTOP_FILE)]),
            ("man", ["man", "--warnings", "-l", "-Tutf8", "-Z",
                     os.path.join(self.root, "usr/share/man/man6/vellmir.6.gz")]),
        ]
        for name, command in cases:
            with self.subTest(name):
                status, output = run(command, env=dict(os.environ, LC_ALL="C.UTF-8"))
                self.assertEqual(status, 0, output)
                lines = [line for line in output.splitlines() if line.strip()]
                if name == "lintian":
                    lines = [line for line in lines if line[:2] in ("E:", "W:")]
                elif name == "man":
                    lines = []  # its output is the typeset page; warnings go to the status
                elif name == "appstreamcli":
                    lines = [line for line in lines if line[:2] in ("E:", "W:")]
                self.assertEqual(lines, [], output)

    def test_metainfo_describes_the_program(self):
        component = ElementTree.fromstring(self.read(METAINFO))
        self.assertEqual(component.get("type"), "desktop-application")
        self.assertEqual(component.findtext("launchable"), "vellmir.desktop")
        self.assertEqual(component.findtext("provides/binary"), "vellmir")
        self.assertIsNone(component.find("screenshots"), "a screenshot address would need the network")

    def test_copyright_names_our_licence_and_the_emulators(self):
        text = self.read("usr/share/doc/vellmir/copyright")
        paragraphs = [p for p in text.split("\n\n") if p.strip()]
        self.assertEqual(paragraphs[0].splitlines()[0],
                         "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/")

        def fields(paragraph):
            result, name = {}, None
            for line in paragraph.splitlines():
                if line.startswith(" ") and name:
                    result[name] += "\n" + line[1:]
                else:
                    name, _, value = line.partition(":")
                    result[name] = value.strip()
            return result

        parsed = [fields(p) for p in paragraphs[1:]]
        files = {p["Files"]: p for p in parsed if "Files" in p}
        licences = {p["License"].split("\n")[0]: p["License"] for p in parsed if "Files" not in p}
        self.assertEqual(files["*"]["License"], "Expat")
        self.assertIn("The Vellmir developers", files["*"]["Copyright"])
        self.assertEqual(files["node_modules/@ruffle-rs/ruffle/*"]["License"], "Expat or Apache-2.0")
        self.assertIn("Ruffle", files["node_modules/@ruffle-rs/ruffle/*"]["Copyright"])
        self.assertEqual(sorted(licences), ["Apache-2.0", "Expat"])
        # The MIT text in full, as LICENSE has it; Apache's by Debian's copy.
        terms = packages.read_source("LICENSE").split("Permission is hereby granted", 1)[1]
        body = licences["Expat"].split("\n", 1)[1].replace("\n.\n", "\n\n")
        self.assertEqual(body.split(), ("Permission is hereby granted" + terms).split())
        self.assertIn("/usr/share/common-licenses/Apache-2.0", licences["Apache-2.0"])

    def test_every_version_is_the_projects(self):
        changelog = self.read("usr/share/doc/vellmir/changelog.gz")
        component = ElementTree.fromstring(self.read(METAINFO))
        man = self.read("usr/share/man/man6/vellmir.6.gz")
        cases = [
            ("control", deb_field("Version")),
            ("changelog", re.match(r"vellmir \(([^)]+)\)", changelog).group(1)),
            ("metainfo, newest release", component.find("releases/release").get("version")),
            ("man page", re.search(r'^\.TH VELLMIR 6 "[^"]*" "Vellmir ([^"]+)"', man, re.M).group(1)),
        ]
        for where, version in cases:
            with self.subTest(where):
                self.assertEqual(version, packages.VERSION)


@packages.require(DEB)
class DebUnpackedTest(unittest.TestCase):

    def test_program_plays_flash_with_the_packaged_emulator(self):
        # Unpacked anywhere, usr/bin/vellmir finds usr/share/vellmir/ruffle.
        world = harness.World(self)
        show_flash_movie(self, os.path.join(unpack(world), "usr", "bin", "vellmir"))


def installed(package):
    """True while dpkg knows the package in any state but not-installed
    (installed, or only its configuration files left)."""
    done = subprocess.run(["dpkg-query", "-W", "-f=${db:Status-Status}", package],
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=60)
    return done.returncode == 0 and done.stdout.decode().strip() not in ("", "not-installed")


@packages.require(DEB)
@unittest.skipUnless(os.environ.get("CI") == "true" and os.geteuid() == 0,
                     "installs system-wide: only on a throwaway machine (CI=true, as root)")
class DebInstalledTest(unittest.TestCase):

    def apt_get(self, *args):
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        status, output = run(["apt-get", "-y", "--no-install-recommends"] + list(args), env=env)
        self.assertEqual(status, 0, output)
        return output

    def test_install_run_and_purge(self):
        if installed("vellmir"):
            self.skipTest("vellmir is installed on this machine already; left alone")
        self.addCleanup(lambda: installed("vellmir") and run(["dpkg", "--purge", "vellmir"]))
        # The dependencies are installed already: apt must install the
        # package alone, so nothing comes from the network.
        simulated = self.apt_get("install", "--simulate", os.path.abspath(DEB))
        installs = [line.split()[1] for line in simulated.splitlines() if line.startswith("Inst ")]
        self.assertEqual(installs, ["vellmir"], simulated)
        self.apt_get("install", os.path.abspath(DEB))
        self.assertTrue(installed("vellmir"))
        status, listing = run(["dpkg-query", "-L", "vellmir"])
        paths = [p for p in listing.splitlines() if p.startswith("/")]
        # Its files, and the folders only it has.
        ours = [p for p in paths if not os.path.isdir(p)]
        ours += ["/usr/share/vellmir", "/usr/share/doc/vellmir"]
        self.assertIn("/usr/bin/vellmir", ours)

        show_flash_movie(self, "/usr/bin/vellmir")

        self.apt_get("purge", "vellmir")
        self.assertFalse(installed("vellmir"), "dpkg still knows vellmir (config-files?)")
        self.assertEqual([p for p in ours if os.path.lexists(p)], [])


if __name__ == "__main__":
    unittest.main()
