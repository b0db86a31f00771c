// Deleting the files below a folder on Windows.
#include <windows.h>

#include <string>

#include "actions/game_actions.h"

namespace {

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
