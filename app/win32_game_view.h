// The game view on Windows: a child window hosting the WebBrowser control.
// Everything here runs on the main thread.
#pragma once

#include <windows.h>

// Creates the game view's window (hidden, a tab stop) as a child of parent
// at the given place, with the browser control inside and its four settings
// applied. Null when the window or the control could not be created.
HWND create_game_view(HWND parent, int left, int top, int width, int height);

// Hands an address (ANSI code page) to the browser; does nothing once the
// browser has been released.
void navigate_game_view(const char* address);

// Offers a key message aimed at the game view, or a window inside it, to the
// browser's own shortcut keys. True when the browser took it; the message
// must then not be translated or dispatched.
bool game_view_translate_accelerator(MSG& message);
