// Clearing the WebBrowser control's temporary Internet files on Windows: the
// WinINet URL cache (cookies stay) and the files below the cache folder.
#include <windows.h>
#include <shlobj.h>
#include <wininet.h>

#include <cstdlib>
#include <string>

#include "actions/game_actions.h"

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

// True when the path's last character is a backslash. The scan steps over
// double-byte characters, whose second byte may equal a backslash.
bool ends_with_backslash(const std::string& path) {
    bool last_was_backslash = false;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(path[i])) && i + 1 < path.size()) {
            ++i;
            last_was_backslash = false;
        } else {
            last_was_backslash = path[i] == '\\';
        }
    }
    return last_was_backslash;
}

// A search pattern that, made absolute, does not fit MAX_PATH characters with
// its terminator is not searched.
bool pattern_fits(const std::string& pattern) {
    const DWORD needed = GetFullPathNameA(pattern.c_str(), 0, nullptr, nullptr);
    return needed != 0 && needed <= MAX_PATH;
}

bool is_dot_entry(const char* name) {
    return (name[0] == '.' && name[1] == '\0') ||
           (name[0] == '.' && name[1] == '.' && name[2] == '\0');
}

}  // namespace

bool delete_url_cache_entries() {
    // Size query: no buffer, so nothing is fetched, only the size learnt.
    DWORD size = 0;
    FindFirstUrlCacheEntryA(nullptr, nullptr, &size);
    INTERNET_CACHE_ENTRY_INFOA* entry = allocate_entry(size);
    HANDLE find = entry == nullptr ? nullptr : FindFirstUrlCacheEntryA(nullptr, entry, &size);
    if (find == nullptr) {
        std::free(entry);
        return false;
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
    return true;
}

bool internet_cache_folder(std::string& path) {
    char buffer[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_INTERNET_CACHE, FALSE))
        return false;
    path = buffer;
    return true;
}

// Depth-first; the parent's search stays open while a subfolder is walked.
// The pattern limit bounds the depth: every level adds at least two
// characters, so there are never much more than a hundred levels.
//
// Entries that carry FILE_ATTRIBUTE_REPARSE_POINT are left alone entirely: a
// junction or folder link is never entered, and a file link is not deleted
// either (deleting one may reach its target, as it does under Wine).
void delete_files_under(const std::string& folder) {
    const std::string prefix = ends_with_backslash(folder) ? folder : folder + '\\';
    const std::string pattern = prefix + "*.*";
    if (!pattern_fits(pattern))
        return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
            continue;
        const std::string path = prefix + found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            if (!is_dot_entry(found.cFileName))
                delete_files_under(path);  // the folder itself stays
        } else {
            // Read-only files stay: their attribute is not cleared.
            DeleteFileA(path.c_str());
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}
