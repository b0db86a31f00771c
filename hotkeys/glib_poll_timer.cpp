// The poll timer on GLib's main context, and the action threads.
#include "hotkeys/hotkey_poller.h"
#include "hotkeys/hotkey_table.h"

#include <glib.h>

#include <system_error>
#include <thread>

namespace {

gboolean poll_tick(gpointer) {
    poll_hotkeys();
    return G_SOURCE_CONTINUE;
}

}  // namespace

void start_poll_timer(int interval_ms) {
    // The default main context is the one the GTK main loop runs.
    g_timeout_add(static_cast<guint>(interval_ms), poll_tick, nullptr);
}

void start_action_thread(HotkeyCallback callback, int32_t id) {
    if (callback == nullptr)
        return;
    try {
        std::thread(callback, id).detach();
    } catch (const std::system_error&) {
        // No thread: the action does not run for this press.
    }
}
