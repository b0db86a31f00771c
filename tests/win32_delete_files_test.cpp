// The Windows folder walk on real folders. Paths are UTF-8, as the walk takes
// them.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "actions/game_actions.h"
#include "app/win32_utf8.h"

namespace {

// Characters, as Windows counts them in a path.
std::size_t path_length(const std::string& path) { return utf8_to_wide(path).size(); }

// Paths near and past MAX_PATH are made through the wide "\\?\" form, which
// has no such limit; the code under test only ever sees the plain forms.
std::wstring long_form(const std::string& path) { return L"\\\\?\\" + utf8_to_wide(path); }

DWORD attributes_of(const std::string& path) { return GetFileAttributesW(long_form(path).c_str()); }

bool exists(const std::string& path) { return attributes_of(path) != INVALID_FILE_ATTRIBUTES; }

class TempTree : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
        wchar_t full[MAX_PATH];
        ASSERT_NE(GetLongPathNameW(temp, full, MAX_PATH), 0u);
        root_ = wide_to_utf8(full) + "vellmir-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(make_folder(""));
    }

    void TearDown() override { remove_all(root_); }

    std::string at(const std::string& relative) const {
        return relative.empty() ? root_ : root_ + "\\" + relative;
    }

    bool make_folder(const std::string& relative) {
        return CreateDirectoryW(long_form(at(relative)).c_str(), nullptr) != FALSE;
    }

    bool make_file(const std::string& relative, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
        HANDLE file = CreateFileW(long_form(at(relative)).c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_NEW, attributes, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        DWORD written = 0;
        WriteFile(file, "x", 1, &written, nullptr);
        CloseHandle(file);
        return true;
    }

    static void remove_all(const std::string& path) {
        const std::wstring wide = long_form(path);
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((wide + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = found.cFileName;
                if (name == L"." || name == L"..")
                    continue;
                const std::wstring child = wide + L"\\" + name;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    remove_all(path + "\\" + wide_to_utf8(name));
                } else {
                    SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                    DeleteFileW(child.c_str());
                }
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        RemoveDirectoryW(wide.c_str());
    }

    std::string root_;
};

// 缓存 ("cache"), 存档.dat ("save.dat") and 测试用户 ("test user"), in UTF-8.
#define FOLDER_NAME_CJK "\xE7\xBC\x93\xE5\xAD\x98"
#define FILE_NAME_CJK "\xE5\xAD\x98\xE6\xA1\xA3.dat"
#define USER_NAME_CJK "\xE6\xB5\x8B\xE8\xAF\x95\xE7\x94\xA8\xE6\x88\xB7"

struct TreeEntry {
    const char* path;  // relative; a trailing backslash makes a folder
    DWORD attributes;
    bool stays;
};

bool is_folder(const char* path) {
    const std::string p = path;
    return !p.empty() && p.back() == '\\';
}

}  // namespace

// Every file at every depth goes, hidden and system files too; folders and
// read-only files stay.
TEST_F(TempTree, DeletesFilesKeepsFoldersAndReadOnlyFiles) {
    const TreeEntry tree[] = {
        {"top.txt", FILE_ATTRIBUTE_NORMAL, false},
        {"hidden.dat", FILE_ATTRIBUTE_HIDDEN, false},
        {"system.dat", FILE_ATTRIBUTE_SYSTEM, false},
        {"noext", FILE_ATTRIBUTE_NORMAL, false},
        {"readonly.txt", FILE_ATTRIBUTE_READONLY, true},
        {"a\\", 0, true},
        {"a\\one.txt", FILE_ATTRIBUTE_NORMAL, false},
        {"a\\b\\", 0, true},
        {"a\\b\\c\\", 0, true},
        {"a\\b\\c\\deep.bin", FILE_ATTRIBUTE_ARCHIVE, false},
        {"a\\b\\c\\locked.bin", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, true},
        {"a\\b\\c\\d\\", 0, true},
        {"a\\empty\\", 0, true},
        {"hidden folder\\", 0, true},
        {"hidden folder\\inside.txt", FILE_ATTRIBUTE_NORMAL, false},
        // Names the ANSI code page may not be able to write.
        {FOLDER_NAME_CJK "\\", 0, true},
        {FOLDER_NAME_CJK "\\" FILE_NAME_CJK, FILE_ATTRIBUTE_NORMAL, false},
        {FOLDER_NAME_CJK "\\" FOLDER_NAME_CJK "\\", 0, true},
        {FOLDER_NAME_CJK "\\" FOLDER_NAME_CJK "\\" FILE_NAME_CJK, FILE_ATTRIBUTE_READONLY, true},
    };
    for (const TreeEntry& entry : tree) {
        if (is_folder(entry.path))
            ASSERT_TRUE(make_folder(entry.path)) << entry.path;
        else
            ASSERT_TRUE(make_file(entry.path, entry.attributes)) << entry.path;
    }
    SetFileAttributesW(long_form(at("hidden folder")).c_str(), FILE_ATTRIBUTE_HIDDEN);

    delete_files_under(root_);

    EXPECT_TRUE(exists(root_));
    for (const TreeEntry& entry : tree)
        EXPECT_EQ(exists(at(entry.path)), entry.stays) << entry.path;
    EXPECT_NE(attributes_of(at("readonly.txt")) & FILE_ATTRIBUTE_READONLY, 0u)
        << "the read-only attribute must not be cleared";
}

