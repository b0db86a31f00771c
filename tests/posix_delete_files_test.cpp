// The POSIX folder walk on real trees in a temporary folder.
#include "actions/game_actions.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr uid_t NOBODY = 65534;
constexpr gid_t NOGROUP = 65534;

// Removes a tree of any depth and any modes without following a link. It
// works from the current directory so that no path grows with the depth.
void remove_tree(const std::string& root) {
    const int home = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    chmod(root.c_str(), 0700);
    if (chdir(root.c_str()) == 0) {
        std::set<std::pair<dev_t, ino_t>> stuck;  // could not be emptied
        int depth = 0;
        for (;;) {
            bool descended = false;
            if (DIR* dir = opendir(".")) {
                while (const dirent* e = readdir(dir)) {
                    const char* name = e->d_name;
                    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
                    struct stat st;
                    if (lstat(name, &st) != 0) continue;
                    if (!S_ISDIR(st.st_mode)) {
                        unlink(name);
                    } else if (rmdir(name) != 0 && stuck.count({st.st_dev, st.st_ino}) == 0) {
                        chmod(name, 0700);
                        if (chdir(name) == 0) {
                            ++depth;
                            descended = true;
                            break;
                        }
                    }
                }
                closedir(dir);
            }
            if (descended) continue;
            if (depth == 0) break;
            struct stat here;
            if (stat(".", &here) == 0) stuck.insert({here.st_dev, here.st_ino});
            if (chdir("..") != 0) break;
            --depth;
            // The parent is scanned again: the emptied folder now goes.
        }
    }
    if (home >= 0) {
        EXPECT_EQ(fchdir(home), 0);
        close(home);
    }
    EXPECT_EQ(rmdir(root.c_str()), 0) << root << ": " << std::strerror(errno);
}

// How a node of a test tree is made. Paths are relative to the test's base
// folder, which holds "in" (the tree that is walked) and "out" (outside it).
struct Node {
    enum Kind { DIR, FILE, LINK } kind;
    std::string path;
    std::string target;  // LINK: what it points to, as written
    mode_t mode;         // DIR, FILE
};
Node dir(std::string path, mode_t mode = 0755) { return {Node::DIR, std::move(path), "", mode}; }
Node file(std::string path, mode_t mode = 0644) { return {Node::FILE, std::move(path), "", mode}; }
Node link(std::string path, std::string target) {
    return {Node::LINK, std::move(path), std::move(target), 0};
}

class TempBase {
public:
    TempBase() {
        char name[] = "/tmp/vellmir-walk-XXXXXX";
        if (mkdtemp(name) != nullptr) path_ = name;
    }
    ~TempBase() {
        if (!path_.empty()) remove_tree(path_);
    }
    bool ok() const { return !path_.empty(); }
    std::string operator/(const std::string& rel) const { return rel.empty() ? path_ : path_ + "/" + rel; }

    // Modes are set after everything is made, deepest first, so that a
    // folder's own mode does not stop its children from being made.
    void make(const std::vector<Node>& nodes) {
        for (const Node& n : nodes) {
            const std::string p = *this / n.path;
            switch (n.kind) {
            case Node::DIR: ASSERT_EQ(mkdir(p.c_str(), 0755), 0) << p; break;
            case Node::FILE: {
                const int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
                ASSERT_GE(fd, 0) << p;
                ASSERT_EQ(write(fd, "x", 1), 1);
                close(fd);
                break;
            }
            case Node::LINK: ASSERT_EQ(symlink(n.target.c_str(), p.c_str()), 0) << p; break;
            }
        }
        for (auto n = nodes.rbegin(); n != nodes.rend(); ++n)
            if (n->kind != Node::LINK) {
                ASSERT_EQ(chmod((*this / n->path).c_str(), n->mode), 0);
            }
    }

    bool exists(const std::string& rel) const {
        struct stat st;
        return lstat((*this / rel).c_str(), &st) == 0;
    }

private:
    std::string path_;
};

