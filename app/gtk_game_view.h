// What the GTK main window shares with the WebKit cache actions. Linux only.
#pragma once

#include <string>

#include <webkit2/webkit2.h>

// True on the thread that opened the main window (the GTK main thread).
bool on_main_thread();

// Main thread only: the game view's website data manager, or null once the
// window is closing or gone (or before it exists).
WebKitWebsiteDataManager* game_view_data_manager();

// The browser's folders: $XDG_DATA_HOME/vellmir and $XDG_CACHE_HOME/vellmir.
// Neither is created here.
std::string browser_data_folder();
std::string browser_cache_folder();
