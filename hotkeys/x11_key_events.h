// Between the X11 key sampler (x11_key_snapshot.cpp) and the GLib poll timer
// (glib_poll_timer.cpp). Linux only; main thread only.
//
// With XInput2 2.1 or later the sampler knows which keys are down from the
// raw press and release events on its own display connection, so the poller
// needs to run only when such an event arrives or while something is held.
// Without it, the timer samples the server on every tick.
#pragma once

// Opens the sampler's display connection if that has not been tried yet.
// Returns the connection's file descriptor when key state comes from events,
// -1 when the poller must sample on a fixed timer instead.
int open_key_events();

// True when Xlib has already read events from the connection that are not
// handled yet (the descriptor will not signal them).
bool key_events_queued();

// Handles what the connection has queued (raw key and button events, keymap
// and layout changes) up to the first key or mouse button that goes down or
// up. True when one did: sample now, then call again for the rest.
bool read_key_events();

// One round trip to the server, then every queued event: all that the server
// had produced before this call has been handled. True when a key or mouse
// button went down or up.
bool sync_key_events();

// True while any key or mouse button is down (as far as the events tell).
bool any_key_down();

// Defined by the poll timer (glib_poll_timer.cpp): a key went down or up
// somewhere the sampler does not see (the desktop portal's global shortcuts):
// tick now, and keep ticking while anything is held.
void tick_on_key_event();