// Hands the whole base to the unprivileged user, so that folder modes mean
// what they say when the tests run as root. Root reads any folder.
void give_to_nobody(const std::string& root) {
    ASSERT_EQ(lchown(root.c_str(), NOBODY, NOGROUP), 0) << root;
    DIR* d = opendir(root.c_str());
    ASSERT_NE(d, nullptr) << root;
    while (const dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        const std::string p = root + "/" + e->d_name;
        struct stat st;
        ASSERT_EQ(lstat(p.c_str(), &st), 0) << p;
        if (S_ISDIR(st.st_mode))
            give_to_nobody(p);
        else
            ASSERT_EQ(lchown(p.c_str(), NOBODY, NOGROUP), 0) << p;
    }
    closedir(d);
}

// Runs the walk as an ordinary user: as root, in a child that drops to
// nobody first; otherwise right here.
void walk_unprivileged(const TempBase& base, const std::string& folder) {
    if (geteuid() != 0) {
        delete_files_under(folder);
        return;
    }
    give_to_nobody(base / "");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(NOGROUP) != 0 || setuid(NOBODY) != 0) _exit(2);
        if (geteuid() == 0) _exit(3);
        delete_files_under(folder);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "walk died, status " << status;
    ASSERT_EQ(WEXITSTATUS(status), 0) << "2: could not drop privileges; other: the walk failed";
}

// ---------------------------------------------------------------------------
// Trees that share a shape: make them, walk one folder, check what is left.

struct WalkCase {
    const char* name;
    std::vector<Node> nodes;
    std::string walked;                // relative to the base
    std::vector<std::string> kept;     // must still exist afterwards
    std::vector<std::string> deleted;  // must be gone
};

void PrintTo(const WalkCase& c, std::ostream* os) { *os << c.name; }

class WalkTest : public ::testing::TestWithParam<WalkCase> {};

TEST_P(WalkTest, DeletesFilesOnlyInsideTheTree) {
    const WalkCase& c = GetParam();
    TempBase base;
    ASSERT_TRUE(base.ok());
    std::vector<Node> nodes{dir("in"), dir("out"), file("out/f"), dir("out/sub"), file("out/sub/f")};
    nodes.insert(nodes.end(), c.nodes.begin(), c.nodes.end());
    base.make(nodes);
    for (const std::string& p : c.deleted) ASSERT_TRUE(base.exists(p)) << "not made: " << p;

    delete_files_under(base / c.walked);

    for (const std::string& p : c.deleted) EXPECT_FALSE(base.exists(p)) << p;
    for (const std::string& p : c.kept) EXPECT_TRUE(base.exists(p)) << p;
    for (const char* p : {"in", "out", "out/f", "out/sub", "out/sub/f"}) EXPECT_TRUE(base.exists(p)) << p;
}

std::vector<Node> many_files(int count) {
    std::vector<Node> nodes{dir("in/many")};
    for (int i = 0; i < count; ++i) nodes.push_back(file("in/many/f" + std::to_string(i)));
    return nodes;
}
std::vector<std::string> many_file_paths(int count) {
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) paths.push_back("in/many/f" + std::to_string(i));
    return paths;
}

