// The main window on Windows: borderless, 941 x 590, centred on the primary
// screen, filled by the game view.
#include "app/win32_main_window.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "app/game_view.h"
#include "app/main_window.h"
#include "app/win32_game_view.h"
#include "app/win32_utf8.h"
#include "app/window_geometry.h"

namespace {

const wchar_t MAIN_WINDOW_CLASS[] = L"VellmirMainWindow";
// Carries a heap copy of an address from an action thread; the window
// procedure owns it once the message has been posted.
constexpr UINT WM_VELLMIR_NAVIGATE = WM_APP + 1;

HWND main_window = nullptr;
HWND game_view_window = nullptr;
HWND last_focus = nullptr;  // the focused window inside, at the last deactivation
DWORD main_thread_id = 0;
bool loop_started = false;

// Action threads post to navigate_target under this lock; the window clears
// it under the same lock as it begins to be destroyed, so after that nothing
// more is posted and whatever was posted before is still in the queue to be
// freed.
SRWLOCK navigate_lock = SRWLOCK_INIT;
HWND navigate_target = nullptr;

void stop_taking_navigations() {
    AcquireSRWLockExclusive(&navigate_lock);
    navigate_target = nullptr;
    ReleaseSRWLockExclusive(&navigate_lock);
}

void drop_queued_navigations(HWND window) {
    MSG message;
    while (PeekMessageW(&message, window, WM_VELLMIR_NAVIGATE, WM_VELLMIR_NAVIGATE, PM_REMOVE))
        std::free(reinterpret_cast<char*>(message.lParam));
}

bool modifier_held() {
    return GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_SHIFT) < 0 || GetKeyState(VK_MENU) < 0;
}

// Gives the focus on to the window inside that had it when the main window
// was last deactivated, or else to the first tab stop: the game view.
void hand_on_focus(HWND window) {
    HWND target = nullptr;
    if (last_focus != nullptr && IsWindow(last_focus) && IsChild(window, last_focus))
        target = last_focus;
    else
        target = GetNextDlgTabItem(window, nullptr, FALSE);
    if (target != nullptr && IsChild(window, target))
        SetFocus(target);
}

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_ACTIVATE:
        if (LOWORD(wparam) == WA_INACTIVE) {
            const HWND focus = GetFocus();
            if (focus != nullptr && IsChild(window, focus))
                last_focus = focus;
        }
        break;  // the default gives the focus to the window, see WM_SETFOCUS
    case WM_SETFOCUS:
        hand_on_focus(window);
        return 0;
    case WM_KEYDOWN:
        // Only seen while the main window itself has the focus.
        if (wparam == VK_ESCAPE && !modifier_held()) {
            PostMessageW(window, WM_CLOSE, 0, 0);
            return 0;
        }
        break;
    case WM_HELP:
        return TRUE;  // F1 opens no help
    case WM_GETMINMAXINFO: {
        // The window keeps its size on a screen smaller than itself: by
        // default an overlapped window is held to the screen's size plus a
        // frame.
        auto* limits = reinterpret_cast<MINMAXINFO*>(lparam);
        if (limits->ptMaxTrackSize.x < MAIN_WINDOW_WIDTH)
            limits->ptMaxTrackSize.x = MAIN_WINDOW_WIDTH;
        if (limits->ptMaxTrackSize.y < MAIN_WINDOW_HEIGHT)
            limits->ptMaxTrackSize.y = MAIN_WINDOW_HEIGHT;
        return 0;
    }
    case WM_VELLMIR_NAVIGATE: {
        char* address = reinterpret_cast<char*>(lparam);
        navigate_game_view(address);  // nothing once the browser is gone
        std::free(address);
        return 0;
    }
    case WM_DESTROY:
        stop_taking_navigations();
        return 0;
    case WM_NCDESTROY:
        // The game view and its browser are gone by now. The quit request is
        // posted only here: releasing the browser may run a message loop of
        // its own that would swallow it.
        drop_queued_navigations(window);
        main_window = nullptr;
        game_view_window = nullptr;
        last_focus = nullptr;
        if (loop_started)
            PostQuitMessage(0);
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

