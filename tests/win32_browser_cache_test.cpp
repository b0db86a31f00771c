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
    const std::string folder = browser_cache_folder();
    ASSERT_FALSE(folder.empty());
    char file_name[MAX_PATH] = {};
    ASSERT_TRUE(CreateUrlCacheEntryA("http://vellmir.test/where.htm", 0, "htm", file_name, 0));
    const std::string file = file_name;
    EXPECT_EQ(CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, file.c_str(),
                             static_cast<int>(folder.size()), folder.c_str(),
                             static_cast<int>(folder.size())),
              CSTR_EQUAL)
        << file << " is not below " << folder;
    DeleteFileA(file_name);
}
