// F2's folder walk against hostile cache folders: a wide tree of 100,000 files
// with link loops, links that lead outside and folders it may not read planted
// in it, pipes and sockets, two walks at once, and a tree rearranged while it
// is walked. (Ten thousand levels of nesting are the unit tests' own case.) In every case the walk
// ends, the files it may delete are gone, and nothing outside is touched.
#include "actions/game_actions.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

void write_file(const std::string& path, const std::string& content = "x") {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path << ": " << std::strerror(errno);
    ASSERT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    close(fd);
}

void make_dir(const std::string& path) {
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path << ": " << std::strerror(errno);
}

void make_link(const std::string& target, const std::string& path) {
    ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0) << path << ": " << std::strerror(errno);
}

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool is_dir(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string read_file(const std::string& path) {
    std::string content;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return "<missing>";
    char buf[256];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        content.append(buf, static_cast<std::size_t>(n));
    close(fd);
    return content;
}

void remove_tree(const std::string& path) {
    // GNU rm walks by descriptor, so depth is no problem for it; the chmod
    // gives back access to folders a case locked.
    const std::string cmd = "chmod -R u+rwx '" + path + "' 2>/dev/null; rm -rf '" + path + "'";
    if (std::system(cmd.c_str()) != 0)
        ADD_FAILURE() << "could not remove " << path;
}

// A small set of files per folder, spread over FANOUT x FANOUT folders.
void make_wide_tree(const std::string& root, int fanout, int files_per_folder,
                    std::vector<std::string>* files = nullptr) {
    for (int a = 0; a < fanout; ++a) {
        const std::string da = root + "/" + std::to_string(a);
        make_dir(da);
        for (int b = 0; b < fanout; ++b) {
            const std::string db = da + "/" + std::to_string(b);
            make_dir(db);
            for (int f = 0; f < files_per_folder; ++f) {
                const std::string path = db + "/f" + std::to_string(f);
                const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
                ASSERT_GE(fd, 0) << path;
                close(fd);
                if (files != nullptr)
                    files->push_back(path);
            }
        }
    }
}

// Files anywhere below a folder, links not followed.
long count_files(const std::string& dir) {
    const std::string cmd = "find '" + dir + "' ! -type d | wc -l";
    FILE* p = popen(cmd.c_str(), "r");
    long n = -1;
    if (p != nullptr) {
        if (std::fscanf(p, "%ld", &n) != 1)
            n = -1;
        pclose(p);
    }
    return n;
}

// Running as root, permissions do not stop anyone; this thread sets aside
// the capabilities that let it ignore them, so that a locked folder is
// locked for the walk too, and takes them back afterwards.
class WithoutFileCapabilities {
public:
    WithoutFileCapabilities() {
        header_.version = _LINUX_CAPABILITY_VERSION_3;
        header_.pid = 0;
        if (syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct reduced[2];
        std::memcpy(reduced, saved_, sizeof reduced);
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) |
                                  (1u << CAP_FOWNER));
        active_ = syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~WithoutFileCapabilities() {
        if (active_)
            syscall(SYS_capset, &header_, saved_);
    }
    WithoutFileCapabilities(const WithoutFileCapabilities&) = delete;
    WithoutFileCapabilities& operator=(const WithoutFileCapabilities&) = delete;

private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
    bool active_ = false;
};

// A cache folder and, beside it, a folder the walk must never touch.
struct Scene {
    std::string base, cache, outside;
    std::map<std::string, std::string> survivors;  // path -> content, must be intact
    std::vector<std::string> victims;              // files that must be gone
    std::vector<std::string> folders;              // folders that must remain
    bool lock_out_root = false;                    // walk without file capabilities
    std::function<void(Scene&)> extra_check;

    void keep(const std::string& path, const std::string& content) {
        write_file(path, content);
        survivors[path] = content;
    }
    void doomed(const std::string& path) {
        write_file(path);
        victims.push_back(path);
    }
    void folder(const std::string& path) {
        make_dir(path);
        folders.push_back(path);
    }
};

// Outside: files and a subfolder with files, all of which must survive.
void populate_outside(Scene& s) {
    s.keep(s.outside + "/keep.txt", "outside");
    s.folder(s.outside + "/sub");
    s.keep(s.outside + "/sub/deep.txt", "outside, one level down");
}

void special_files(Scene& s) {
    // Nothing here may block the walk or be opened as a folder.
    ASSERT_EQ(mkfifo((s.cache + "/fifo").c_str(), 0644), 0);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string sock_path = s.cache + "/sock";
    ASSERT_LT(sock_path.size(), sizeof addr.sun_path);
    std::strcpy(addr.sun_path, sock_path.c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    close(sock);
    s.folder(s.cache + "/after");
    s.doomed(s.cache + "/after/file");
}

// Hostile neighbours for a big tree: links that lead back up and outside, a
// folder nobody may open and one whose files may not be removed. The small
// cases of each are the unit tests' business; here they sit in a tree large
// enough that a walk which mishandled them would wander or never end.
void plant_hazards(Scene& s, const std::string& at) {
    make_link("../..", at + "/up");
    make_link(s.outside, at + "/out");
    make_link(s.outside + "/keep.txt", at + "/file-out");
    s.lock_out_root = true;
    s.folder(at + "/locked");
    s.keep(at + "/locked/file", "behind a locked door");
    ASSERT_EQ(chmod((at + "/locked").c_str(), 0), 0);
    s.folder(at + "/frozen");
    s.keep(at + "/frozen/file", "in a read-only folder");
    ASSERT_EQ(chmod((at + "/frozen").c_str(), 0555), 0);
}

constexpr int WIDE_FANOUT = 10;
constexpr int WIDE_FILES = 1000;  // per leaf folder: 10 x 10 x 1000 = 100,000 files

void hundred_thousand_files(Scene& s) {
    populate_outside(s);
    make_wide_tree(s.cache, WIDE_FANOUT, WIDE_FILES);
    plant_hazards(s, s.cache + "/5/5");
    s.extra_check = [](Scene& scene) {
        // Only the three links and the two files that may not go are left.
        EXPECT_EQ(count_files(scene.cache), 5);
        EXPECT_TRUE(is_dir(scene.cache + "/9/9"));
    };
}

struct HostileCase {
    const char* name;
    void (*build)(Scene&);
};

class HostileWalk : public ::testing::TestWithParam<HostileCase> {
protected:
    void SetUp() override {
        char templ[] = "/tmp/vellmir-hostile-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        s.base = templ;
        s.cache = s.base + "/cache";
        s.outside = s.base + "/outside";
        make_dir(s.cache);
        make_dir(s.outside);
    }
    void TearDown() override { remove_tree(s.base); }

    void check(Scene& scene) {
        for (const auto& [path, content] : scene.survivors)
            EXPECT_EQ(read_file(path), content) << path;
        for (const auto& path : scene.victims)
            EXPECT_FALSE(exists(path)) << path;
        for (const auto& path : scene.folders)
            EXPECT_TRUE(is_dir(path)) << path;
        EXPECT_TRUE(is_dir(scene.base + "/cache")) << "the cache folder itself stays";
        if (scene.extra_check)
            scene.extra_check(scene);
    }

    Scene s;
};

TEST_P(HostileWalk, EndsDeletesWhatItMayAndNothingOutside) {
    GetParam().build(s);
    if (HasFatalFailure())
        return;
    if (s.lock_out_root) {
        WithoutFileCapabilities locked;
        delete_files_under(s.cache);
    } else {
        delete_files_under(s.cache);
    }
    check(s);
}

INSTANTIATE_TEST_SUITE_P(
    Trees, HostileWalk,
    ::testing::Values(HostileCase{"FifoAndSocket", special_files},
                      HostileCase{"HundredThousandFiles", hundred_thousand_files}),
    [](const ::testing::TestParamInfo<HostileCase>& info) { return std::string(info.param.name); });

// Two F2 presses at once: two walks over the same tree, each meeting files
// the other has already deleted.
TEST_F(HostileWalk, TwoWalksAtOnceBothFinishAndStayInside) {
    populate_outside(s);
    make_wide_tree(s.cache, 10, 200);
    make_link(s.outside, s.cache + "/3/3/out");
    make_link("../..", s.cache + "/5/5/up");

    std::atomic<int> finished{0};
    std::thread first([&] { delete_files_under(s.cache); ++finished; });
    std::thread second([&] { delete_files_under(s.cache); ++finished; });
    first.join();
    second.join();

    EXPECT_EQ(finished.load(), 2);
    EXPECT_EQ(count_files(s.cache), 2) << "only the two links are left";
    check(s);
}

// A folder moved out of the cache while the walk is inside it: the walk must
// not climb back up into the folder it was moved to and carry on there. The
// folder it lands in holds subfolders named like the cache's, as bait.
TEST_F(HostileWalk, FolderMovedOutDuringTheWalkLeadsNowhereOutside) {
    const std::string trap = s.outside + "/trap";
    make_dir(trap);
    constexpr int kFanout = 10;
    for (int a = 0; a < kFanout; ++a) {
        const std::string bait = trap + "/" + std::to_string(a);
        make_dir(bait);
        make_dir(bait + "/0");
        s.keep(bait + "/0/keep", "bait " + std::to_string(a));
    }
    for (int round = 0; round < 20 && !HasFailure(); ++round) {
        make_wide_tree(s.cache, kFanout, 30);
        std::atomic<bool> walking{true};
        std::thread mover([&] {
            // Moves each top folder out and back, over and over.
            int a = 0;
            while (walking.load()) {
                const std::string inside = s.cache + "/" + std::to_string(a);
                const std::string moved = trap + "/moved";
                if (rename(inside.c_str(), moved.c_str()) == 0) {
                    std::this_thread::yield();
                    rename(moved.c_str(), inside.c_str());
                }
                a = (a + 1) % kFanout;
            }
        });
        delete_files_under(s.cache);
        walking = false;
        mover.join();
        for (const auto& [path, content] : s.survivors)
            ASSERT_EQ(read_file(path), content) << path << " in round " << round;
        remove_tree(s.cache);
        remove_tree(trap + "/moved");
        make_dir(s.cache);
    }
}

}  // namespace
