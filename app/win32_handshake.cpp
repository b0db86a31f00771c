// The start-up handshake's platform half on Windows.
#include <windows.h>

#include <string>

#include "app/handshake.h"

namespace {

bool ansi_lead_byte(unsigned char byte) {
    return IsDBCSLeadByte(byte) != FALSE;
}

// A view may be written when its first page is committed and writable. A
// section created with SEC_RESERVE maps pages that are not committed.
bool view_takes_zero_bytes(const void* view) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(view, &info, sizeof info) != sizeof info)
        return false;
    const DWORD writable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE |
                           PAGE_EXECUTE_WRITECOPY;
    return info.State == MEM_COMMIT && (info.Protect & writable) != 0 &&
           (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) == 0 &&
           info.RegionSize >= HANDSHAKE_ZERO_BYTES;
}

}  // namespace

std::string own_executable_path() {
    char buffer[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (length == 0)
        return {};
    return std::string(buffer, length < MAX_PATH ? length : MAX_PATH - 1);
}

char executable_path_separator() {
    return '\\';
}

LeadByteTest executable_path_lead_byte_test() {
    return ansi_lead_byte;
}

void clear_handshake_section(const char* name) {
    HANDLE section = OpenFileMappingA(FILE_MAP_WRITE | FILE_MAP_READ, FALSE, name);
    if (section == nullptr)
        return;
    // The whole section; the view stays mapped until the process ends.
    void* view = MapViewOfFile(section, FILE_MAP_WRITE | FILE_MAP_READ, 0, 0, 0);
    if (view != nullptr && view_takes_zero_bytes(view)) {
        static const char zeros[HANDSHAKE_ZERO_BYTES] = {};
        RtlMoveMemory(view, zeros, sizeof zeros);
    }
    CloseHandle(section);
}
