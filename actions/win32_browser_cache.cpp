// The F2 action's browser side on Windows: the WebBrowser control's WinINet
// URL cache (cookies stay) and where its cache folder is. The folder walk is
// in win32_delete_files.cpp.
#include <windows.h>
#include <shlobj.h>
#include <wininet.h>

#include <cstdlib>
#include <string>

#include "actions/game_actions.h"
#include "app/win32_utf8.h"

namespace {

// Each entry is fetched into a block of exactly the size WinINet asks for;
// a size of 0 (nothing more to fetch) or a failed allocation gives null.
INTERNET_CACHE_ENTRY_INFOA* allocate_entry(DWORD size) {
    return size == 0 ? nullptr : static_cast<INTERNET_CACHE_ENTRY_INFOA*>(std::malloc(size));
}

void delete_unless_cookie(const INTERNET_CACHE_ENTRY_INFOA& entry) {
    if ((entry.CacheEntryType & COOKIE_CACHE_ENTRY) == 0)
        DeleteUrlCacheEntryA(entry.lpszSourceUrlName);
}

}  // namespace

void delete_url_cache_entries() {
    // Size query: no buffer, so nothing is fetched, only the size learnt.
    DWORD size = 0;
    FindFirstUrlCacheEntryA(nullptr, nullptr, &size);
    INTERNET_CACHE_ENTRY_INFOA* entry = allocate_entry(size);
    HANDLE find = entry == nullptr ? nullptr : FindFirstUrlCacheEntryA(nullptr, entry, &size);
    if (find == nullptr) {
        std::free(entry);
        return;  // an empty cache, or one that cannot be walked
    }
    for (;;) {
        delete_unless_cookie(*entry);
        size = 0;
        FindNextUrlCacheEntryA(find, nullptr, &size);  // size only; the walk stays put
        std::free(entry);
        entry = allocate_entry(size);
        if (entry == nullptr || !FindNextUrlCacheEntryA(find, entry, &size))
            break;  // nothing left, no memory, or the cache changed under us
    }
    std::free(entry);
    FindCloseUrlCache(find);
}

// As UTF-8, looked up through the wide-character call: the ANSI one turns
// every character outside the code page into '?', a path that leads nowhere.
std::string browser_cache_folder() {
    wchar_t buffer[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_INTERNET_CACHE, FALSE))
        return std::string();
    return wide_to_utf8(buffer);
}
