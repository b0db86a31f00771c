// The handshake's shared-memory side against objects of awkward sizes and
// kinds: whatever another process left under the name, the program neither
// crashes nor writes past the object, nor creates, grows or follows anything.
#include "app/handshake.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr unsigned char FILL = 0xA5;

// Each test gets names of its own, so that parallel runs and the program's
// real section never meet.
std::string unique_name(const std::string& what) {
    return "vellmir-hostile-" + std::to_string(getpid()) + "-" + what;
}

std::string shm_path(const std::string& name) { return "/dev/shm/" + name; }

// The object's bytes as another process sees them, or nothing if it is gone.
std::vector<unsigned char> contents(const std::string& name, off_t* size_out) {
    std::vector<unsigned char> bytes;
    const int fd = shm_open(("/" + name).c_str(), O_RDONLY, 0);
    if (fd < 0)
        return bytes;
    struct stat st;
    fstat(fd, &st);
    *size_out = st.st_size;
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = pread(fd, bytes.data() + done, bytes.size() - done,
                                static_cast<off_t>(done));
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    close(fd);
    return bytes;
}

class HandshakeObjectSize : public ::testing::TestWithParam<std::size_t> {};

TEST_P(HandshakeObjectSize, OnlyWhatFitsIsWrittenAndTheSizeStays) {
    const std::size_t size = GetParam();
    const std::string name = unique_name("size" + std::to_string(size));
    const int fd = shm_open(("/" + name).c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
    const std::vector<unsigned char> filled(size, FILL);
    if (size > 0) {
        ASSERT_EQ(pwrite(fd, filled.data(), size, 0), static_cast<ssize_t>(size));
    }
    close(fd);

    clear_handshake_section(name.c_str());

    off_t size_after = -1;
    const std::vector<unsigned char> bytes = contents(name, &size_after);
    shm_unlink(("/" + name).c_str());
    EXPECT_EQ(size_after, static_cast<off_t>(size)) << "the object is never grown";
    ASSERT_EQ(bytes.size(), size);
    // All three zero bytes or none: a partial write would be half a message.
    const bool fits = size >= HANDSHAKE_ZERO_BYTES;
    std::vector<unsigned char> expected(size, FILL);
    for (std::size_t i = 0; fits && i < HANDSHAKE_ZERO_BYTES; ++i)
        expected[i] = 0;
    EXPECT_EQ(bytes, expected);
}

INSTANTIATE_TEST_SUITE_P(Sizes, HandshakeObjectSize,
                         ::testing::Values(0, 1, 2, 3, 4096),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                             return "Bytes" + std::to_string(info.param);
                         });

// What else may stand under the name: nothing at all, a link to a file of
// someone else's, a folder, a pipe with nobody on the other end.
TEST(HandshakeObjectKind, NothingIsCreatedFollowedOrBlockedOn) {
    char dir_template[] = "/tmp/vellmir-hostile-shm-XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    const std::string victim = std::string(dir_template) + "/victim";
    {
        const int fd = open(victim.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, "keep", 4), 4);
        close(fd);
    }

    const std::string missing = unique_name("missing");
    clear_handshake_section(missing.c_str());
    struct stat st;
    EXPECT_NE(lstat(shm_path(missing).c_str(), &st), 0) << "never created";

    const std::string link_name = unique_name("link");
    ASSERT_EQ(symlink(victim.c_str(), shm_path(link_name).c_str()), 0);
    clear_handshake_section(link_name.c_str());
    unlink(shm_path(link_name).c_str());
    char buf[8] = {};
    const int vfd = open(victim.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(vfd, 0);
    EXPECT_EQ(read(vfd, buf, sizeof buf), 4);
    close(vfd);
    EXPECT_EQ(std::string(buf, 4), "keep") << "a link under the name is not followed";

    const std::string folder = unique_name("folder");
    ASSERT_EQ(mkdir(shm_path(folder).c_str(), 0700), 0);
    clear_handshake_section(folder.c_str());
    rmdir(shm_path(folder).c_str());

    const std::string fifo = unique_name("fifo");
    ASSERT_EQ(mkfifo(shm_path(fifo).c_str(), 0600), 0);
    clear_handshake_section(fifo.c_str());  // returns: opening O_RDWR does not wait
    unlink(shm_path(fifo).c_str());

    unlink(victim.c_str());
    rmdir(dir_template);
}

}  // namespace
