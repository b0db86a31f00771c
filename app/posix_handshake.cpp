// The handshake's platform side on POSIX: the executable's own path, and the
// shared-memory object "/" + the section name bytes.
#include "app/handshake.h"

#include <fcntl.h>
#include <sys/auxv.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

std::string own_executable_path() {
    // The path the program was started by (not resolved through links), as
    // Windows reports a module's path: a link named game.tmp counts as such.
    if (const auto* exec_fn = reinterpret_cast<const char*>(getauxval(AT_EXECFN)))
        return exec_fn;
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

char executable_path_separator() { return '/'; }

// UTF-8 and other Unix encodings never use '/' as a trail byte.
LeadByteTest executable_path_lead_byte_test() { return nullptr; }

void clear_handshake_section(const char* name) {
    std::string object_name = "/";
    object_name.append(name, std::strlen(name));
    const int fd = shm_open(object_name.c_str(), O_RDWR, 0);  // never O_CREAT
    if (fd < 0)
        return;
    struct stat st;
    if (fstat(fd, &st) == 0 && st.st_size > 0) {
        const auto size = static_cast<std::size_t>(st.st_size);
        void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        // Bytes past the object's end are not backed: write only what fits.
        if (view != MAP_FAILED && size >= HANDSHAKE_ZERO_BYTES)
            std::memset(view, 0, HANDSHAKE_ZERO_BYTES);
        // The view stays mapped until the process ends.
    }
    close(fd);
}
