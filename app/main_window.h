// The main window's created event, and the platform calls around it.
#pragma once

// Runs once, after the window and the game view exist and before the window
// is first shown: binds the game hotkeys (starting the poll timer), then
// starts loading the game page.
void on_main_window_created();

// Platform: create the window and the game view (hidden), raise the created
// event, then show and activate the window. False when either could not be
// created; then nothing was shown and the event was not raised.
bool open_main_window();
