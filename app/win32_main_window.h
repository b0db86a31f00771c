// The main window's message loop on Windows.
#pragma once

// True while the main window exists.
bool main_window_exists();

// Retrieves and dispatches the main thread's messages until WM_QUIT, offering
// key presses inside the game view to the browser first. Returns the quit
// code.
int run_message_loop();
