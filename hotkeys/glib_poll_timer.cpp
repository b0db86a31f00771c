// The poll timer on GLib's main context, and the action threads.
//
// While no key is down and every entry is Idle, a tick would change nothing:
// each entry stays Idle, and a key can only have been pressed since the last
// sample if an input event says so. So in that state no timer runs: the
// main loop watches the key sampler's X connection and ticks as soon as a
// key or button goes down or up. While anything is held, or an entry is
// between press and release, it ticks every period as well, and goes quiet
// again once all is up and Idle. Where the sampler cannot follow the keys
// from events, a plain timer ticks every period for the life of the process.
#include "hotkeys/hotkey_poller.h"
#include "hotkeys/hotkey_table.h"
#include "hotkeys/x11_key_events.h"

#include <glib.h>

#include <system_error>
#include <thread>

namespace {

guint period_ms = DEFAULT_POLL_INTERVAL_MS;
guint timer = 0;  // the periodic tick while anything is held, else 0

gboolean poll_tick(gpointer) {
    poll_hotkeys();
    return G_SOURCE_CONTINUE;
}

bool anything_held() {
    if (any_key_down())
        return true;
    for (const auto& entry : hotkey_table)
        if (entry->state != FIRE_IDLE)
            return true;
    return false;
}

gboolean active_tick(gpointer) {
    poll_hotkeys();
    if (anything_held())
        return G_SOURCE_CONTINUE;
    timer = 0;
    return G_SOURCE_REMOVE;
}

// Starts the periodic tick if something is held and it is not running yet.
void keep_ticking_while_held() {
    if (timer == 0 && anything_held())
        timer = g_timeout_add(period_ms, active_tick, nullptr);
}

// The X connection as a main-loop source. Xlib may already have read events
// that the descriptor no longer signals, so its queue is checked as well.
struct KeyEventSource {
    GSource base;
    gpointer fd_tag;
};

gboolean key_events_prepare(GSource*, gint* timeout) {
    *timeout = -1;
    return key_events_queued();
}

gboolean key_events_check(GSource* source) {
    const auto* self = reinterpret_cast<KeyEventSource*>(source);
    return g_source_query_unix_fd(source, self->fd_tag) != 0 || key_events_queued();
}

// A tick after each key or button that went down or up, in order.
gboolean key_events_dispatch(GSource*, GSourceFunc, gpointer) {
    bool ticked = false;
    while (read_key_events()) {
        poll_hotkeys();
        ticked = true;
    }
    if (ticked)
        keep_ticking_while_held();
    return G_SOURCE_CONTINUE;
}

GSourceFuncs key_event_funcs = {
    key_events_prepare, key_events_check, key_events_dispatch, nullptr, nullptr, nullptr};

}  // namespace

void start_poll_timer(int interval_ms) {
    period_ms = static_cast<guint>(interval_ms);
    const int fd = open_key_events();
    if (fd < 0) {
        // The default main context is the one the GTK main loop runs.
        g_timeout_add(period_ms, poll_tick, nullptr);
        return;
    }
    GSource* source = g_source_new(&key_event_funcs, sizeof(KeyEventSource));
    reinterpret_cast<KeyEventSource*>(source)->fd_tag =
        g_source_add_unix_fd(source, fd, static_cast<GIOCondition>(G_IO_IN | G_IO_ERR | G_IO_HUP));
    g_source_set_name(source, "hotkey key events");
    g_source_attach(source, nullptr);
    g_source_unref(source);
    // A key already held at start is sampled on the first period, as before.
    keep_ticking_while_held();
}

void tick_on_key_event() {
    poll_hotkeys();
    keep_ticking_while_held();
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
