// Vellmir's entry point on Windows: start-up, the message loop, the end.
#include <windows.h>
#include <ole2.h>

#include "app/handshake.h"
#include "app/main_window.h"
#include "app/program_facts.h"
#include "app/win32_main_window.h"
#include "hotkeys/hotkey_table.h"

namespace {

int start_program() {
    OleInitialize(nullptr);  // a single-threaded apartment for the browser
    temp_name_handshake();
    if (!open_main_window()) {
        MessageBoxA(nullptr, STARTUP_FAILED_MESSAGE, PROGRAM_NAME, MB_OK | MB_ICONERROR);
        ExitProcess(static_cast<UINT>(-1));
    }
    if (main_window_exists())
        run_message_loop();
    // Action threads still running are not waited for; they end with the
    // process.
    release_hotkey_table();
    OleUninitialize();
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return start_program();
}
