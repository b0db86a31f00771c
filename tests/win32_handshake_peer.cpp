// Test helper, the other side of the start-up handshake: creates the section
// under the handshake's name, filled with non-zero bytes, starts the given
// program, waits until the program's main window exists (the handshake runs
// before it is created), prints the section's bytes, closes the window and
// prints the program's exit code.
//
//   win32_handshake_peer <program>
//   -> "bytes: 11 22 33 ..." and "exit: 0"
#include <windows.h>

#include <cstdio>

#include "app/handshake.h"

namespace {

constexpr DWORD SECTION_SIZE = 16;
constexpr DWORD WAIT_MS = 120000;

struct Search {
    DWORD process;
    HWND found;
};

BOOL CALLBACK find_main_window(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char class_name[64] = {};
    GetClassNameA(window, class_name, sizeof class_name);
    if (process == search->process && lstrcmpA(class_name, "VellmirMainWindow") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: win32_handshake_peer <program>\n");
        return 2;
    }
    HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        SECTION_SIZE, HANDSHAKE_SECTION_NAME);
    if (section == nullptr) {
        std::fprintf(stderr, "cannot create the section: %lu\n", GetLastError());
        return 2;
    }
    auto* bytes = static_cast<unsigned char*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0));
    if (bytes == nullptr)
        return 2;
    for (DWORD i = 0; i < SECTION_SIZE; ++i)
        bytes[i] = static_cast<unsigned char>(0xA0 + i);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessA(argv[1], nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &child)) {
        std::fprintf(stderr, "cannot start %s: %lu\n", argv[1], GetLastError());
        return 2;
    }

    Search search = {child.dwProcessId, nullptr};
    const ULONGLONG deadline = GetTickCount64() + WAIT_MS;
    while (search.found == nullptr && GetTickCount64() < deadline) {
        EnumWindows(find_main_window, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr)
            Sleep(50);
    }
    std::printf("bytes:");
    for (DWORD i = 0; i < SECTION_SIZE; ++i)
        std::printf(" %02x", bytes[i]);
    std::printf("\n");
    if (search.found == nullptr) {
        std::printf("no window\n");
        TerminateProcess(child.hProcess, 3);
        return 1;
    }

    PostMessageA(search.found, WM_CLOSE, 0, 0);
    DWORD code = 0;
    if (WaitForSingleObject(child.hProcess, WAIT_MS) == WAIT_OBJECT_0)
        GetExitCodeProcess(child.hProcess, &code);
    else
        std::printf("still running\n");
    std::printf("exit: %ld\n", static_cast<long>(code));
    std::fflush(stdout);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    UnmapViewOfFile(bytes);
    CloseHandle(section);
    return 0;
}
