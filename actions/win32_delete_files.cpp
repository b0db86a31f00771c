// Deleting the files below a folder on Windows.
//
// The folder comes as UTF-8 (browser_cache_folder gives it so) and the walk
// runs on the wide-character calls, so a path holding characters outside the
// system's ANSI code page (a Chinese user name on an English Windows) is
// walked like any other.
#include <windows.h>

#include <string>

#include "actions/game_actions.h"
#include "app/win32_utf8.h"

namespace {

// A search pattern that, made absolute, does not fit MAX_PATH characters with
// its terminator is not searched.
bool pattern_fits(const std::wstring& pattern) {
    const DWORD needed = GetFullPathNameW(pattern.c_str(), 0, nullptr, nullptr);
    return needed != 0 && needed <= MAX_PATH;
}

bool is_dot_entry(const wchar_t* name) {
    return (name[0] == L'.' && name[1] == L'\0') ||
           (name[0] == L'.' && name[1] == L'.' && name[2] == L'\0');
}

// Depth-first; the parent's search stays open while a subfolder is walked.
// The pattern limit bounds the depth: every level adds at least two
// characters, so there are never much more than a hundred levels.
//
// Entries that carry FILE_ATTRIBUTE_REPARSE_POINT are left alone entirely: a
// junction or folder link is never entered, and a file link is not deleted
// either (deleting one may reach its target, as it does under Wine).
void delete_files_in(const std::wstring& folder) {
    const bool has_backslash = !folder.empty() && folder.back() == L'\\';
    const std::wstring prefix = has_backslash ? folder : folder + L'\\';
    const std::wstring pattern = prefix + L"*.*";
    if (!pattern_fits(pattern))
        return;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
            continue;
        const std::wstring path = prefix + found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            if (!is_dot_entry(found.cFileName))
                delete_files_in(path);  // the folder itself stays
        } else {
            // Read-only files stay: their attribute is not cleared.
            DeleteFileW(path.c_str());
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace

void delete_files_under(const std::string& folder) {
    if (folder.empty())
        return;  // names no folder: "\*.*" would search the current drive's root
    delete_files_in(utf8_to_wide(folder));
}
