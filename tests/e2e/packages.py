"""Where `make package` leaves the packages, and what the package tests read
from the source tree: the version (CMakeLists.txt's project()), the icon sizes
(cmake/linux.cmake), our licence.

The folder is VELLMIR_PACKAGE_DIR, or build/package of this source tree."""

import os
import re
import unittest

SOURCE = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
FOLDER = os.environ.get("VELLMIR_PACKAGE_DIR") or os.path.join(SOURCE, "build", "package")


def _project_version():
    with open(os.path.join(SOURCE, "CMakeLists.txt"), encoding="utf-8") as f:
        match = re.search(r"project\(\s*vellmir\s+VERSION\s+([0-9.]+)", f.read())
    return match.group(1)


def _icon_sizes():
    with open(os.path.join(SOURCE, "cmake", "linux.cmake"), encoding="utf-8") as f:
        match = re.search(r"set\(VELLMIR_ICON_SIZES ([0-9 ]+)\)", f.read())
    return tuple(int(size) for size in match.group(1).split())


VERSION = _project_version()
ICON_SIZES = _icon_sizes()
DEB = os.path.join(FOLDER, "vellmir_%s_amd64.deb" % VERSION)
SETUP = os.path.join(FOLDER, "vellmir-%s-win64-setup.exe" % VERSION)
ZIP = os.path.join(FOLDER, "vellmir-%s-win64.zip" % VERSION)


def read_source(name):
    with open(os.path.join(SOURCE, name), encoding="utf-8") as f:
        return f.read()


def require(path):
    """Skips a test class when `make package` has not made that file."""
    return unittest.skipUnless(os.path.exists(path), "no %s: run `make package`" % path)
