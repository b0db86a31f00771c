"""F2: the browser's cached data but cookies, then every file below the cache
folder $XDG_CACHE_HOME/vellmir; folders, links and what links reach stay,
and the game's cookie survives F2 and a restart."""

import glob
import os
import stat
import unittest

import harness
from linux_program import Running, require_binary


def tree(root):
    """(files, folders, links) below root, links not followed."""
    files, folders, links = set(), set(), set()
    for folder, subfolders, names in os.walk(root):
        for name in subfolders + names:
            path = os.path.join(folder, name)
            if os.path.islink(path):
                links.add(path)
            elif os.path.isdir(path):
                folders.add(path)
            else:
                files.add(path)
    return files, folders, links


def write(path, text="x", mode=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)
    if mode is not None:
        os.chmod(path, mode)


@require_binary
class ClearCacheTest(unittest.TestCase):
    def test_f2_clears_the_cache_and_keeps_the_cookie(self):
        run = Running(self, cookie_value="kept")
        cache = run.cache_folder
        # The browser has cached the page's assets on disk.
        harness.wait_until(lambda: glob.glob(os.path.join(cache, "WebKitCache", "*", "Records",
                                                          "*", "*", "*")),
                           what="the browser's disk cache")

        outside = run.world.path("outside")
        write(os.path.join(outside, "target.txt"), "target")
        write(os.path.join(outside, "folder", "inner.txt"), "inner")
        write(os.path.join(cache, "top.txt"))
        write(os.path.join(cache, "fixture", ".hidden"))
        write(os.path.join(cache, "fixture", "deep", "er", "est", "b.bin"))
        os.makedirs(os.path.join(cache, "fixture", "empty"))
        write(os.path.join(cache, "fixture", "read-only.txt"), mode=stat.S_IRUSR | stat.S_IRGRP)
        os.symlink(os.path.join(outside, "target.txt"), os.path.join(cache, "link-to-file"))
        os.symlink(os.path.join(outside, "folder"), os.path.join(cache, "fixture", "link-to-folder"))
        files, folders, links = tree(cache)
        read_only = {os.path.join(cache, "fixture", "read-only.txt")}

        harness.press_key(run.xvfb.display, "F2", hold=0.2)
        harness.wait_until(lambda: not (tree(cache)[0] & (files - read_only)),
                           what="the cached files to be deleted")

        files_after, folders_after, links_after = tree(cache)
        self.assertEqual(files_after & files, read_only)
        # The browser drops folders of its own stores when it clears them; the
        # walk leaves every folder where it is.
        fixture_folders = {f for f in folders if f.startswith(os.path.join(cache, "fixture"))}
        self.assertEqual(len(fixture_folders), 5)
        self.assertTrue(fixture_folders <= folders_after, fixture_folders - folders_after)
        self.assertEqual(links_after, links)
        self.assertEqual(tree(outside)[0], {os.path.join(outside, "target.txt"),
                                            os.path.join(outside, "folder", "inner.txt")})

        # The page still has its cookie after F2...
        harness.press_key(run.xvfb.display, "F1", hold=0.2)
        report = run.proxy.wait_for_reports(1)[0]
        self.assertIn("%s=kept" % harness.COOKIE_NAME, report["cookie"].split("; "))
        self.assertEqual(run.close(), 0)

        # ...and the next run sends it with its first request.
        again = Running(self, world=run.world, xvfb=run.xvfb, cookie_value="second",
                        wait_for_page=False)
        first = again.proxy.wait_for_requests("/flash/78072.htm")[0]
        self.assertEqual(first.cookies.get(harness.COOKIE_NAME), "kept")


if __name__ == "__main__":
    unittest.main()
