// Test helper: the real main window and game view with a navigate from
// another thread.
//
//   win32_navigate_probe <address>          opens the window, then navigates
//                                           to <address> once from a thread
//                                           of its own; runs until closed
//   win32_navigate_probe <address> --close  the thread navigates a few times,
//                                           asks the window to close, and
//                                           goes on navigating until the
//                                           process has ended
#include "app/win32_windows.h"
#include <ole2.h>

#include <cstring>

#include "app/game_view.h"
#include "app/main_window.h"
#include "app/win32_main_window.h"
#include "hotkeys/hotkey_table.h"

namespace {

const char* address = nullptr;

DWORD WINAPI navigate_once(LPVOID) {
    navigate(address);
    return 0;
}

DWORD WINAPI navigate_through_close(LPVOID) {
    for (int i = 0; i < 50; ++i)
        navigate(address);
    PostMessageW(FindWindowW(L"VellmirMainWindow", nullptr), WM_CLOSE, 0, 0);
    for (;;) {
        navigate(address);
        Sleep(0);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    address = argv[1];
    const bool close = argc > 2 && std::strcmp(argv[2], "--close") == 0;
    OleInitialize(nullptr);
    if (!open_main_window())
        return 2;
    HANDLE thread = CreateThread(nullptr, 0, close ? navigate_through_close : navigate_once,
                                 nullptr, 0, nullptr);
    CloseHandle(thread);
    run_message_loop();
    release_hotkey_table();
    OleUninitialize();
    return 0;
}