bool register_main_window_class(HINSTANCE instance) {
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = main_window_proc;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    window_class.lpszClassName = MAIN_WINDOW_CLASS;
    return RegisterClassExW(&window_class) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// No title bar, border, sizing frame, system menu or maximise box; the
// minimise box stays. Windows gives an overlapped window a caption (and with
// it an edge) of its own accord, so they are taken off after creation.
void make_borderless(HWND window) {
    const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    const LONG_PTR frame = WS_CAPTION | WS_BORDER | WS_DLGFRAME | WS_SYSMENU | WS_THICKFRAME |
                           WS_MAXIMIZEBOX;
    SetWindowLongPtrW(window, GWL_STYLE, (style & ~frame) | WS_MINIMIZEBOX);
    SetWindowLongPtrW(window, GWL_EXSTYLE, 0);
    SetWindowPos(window, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void set_icons_and_font(HWND window, HINSTANCE instance) {
    const auto large = static_cast<HICON>(LoadImageW(instance, L"DEFAULT_ICON", IMAGE_ICON, 32, 32, 0));
    const auto small = static_cast<HICON>(LoadImageW(instance, L"DEFAULT_ICON", IMAGE_ICON, 16, 16, 0));
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(large));
    SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
}

// Handles what is already queued, without waiting for more.
void handle_waiting_messages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));  // for the loop to see
            return;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace

bool open_main_window() {
    main_thread_id = GetCurrentThreadId();
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    if (!register_main_window_class(instance))
        return false;

    const Rect place = main_window_rect(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    const HWND window =
        CreateWindowExW(0, MAIN_WINDOW_CLASS, utf8_to_wide(MAIN_WINDOW_TITLE).c_str(),
                        WS_OVERLAPPED | WS_CLIPCHILDREN | WS_MINIMIZEBOX, place.left, place.top,
                        place.width, place.height, nullptr, nullptr, instance, nullptr);
    if (window == nullptr)
        return false;
    main_window = window;
    make_borderless(window);

    RECT outer;
    GetWindowRect(window, &outer);
    if (outer.right - outer.left != place.width || outer.bottom - outer.top != place.height)
        SetWindowPos(window, nullptr, place.left, place.top, place.width, place.height,
                     SWP_NOZORDER | SWP_NOACTIVATE);

    set_icons_and_font(window, instance);

    const Rect view = game_view_rect();
    game_view_window = create_game_view(window, view.left, view.top, view.width, view.height);
    if (game_view_window == nullptr) {
        DestroyWindow(window);
        return false;
    }
    ShowWindow(game_view_window, SW_SHOWNA);

    AcquireSRWLockExclusive(&navigate_lock);
    navigate_target = window;
    ReleaseSRWLockExclusive(&navigate_lock);

    handle_waiting_messages();
    on_main_window_created();
    ShowWindow(window, SW_SHOW);
    return true;
}

bool main_window_exists() {
    return main_window != nullptr && IsWindow(main_window);
}

int run_message_loop() {
    loop_started = true;
    MSG message = {};
    // The main window posts the quit request only once it and the browser are
    // gone, and GetMessage returns it only after every message posted before
    // it: what the browser posts while it is torn down is handled here, before
    // OLE is uninitialised.
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!game_view_translate_accelerator(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return message.message == WM_QUIT ? static_cast<int>(message.wParam) : 0;
}

void navigate(const char* address) {
    if (address == nullptr)
        return;
    if (GetCurrentThreadId() == main_thread_id) {
        navigate_game_view(address);
        return;
    }
    // Another thread: hand a copy to the main thread and do not wait.
    const std::size_t size = std::strlen(address) + 1;
    auto* copy = static_cast<char*>(std::malloc(size));
    if (copy == nullptr)
        return;
    std::memcpy(copy, address, size);
    AcquireSRWLockShared(&navigate_lock);
    const bool posted = navigate_target != nullptr &&
                        PostMessageW(navigate_target, WM_VELLMIR_NAVIGATE, 0,
                                     reinterpret_cast<LPARAM>(copy));
    ReleaseSRWLockShared(&navigate_lock);
    if (!posted)
        std::free(copy);
}
