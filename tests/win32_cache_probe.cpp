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
//   win32_cache_probe where       prints the cache folder
//
// Paths are printed in UTF-8, and the cache folder is reached through the
// wide-character calls, whatever the ANSI code page can write.
#include <windows.h>
#include <shlobj.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/win32_utf8.h"
#include "win32_cache_seed.h"

namespace {

std::wstring cache_folder() {
    wchar_t buffer[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_INTERNET_CACHE, FALSE);
    return buffer;
}

bool make_file(const std::wstring& path, DWORD attributes) {
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
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
    const std::wstring top = cache_folder() + L"\\" + utf8_to_wide(tag);
    for (const wchar_t* folder : {L"", L"\\sub", L"\\sub\\deeper", L"\\empty"})
        ok = ok && (CreateDirectoryW((top + folder).c_str(), nullptr) ||
                    GetLastError() == ERROR_ALREADY_EXISTS);
    ok = ok && make_file(top + L"\\a.txt", FILE_ATTRIBUTE_NORMAL) &&
         make_file(top + L"\\hidden.dat", FILE_ATTRIBUTE_HIDDEN) &&
         make_file(top + L"\\sub\\b.txt", FILE_ATTRIBUTE_NORMAL) &&
         make_file(top + L"\\sub\\deeper\\c.bin", FILE_ATTRIBUTE_ARCHIVE) &&
         make_file(top + L"\\sub\\readonly.txt", FILE_ATTRIBUTE_READONLY);
    std::printf("seeded %s\n", ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}

void list_tree(const std::wstring& folder, const std::string& relative) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::string path =
            relative.empty() ? wide_to_utf8(name) : relative + "/" + wide_to_utf8(name);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            std::printf("folder %s\n", path.c_str());
            list_tree(folder + L"\\" + name, path);
        } else {
            std::printf("file %s %s\n", path.c_str(),
                        (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? "readonly" : "-");
        }
    } while (FindNextFileW(search, &found));
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
    list_tree(cache_folder() + L"\\" + utf8_to_wide(tag), "");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "where") {
        std::printf("%s\n", wide_to_utf8(cache_folder()).c_str());
        return 0;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: win32_cache_probe seed|list <tag> | where\n");
        return 2;
    }
    const std::string command = argv[1];
    if (command == "seed")
        return seed(argv[2]);
    if (command == "list")
        return list(argv[2]);
    return 2;
}
