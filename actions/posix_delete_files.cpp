// Deleting the files below a folder on POSIX systems.
//
// The walk never leaves the folder: symbolic links are never followed (a link
// is neither entered nor deleted), other file systems and mount points are
// not entered, and the way back up is checked against the folder it came
// from. It holds one directory open at a time and keeps its own stack, so
// neither depth nor a hostile tree can exhaust the call stack or the
// process's file descriptors.
#include "actions/game_actions.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct Frame {
    dev_t dev;
    ino_t ino;
    std::vector<std::string> subfolders;
    std::size_t next = 0;
};

int open_folder_at(int at, const char* name) {
    return openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

bool is_mount_root(int fd) {
#ifdef STATX_ATTR_MOUNT_ROOT
    struct statx sx;
    if (statx(fd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, 0, &sx) == 0 &&
        (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0)
        return (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
#else
    (void)fd;
#endif
    return false;
}

// A folder that may be read but not searched lists its names, yet nothing in
// it can be reached, not even its way back up: entering it would strand the
// walk there, so it is left alone like one that cannot be read.
bool can_climb_out(int fd) {
    const int up = open_folder_at(fd, "..");
    if (up < 0)
        return false;
    close(up);
    return true;
}

// Deletes the files directly in the folder open at fd and lists its
// subfolders. Links stay, and so do read-only files, as they do on Windows.
Frame clear_folder(int fd, const struct stat& folder) {
    Frame frame{folder.st_dev, folder.st_ino, {}, 0};
    const int list_fd = dup(fd);
    if (list_fd < 0)
        return frame;
    DIR* dir = fdopendir(list_fd);
    if (dir == nullptr) {
        close(list_fd);
        return frame;
    }
    while (const dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        struct stat st;
        if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            frame.subfolders.emplace_back(name);
        else if (!S_ISLNK(st.st_mode) && (st.st_mode & 0222) != 0)
            unlinkat(fd, name, 0);  // never follows a link that replaced it
    }
    closedir(dir);
    return frame;
}

}  // namespace

void delete_files_under(const std::string& folder) {
    // With a trailing slash the last name resolves through a link, so a
    // folder that is itself a link would be entered.
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    int fd = open_folder_at(AT_FDCWD, path.c_str());
    if (fd < 0)
        return;
    struct stat st;
    if (fstat(fd, &st) != 0) {
        close(fd);
        return;
    }
    const dev_t root_dev = st.st_dev;

    std::vector<Frame> stack;
    stack.push_back(clear_folder(fd, st));
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next < top.subfolders.size()) {
            const std::string name = top.subfolders[top.next++];
            const int child = open_folder_at(fd, name.c_str());
            if (child < 0)
                continue;  // gone, unreadable, or replaced by a link
            if (fstat(child, &st) != 0 || st.st_dev != root_dev || is_mount_root(child) ||
                !can_climb_out(child)) {
                close(child);
                continue;
            }
            close(fd);
            fd = child;
            stack.push_back(clear_folder(fd, st));
            continue;
        }

        stack.pop_back();
        if (stack.empty())
            break;
        // Back up one level, and make sure it is the folder we came from: if
        // the tree was moved meanwhile, stop rather than walk somewhere else.
        const int parent = open_folder_at(fd, "..");
        close(fd);
        fd = parent;
        if (fd < 0)
            return;
        if (fstat(fd, &st) != 0 || st.st_dev != stack.back().dev || st.st_ino != stack.back().ino)
            break;
    }
    close(fd);
}
