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
//
// Once the window is open it prints what it is made of: "style", "exstyle",
// "view" (the game view's rectangle in the window's client coordinates and
// whether it is a visible tab stop) and "icons" (the sizes of the large and
// small icon). Once the message loop has ended it prints "teardown_posts":
// how many of the TEARDOWN_POSTS messages that a window inside the game view
// posts as it is destroyed, as the browser's own windows may, were handled
// by the loop.
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <cstring>

#include "app/game_view.h"
#include "app/main_window.h"
#include "app/win32_main_window.h"
#include "hotkeys/hotkey_table.h"

namespace {

const char* address = nullptr;

constexpr int TEARDOWN_POSTS = 2;
constexpr UINT WM_TEARDOWN_POST = WM_APP + 7;
HWND teardown_receiver = nullptr;
int teardown_posts_handled = 0;

LRESULT CALLBACK receiver_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_TEARDOWN_POST) {
        ++teardown_posts_handled;
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT CALLBACK poster_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DESTROY)
        for (int i = 0; i < TEARDOWN_POSTS; ++i)
            PostMessageW(teardown_receiver, WM_TEARDOWN_POST, 0, 0);
    return DefWindowProcW(window, message, wparam, lparam);
}

// A message-only window that counts the posts, and a window inside the game
// view that makes them as it is destroyed with the main window.
void plant_teardown_poster() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW receiver_class = {};
    receiver_class.lpfnWndProc = receiver_proc;
    receiver_class.hInstance = instance;
    receiver_class.lpszClassName = L"VellmirProbeReceiver";
    WNDCLASSW poster_class = receiver_class;
    poster_class.lpfnWndProc = poster_proc;
    poster_class.lpszClassName = L"VellmirProbePoster";
    RegisterClassW(&receiver_class);
    RegisterClassW(&poster_class);
    teardown_receiver = CreateWindowExW(0, L"VellmirProbeReceiver", L"", 0, 0, 0, 0, 0,
                                        HWND_MESSAGE, nullptr, instance, nullptr);
    const HWND view = GetWindow(FindWindowW(L"VellmirMainWindow", nullptr), GW_CHILD);
    CreateWindowExW(0, L"VellmirProbePoster", L"", WS_CHILD, 0, 0, 1, 1, view, nullptr, instance,
                    nullptr);
}

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

int icon_width(HWND window, WPARAM which) {
    const auto icon = reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, which, 0));
    ICONINFO info = {};
    if (icon == nullptr || !GetIconInfo(icon, &info))
        return 0;
    BITMAP bitmap = {};
    GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    if (info.hbmColor != nullptr)
        DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

void describe_window() {
    const HWND window = FindWindowW(L"VellmirMainWindow", nullptr);
    const HWND view = GetWindow(window, GW_CHILD);
    RECT place = {};
    GetWindowRect(view, &place);
    MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&place), 2);
    const LONG_PTR view_style = GetWindowLongPtrW(view, GWL_STYLE);
    std::printf("style 0x%08lx\nexstyle 0x%08lx\n",
                static_cast<unsigned long>(GetWindowLongPtrW(window, GWL_STYLE)),
                static_cast<unsigned long>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
    std::printf("view %ld %ld %ld %ld visible=%d tabstop=%d\n", place.left, place.top,
                place.right - place.left, place.bottom - place.top,
                (view_style & WS_VISIBLE) != 0, (view_style & WS_TABSTOP) != 0);
    std::printf("icons %d %d\n", icon_width(window, ICON_BIG), icon_width(window, ICON_SMALL));
    std::fflush(stdout);
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
    describe_window();
    plant_teardown_poster();
    HANDLE thread = CreateThread(nullptr, 0, close ? navigate_through_close : navigate_once,
                                 nullptr, 0, nullptr);
    CloseHandle(thread);
    run_message_loop();
    std::printf("teardown_posts %d\n", teardown_posts_handled);
    std::fflush(stdout);
    release_hotkey_table();
    OleUninitialize();
    return 0;
}
