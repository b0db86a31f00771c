// The poll timer on the main thread's message loop, and the action threads.
#include <windows.h>

#include <new>

#include "hotkeys/hotkey_poller.h"
#include "hotkeys/hotkey_table.h"

namespace {

// A thread timer has no window, and then SetTimer ignores the id it is given
// and returns one of its own; this one is passed only so that the call reads
// the same everywhere it is written.
constexpr UINT_PTR HOTKEY_TIMER_ID = 16661;

void CALLBACK poll_timer_proc(HWND, UINT, UINT_PTR, DWORD) { poll_hotkeys(); }

// What a new action thread needs; it owns and frees this.
struct ActionStart {
    HotkeyCallback callback;
    int32_t id;
};

DWORD WINAPI run_action(LPVOID parameter) {
    const ActionStart start = *static_cast<ActionStart*>(parameter);
    delete static_cast<ActionStart*>(parameter);
    start.callback(start.id);
    return 0;
}

}  // namespace

void start_poll_timer(int interval_ms) {
    // A thread timer: no window, served by this thread's message loop.
    SetTimer(nullptr, HOTKEY_TIMER_ID, static_cast<UINT>(interval_ms), poll_timer_proc);
}

void start_action_thread(HotkeyCallback callback, int32_t id) {
    auto* start = new (std::nothrow) ActionStart{callback, id};
    if (start == nullptr)
        return;
    HANDLE thread = CreateThread(nullptr, 0, run_action, start, 0, nullptr);
    if (thread == nullptr)
        delete start;  // the action does not run for this press
    CloseHandle(thread);
}
