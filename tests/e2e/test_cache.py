"""F2: the browser's cached downloads, then every file below the cache folder
$XDG_CACHE_HOME/vellmir; folders, links and what links reach stay, and what
the game keeps (cookies, local storage, IndexedDB) survives F2 and restarts."""

import glob
import os
import stat
import unittest

import harness
from linux_program import HOST, Running, require_binary


# A game page that keeps its saves the ways pages do (local storage, an
# IndexedDB record, a cookie of its own), loads one cacheable asset, and
# reports what it finds: "store" writes the saves first, "read" only reads.
SAVE_ASSET = "game.js"
SAVES_PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Saves</title>
<script src="/__asset/%(asset)s"></script>
<script>
var MODE = "%(mode)s";
function report(query) {
  var img = new Image();
  img.src = "/__report?" + query + "&r=" + Math.random();
}
function cookie(name) {
  var found = null;
  document.cookie.split("; ").forEach(function (c) {
    if (c.indexOf(name + "=") === 0) found = c.slice(name.length + 1);
  });
  return found;
}
function read(db) {
  var get = db.transaction("saves").objectStore("saves").get("progress");
  get.onsuccess = function () {
    report("call=saves&local=" + encodeURIComponent(localStorage.getItem("best")) +
           "&idb=" + encodeURIComponent(get.result) +
           "&cookie=" + encodeURIComponent(cookie("save")) + "&asset=" + (typeof gameLoaded));
  };
}
var open = indexedDB.open("game", 1);
open.onupgradeneeded = function () { open.result.createObjectStore("saves"); };
open.onerror = function () { report("call=saves&idb=error"); };
open.onsuccess = function () {
  var db = open.result;
  if (MODE !== "store") return read(db);
  localStorage.setItem("best", "4200");
  document.cookie = "save=level7; Max-Age=31536000; Path=/";
  var put = db.transaction("saves", "readwrite");
  put.objectStore("saves").put("level 7", "progress");
  put.oncomplete = function () { read(db); };
};
</script></head><body>Saves</body></html>
"""
SAVES = {"local": "4200", "idb": "level 7", "cookie": "level7", "asset": "boolean"}


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

    def test_saves_outlive_f2_and_restarts_and_the_asset_comes_again(self):
        world = harness.World(self)
        xvfb = world.xvfb()

        def start(mode):
            proxy = world.proxy(HOST, page=SAVES_PAGE % {"mode": mode, "asset": SAVE_ASSET})
            run = Running(self, world=world, xvfb=xvfb, proxy=proxy, wait_for_page=False)
            saves = proxy.wait_for_reports(1, call="saves")[0]
            self.assertEqual({k: saves.get(k) for k in SAVES}, SAVES, mode)
            return run

        def cached_asset(cache):
            """The disk cache's records of the asset."""
            found = []
            for path in glob.glob(os.path.join(cache, "WebKitCache", "*", "Records", "**"),
                                  recursive=True):
                if os.path.isfile(path):
                    with open(path, "rb") as f:
                        if (harness.ASSET_PATH + SAVE_ASSET).encode() in f.read():
                            found.append(path)
            return found

        asset_path = harness.ASSET_PATH + SAVE_ASSET
        first = start("store")
        self.assertEqual(len(first.proxy.requests_for(asset_path)), 1)
        harness.wait_until(lambda: cached_asset(first.cache_folder),
                           what="the asset in the disk cache")
        # The cache folder holds the HTTP cache alone: F2 deletes every file
        # there, and nothing a page keeps may be among them.
        cache = first.cache_folder
        files = tree(cache)[0]
        self.assertEqual({f for f in files
                          if not f.startswith(os.path.join(cache, "WebKitCache", ""))}, set())
        self.assertEqual(first.close(), 0)

        # Restarted, the asset comes from the cache; then F2.
        second = start("read")
        self.assertEqual(second.proxy.requests_for(asset_path), [])
        harness.press_key(xvfb.display, "F2", hold=0.2)
        harness.wait_until(lambda: not cached_asset(cache), what="the cached asset to go")
        self.assertEqual(second.close(), 0)

        # Restarted again: the saves are all there, the asset is fetched anew.
        third = start("read")
        self.assertEqual(len(third.proxy.requests_for(asset_path)), 1)
        self.assertEqual(third.close(), 0)


if __name__ == "__main__":
    unittest.main()
