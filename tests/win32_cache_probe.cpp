// Test helper for F2 end to end: fills the URL cache and the cache folder,
// and lists what is left of them.
//
//   win32_cache_probe seed <tag>  puts URL-cache entries for http://<tag>.test/
//                                 (three of them, and one cookie) and a tree
//                                 of files below <cache folder>\<tag>
//   win32_cache_probe list <tag>  prints "entry <url>" for every URL-cache
//                                 entry, "cookie <url>" for every cookie
//                                 entry, and "folder <path>"
//                                 or "file <path> <attributes>" for what is
//                                 below <cache folder>\<tag>
#include <windows.h>
#include <shlobj.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "win32_cache_seed.h"

namespace {

std::string cache_folder() {
    char buffer[MAX_PATH] = {};
    SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_INTERNET_CACHE, FALSE);
    return buffer;
}

bool make_file(const std::string& path, DWORD attributes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

int seed(const std::string& tag) {
    bool ok = seed_url_cache_entry("http://" + tag + ".test/page.htm", NORMAL_CACHE_ENTRY) &&
              seed_url_cache_entry("http://" + tag + ".test/game.swf", NORMAL_CACHE_ENTRY) &&
              seed_url_cache_entry("http://" + tag + ".test/sticky.js", STICKY_CACHE_ENTRY) &&
              seed_url_cache_entry("Cookie:user@" + tag + ".test/", COOKIE_CACHE_ENTRY);
    const std::string top = cache_folder() + "\\" + tag;
    for (const char* folder : {"", "\\sub", "\\sub\\deeper", "\\empty"})
        ok = ok && (CreateDirectoryA((top + folder).c_str(), nullptr) ||
                    GetLastError() == ERROR_ALREADY_EXISTS);
    ok = ok && make_file(top + "\\a.txt", FILE_ATTRIBUTE_NORMAL) &&
         make_file(top + "\\hidden.dat", FILE_ATTRIBUTE_HIDDEN) &&
         make_file(top + "\\sub\\b.txt", FILE_ATTRIBUTE_NORMAL) &&
         make_file(top + "\\sub\\deeper\\c.bin", FILE_ATTRIBUTE_ARCHIVE) &&
         make_file(top + "\\sub\\readonly.txt", FILE_ATTRIBUTE_READONLY);
    std::printf("seeded %s\n", ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}

void list_tree(const std::string& folder, const std::string& relative) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        const std::string path = relative.empty() ? name : relative + "/" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            std::printf("folder %s\n", path.c_str());
            list_tree(folder + "\\" + name, path);
        } else {
            std::printf("file %s %s\n", path.c_str(),
                        (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? "readonly" : "-");
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

int list(const std::string& tag) {
    DWORD size = 0;
    FindFirstUrlCacheEntryA(nullptr, nullptr, &size);
    auto* entry = static_cast<INTERNET_CACHE_ENTRY_INFOA*>(std::malloc(size ? size : 1));
    HANDLE find = FindFirstUrlCacheEntryA(nullptr, entry, &size);
    while (find != nullptr) {
        const std::string url = entry->lpszSourceUrlName;
        if (entry->CacheEntryType & COOKIE_CACHE_ENTRY)
            std::printf("cookie %s\n", url.c_str());
        else
            std::printf("entry %s\n", url.c_str());
        size = 0;
        FindNextUrlCacheEntryA(find, nullptr, &size);
        std::free(entry);
        entry = static_cast<INTERNET_CACHE_ENTRY_INFOA*>(std::malloc(size ? size : 1));
        if (size == 0 || !FindNextUrlCacheEntryA(find, entry, &size))
            break;
    }
    std::free(entry);
    if (find != nullptr)
        FindCloseUrlCache(find);
    list_tree(cache_folder() + "\\" + tag, "");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: win32_cache_probe seed|list <tag>\n");
        return 2;
    }
    const std::string command = argv[1];
    if (command == "seed")
        return seed(argv[2]);
    if (command == "list")
        return list(argv[2]);
    return 2;
}