// A folder given with a trailing backslash gets no second one, and the walk
// never climbs out through "..".
TEST_F(TempTree, TrailingBackslashAndParentUntouched) {
    ASSERT_TRUE(make_file("sibling.txt"));
    ASSERT_TRUE(make_folder("cache"));
    ASSERT_TRUE(make_folder("cache\\sub"));
    ASSERT_TRUE(make_file("cache\\a.txt"));
    ASSERT_TRUE(make_file("cache\\sub\\b.txt"));

    delete_files_under(at("cache") + "\\");

    EXPECT_FALSE(exists(at("cache\\a.txt")));
    EXPECT_FALSE(exists(at("cache\\sub\\b.txt")));
    EXPECT_TRUE(exists(at("cache\\sub")));
    EXPECT_TRUE(exists(at("sibling.txt")));
}

// A cache folder in a profile whose name the ANSI code page cannot write (a
// Chinese user name on an English Windows, Wine's default code page 1252
// here) is walked like any other, given with or without a trailing
// backslash.
TEST_F(TempTree, FolderNamedOutsideTheAnsiCodePage) {
    const std::string cache = USER_NAME_CJK "\\INetCache";
    for (const char* folder : {USER_NAME_CJK, USER_NAME_CJK "\\INetCache",
                               USER_NAME_CJK "\\INetCache\\" FOLDER_NAME_CJK})
        ASSERT_TRUE(make_folder(folder)) << folder;
    for (const char* ending : {"", "\\"}) {
        SCOPED_TRACE(std::string("ending: \"") + ending + "\"");
        for (const char* file : {"\\a.txt", "\\" FILE_NAME_CJK, "\\" FOLDER_NAME_CJK "\\b.txt"})
            ASSERT_TRUE(make_file(cache + file)) << file;

        delete_files_under(at(cache) + ending);

        for (const char* file : {"\\a.txt", "\\" FILE_NAME_CJK, "\\" FOLDER_NAME_CJK "\\b.txt"})
            EXPECT_FALSE(exists(at(cache + file))) << file;
        EXPECT_TRUE(exists(at(cache + "\\" FOLDER_NAME_CJK)));
    }
}

TEST_F(TempTree, MissingFolderIsNotCreated) {
    delete_files_under(at("nowhere"));
    EXPECT_FALSE(exists(at("nowhere")));
}

// The search pattern "<folder>\*.*" must fit in MAX_PATH characters with its
// terminator: a folder whose path has 255 characters is searched (pattern of
// 259), one of 256 is not, and the walk goes on after it. Called directly
// with a trailing backslash, the 255-character folder is still searched: a
// second backslash would push its pattern over the limit. Characters, not
// bytes, count: names of CJK characters (three bytes each in UTF-8) meet the
// limit at the same length.
TEST_F(TempTree, PatternLimitOf260Characters) {
    struct Filler {
        const char* what;
        const char* character;  // one, in UTF-8
    };
    const Filler fillers[] = {{"ascii", "n"}, {"cjk", "\xE5\xAD\x97"}};  // 字
    for (const Filler& filler : fillers) {
        SCOPED_TRACE(filler.what);
        const auto repeat = [&](std::size_t count) {
            std::string text;
            for (std::size_t i = 0; i < count; ++i)
                text += filler.character;
            return text;
        };
        // Folders of 40-character names down to a little short of the limit,
        // then two siblings whose paths have exactly 255 and 256 characters.
        std::string base = filler.what;
        ASSERT_TRUE(make_folder(base));
        while (path_length(at(base)) + 41 < 240) {
            base += "\\" + repeat(40);
            ASSERT_TRUE(make_folder(base));
        }
        const std::size_t left = 255 - path_length(at(base)) - 1;
        const std::string fits = base + "\\" + repeat(left);
        const std::string too_long = base + "\\" + repeat(left + 1);
        ASSERT_EQ(path_length(at(fits)), 255u);
        ASSERT_EQ(path_length(at(too_long)), 256u);
        for (const std::string& folder : {fits, too_long}) {
            ASSERT_TRUE(make_folder(folder));
            ASSERT_TRUE(make_file(folder + "\\a"));  // 257 characters: DeleteFileW reaches it
        }
        ASSERT_TRUE(make_file(base + "\\z.txt"));

        delete_files_under(root_);
        EXPECT_FALSE(exists(at(fits + "\\a")));
        EXPECT_TRUE(exists(at(too_long + "\\a"))) << "a pattern of 260 characters is not searched";
        EXPECT_FALSE(exists(at(base + "\\z.txt")));

        ASSERT_TRUE(make_file(fits + "\\a"));
        delete_files_under(at(fits) + "\\");
        EXPECT_FALSE(exists(at(fits + "\\a")));
    }
}

// A folder link in the cache is never entered: what it points at stays.
TEST_F(TempTree, FolderLinksAreNotEntered) {
    ASSERT_TRUE(make_folder("outside"));
    ASSERT_TRUE(make_file("outside\\precious.txt"));
    ASSERT_TRUE(make_folder("cache"));
    if (!CreateSymbolicLinkW(utf8_to_wide(at("cache\\link")).c_str(),
                             utf8_to_wide(at("outside")).c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY))
        GTEST_SKIP() << "folder links cannot be made here (error " << GetLastError() << ")";
    if ((attributes_of(at("cache\\link")) & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        GTEST_SKIP() << "the link is not reported as a reparse point here";

    delete_files_under(at("cache"));
    EXPECT_TRUE(exists(at("outside\\precious.txt")));
}
