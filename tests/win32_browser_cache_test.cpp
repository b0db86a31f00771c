// The Windows cache clearing against a real WinINet URL cache.
#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <string>

#include "actions/game_actions.h"
#include "win32_cache_seed.h"

namespace {

struct CacheSeed {
    std::string url;
    DWORD type;
};

bool in_cache(const std::string& url) {
    DWORD size = 0;
    if (GetUrlCacheEntryInfoA(url.c_str(), nullptr, &size))
        return true;
    return GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

}  // namespace

// Of the entries the enumeration lists, exactly the cookies stay.
TEST(UrlCache, DeletesEveryEntryButCookies) {
    const std::string tag = std::to_string(GetCurrentProcessId());
    const CacheSeed seeds[] = {
        {"http://vellmir.test/" + tag + "/page.htm", NORMAL_CACHE_ENTRY},
        {"http://vellmir.test/" + tag + "/sticky.js", STICKY_CACHE_ENTRY | NORMAL_CACHE_ENTRY},
        {"http://vellmir.test/" + tag + "/sparse.bin", SPARSE_CACHE_ENTRY},
        {"http://other.test/" + tag + "/image.png", NORMAL_CACHE_ENTRY},
        {"Cookie:user@vellmir.test/" + tag, COOKIE_CACHE_ENTRY},
    };
    for (const CacheSeed& seed : seeds)
        ASSERT_TRUE(seed_url_cache_entry(seed.url, seed.type)) << seed.url << " error " << GetLastError();

    delete_url_cache_entries();

    for (const CacheSeed& seed : seeds)
        EXPECT_EQ(in_cache(seed.url), (seed.type & COOKIE_CACHE_ENTRY) != 0) << seed.url;
    DeleteUrlCacheEntryA(seeds[4].url.c_str());
}

// The folder F2 walks is the one the URL cache keeps its files in.
TEST(UrlCache, CacheFolderHoldsTheCacheFiles) {
    const std::string folder = browser_cache_folder();  // UTF-8
    ASSERT_FALSE(folder.empty());
    wchar_t wide_folder[MAX_PATH] = {};
    ASSERT_GT(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, folder.c_str(), -1, wide_folder,
                                  MAX_PATH),
              0)
        << "not UTF-8: " << folder;
    wchar_t file_name[MAX_PATH] = {};
    ASSERT_TRUE(CreateUrlCacheEntryW(L"http://vellmir.test/where.htm", 0, L"htm", file_name, 0));
    const int length = lstrlenW(wide_folder);
    EXPECT_EQ(
        CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, file_name, length, wide_folder, length),
        CSTR_EQUAL)
        << "the cache file is not below " << folder;
    DeleteFileW(file_name);
}