INSTANTIATE_TEST_SUITE_P(
    Trees, WalkTest,
    ::testing::Values(
        WalkCase{"FilesAtEveryDepthGoFoldersStay",
                 {file("in/f"), file("in/.hidden"), dir("in/a"), file("in/a/f"), dir("in/a/b"),
                  file("in/a/b/f"), dir("in/a/b/c"), file("in/a/b/c/f"), dir("in/a/empty"),
                  dir("in/x"), dir("in/x/y"), dir("in/x/y/z"), file("in/x/y/z/f")},
                 "in",
                 {"in/a", "in/a/b", "in/a/b/c", "in/a/empty", "in/x/y/z"},
                 {"in/f", "in/.hidden", "in/a/f", "in/a/b/f", "in/a/b/c/f", "in/x/y/z/f"}},
        WalkCase{"ManyFilesInOneFolder", many_files(3000), "in", {"in/many"}, many_file_paths(3000)},
        WalkCase{"OnlyTheGivenFolder",
                 {file("in/f"), dir("in/a"), file("in/a/f"), dir("in/b"), file("in/b/f")},
                 "in/a",
                 {"in/f", "in/b/f"},
                 {"in/a/f"}},
        WalkCase{"LinkToAFileOutsideStaysAndSoDoesItsTarget",
                 {link("in/to-file", "../out/f"), dir("in/a"), link("in/a/to-file", "../../out/sub/f"),
                  file("in/a/f")},
                 "in",
                 {"in/to-file", "in/a/to-file"},
                 {"in/a/f"}},
        WalkCase{"LinkToAFolderOutsideIsNotEntered",
                 {link("in/to-out", "../out"), link("in/to-sub", "../out/sub"), file("in/f")},
                 "in",
                 {"in/to-out", "in/to-sub"},
                 {"in/f"}},
        WalkCase{"DanglingLinkStays", {link("in/dangling", "nowhere"), file("in/f")}, "in",
                 {"in/dangling"}, {"in/f"}},
        WalkCase{"LinkLoopsAreNotEntered",
                 {dir("in/a"), link("in/a/up", ".."), link("in/a/self", "."),
                  link("in/a/base", "../.."), dir("in/a/b"), link("in/a/b/loop", "../b"),
                  file("in/a/b/f")},
                 "in",
                 {"in/a/up", "in/a/self", "in/a/base", "in/a/b/loop"},
                 {"in/a/b/f"}},
        WalkCase{"ReadOnlyFilesStay",
                 {file("in/ro", 0444), file("in/owner-ro", 0400), file("in/x", 0555),
                  file("in/wo", 0200), file("in/rw", 0644), dir("in/a"), file("in/a/ro", 0444),
                  file("in/a/f", 0600)},
                 "in",
                 {"in/ro", "in/owner-ro", "in/x", "in/a/ro"},
                 {"in/wo", "in/rw", "in/a/f"}},
        WalkCase{"MissingFolder", {file("in/f")}, "in/missing", {"in/f"}, {}},
        WalkCase{"FolderIsAFile", {file("in/f")}, "in/f", {"in/f"}, {}},
        WalkCase{"FolderIsALink", {file("in/f"), link("to-in", "in")}, "to-in", {"in/f", "to-in"}, {}},
        WalkCase{"FolderIsALinkWrittenWithASlash", {file("in/f"), link("to-in", "in")}, "to-in/",
                 {"in/f", "to-in"}, {}},
        WalkCase{"FolderWrittenWithASlash", {file("in/f"), dir("in/a"), file("in/a/f")}, "in//",
                 {"in/a"}, {"in/f", "in/a/f"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// A folder the walk may not read, among siblings the walk must still clear.
// The walk runs unprivileged so that the modes apply.

struct LockedCase {
    const char* name;
    mode_t mode;
    bool files_below_go;  // those in a normal subfolder of the locked one
};

void PrintTo(const LockedCase& c, std::ostream* os) { *os << c.name; }

class LockedFolderTest : public ::testing::TestWithParam<LockedCase> {};

// The folders directly in a folder, in the order the system lists them.
std::vector<std::string> listed_folders(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (const dirent* e = readdir(d)) {
            struct stat st;
            const std::string name = e->d_name;
            if (name != "." && name != ".." && lstat((folder + "/" + name).c_str(), &st) == 0 &&
                S_ISDIR(st.st_mode))
                names.push_back(name);
        }
        closedir(d);
    }
    return names;
}

TEST_P(LockedFolderTest, IsSkippedAndTheWalkGoesOn) {
    const LockedCase& c = GetParam();
    TempBase base;
    ASSERT_TRUE(base.ok());
    std::vector<Node> nodes{dir("in"), file("in/f")};
    for (int i = 0; i < 8; ++i) {
        const std::string s = "in/s" + std::to_string(i);
        nodes.insert(nodes.end(), {dir(s), file(s + "/f"), dir(s + "/sub"), file(s + "/sub/f")});
    }
    base.make(nodes);
    // Lock the first and the last folder the system lists, so that the walk
    // has siblings left to clear after one of them, whichever way it goes.
    const std::vector<std::string> listed = listed_folders(base / "in");
    ASSERT_EQ(listed.size(), 8u);
    const std::set<std::string> locked{listed.front(), listed.back()};
    for (const std::string& name : locked)
        ASSERT_EQ(chmod((base / "in/" + name).c_str(), c.mode), 0);

    walk_unprivileged(base, base / "in");
    for (const std::string& name : locked)
        ASSERT_EQ(chmod((base / "in/" + name).c_str(), 0700), 0);  // to look inside

    EXPECT_FALSE(base.exists("in/f"));
    for (const std::string& name : listed) {
        const std::string s = "in/" + name;
        SCOPED_TRACE(s);
        EXPECT_TRUE(base.exists(s)) << "a folder is never removed";
        if (locked.count(name) != 0) {
            EXPECT_TRUE(base.exists(s + "/f"));
            EXPECT_EQ(base.exists(s + "/sub/f"), !c.files_below_go);
        } else {
            EXPECT_FALSE(base.exists(s + "/f"));
            EXPECT_FALSE(base.exists(s + "/sub/f"));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, LockedFolderTest,
    ::testing::Values(LockedCase{"NoAccess", 0000, false},
                      LockedCase{"SearchOnly", 0100, false},
                      LockedCase{"WriteAndSearchButNoRead", 0300, false},
                      LockedCase{"ReadOnlyNoSearch", 0400, false},
                      LockedCase{"ReadAndWriteNoSearch", 0600, false},
                      LockedCase{"ReadAndSearchButNoWrite", 0500, true}),
    [](const auto& info) { return std::string(info.param.name); });

// The walked folder itself locked: nothing happens.
TEST(LockedRootTest, NothingIsDeleted) {
    TempBase base;
    ASSERT_TRUE(base.ok());
    base.make({dir("in", 0000), file("in/f"), dir("in/a"), file("in/a/f")});
    walk_unprivileged(base, base / "in");
    ASSERT_EQ(chmod((base / "in").c_str(), 0700), 0);
    EXPECT_TRUE(base.exists("in/f"));
    EXPECT_TRUE(base.exists("in/a/f"));
}

// ---------------------------------------------------------------------------
// Far deeper than any path may be long: the tree is made and checked from
// the current directory, one level at a time.

class CurrentDirectory {
public:
    CurrentDirectory() : home_(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    ~CurrentDirectory() {
        if (home_ >= 0) {
            EXPECT_EQ(fchdir(home_), 0);
            close(home_);
        }
    }

private:
    int home_;
};

bool make_file_here(const char* name) {
    const int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    close(fd);
    return true;
}

constexpr int DEPTH = 10000;

// A chain of folders "d" DEPTH deep below top, with a file every thousand
// levels and one at the bottom.
void make_chain(const std::string& top) {
    CurrentDirectory keep;
    ASSERT_EQ(chdir(top.c_str()), 0);
    for (int level = 1; level <= DEPTH; ++level) {
        ASSERT_EQ(mkdir("d", 0755), 0) << level;
        ASSERT_EQ(chdir("d"), 0) << level;
        if (level % 1000 == 0) {
            ASSERT_TRUE(make_file_here("f")) << level;
        }
    }
    ASSERT_TRUE(make_file_here("deepest"));
}

void expect_chain_cleared(const std::string& top) {
    CurrentDirectory keep;
    ASSERT_EQ(chdir(top.c_str()), 0);
    struct stat st;
    for (int level = 1; level <= DEPTH; ++level) {
        ASSERT_EQ(chdir("d"), 0) << "folder missing at level " << level;
        if (level % 1000 == 0) {
            EXPECT_NE(lstat("f", &st), 0) << level;
        }
    }
    EXPECT_NE(lstat("deepest", &st), 0);
    EXPECT_NE(lstat("d", &st), 0);
}

// Two chains side by side: whichever the walk takes first, it has to come all
// the way back up to clear the other.
TEST(DeepTreeTest, TwoChainsTenThousandLevelsDeep) {
    TempBase base;
    ASSERT_TRUE(base.ok());
    base.make({dir("in"), file("in/f"), dir("in/a"), dir("in/b")});
    for (const char* top : {"in/a", "in/b"}) {
        make_chain(base / top);
        if (HasFatalFailure()) return;
    }

    delete_files_under(base / "in");

    EXPECT_FALSE(base.exists("in/f"));
    for (const char* top : {"in/a", "in/b"}) {
        SCOPED_TRACE(top);
        expect_chain_cleared(base / top);
    }
}

}  // namespace
