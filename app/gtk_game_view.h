// The WebKitGTK game view as the GTK main window and the WebKit cache actions
// see it. Linux only; defined in app/gtk_game_view.cpp.
#pragma once

#include <string>

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

// True on the thread that opened the main window (the GTK main thread).
bool on_main_thread();

// Main thread only: the game view's website data manager, or null once the
// window is closing or gone (or before it exists).
WebKitWebsiteDataManager* game_view_data_manager();

// The browser's data folder, $XDG_DATA_HOME/vellmir; its cache folder,
// $XDG_CACHE_HOME/vellmir, is browser_cache_folder() (actions/game_actions.h).
// Neither is created here.
std::string browser_data_folder();

// Main thread, once: the browser profile and the view, sized for its place
// in the window and not yet loading anything. Marks the calling thread as the
// main thread. Null when WebKit could not make them.
GtkWidget* create_game_view();

// Main thread: the window is going away; navigation and cache requests are
// dropped from now on.
void forget_game_view();
