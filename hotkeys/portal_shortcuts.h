// Global shortcuts through the desktop portal (org.freedesktop.portal.GlobalShortcuts)
// on Wayland sessions, where the X11 sampler sees keys only while one of our
// (XWayland) windows has the focus.
//
// The desktop tells us when a bound shortcut goes down (Activated) and up
// again (Deactivated). That state is merged into the key snapshot the poller
// samples, in the slot of the hotkey's own key, so the poller's state machine
// decides exactly as for keys it samples itself. The X11 sampler stays on: a
// press that both see is one continuous press and fires once.
#pragma once

#include "hotkeys/hotkey_poller.h"

// Called on the main thread after a shortcut went down or up: the poller
// should take a sample now rather than at its next tick (a press and release
// that arrive together would otherwise read as "pressed since the previous
// sample", which does not fire).
using PortalKeyEvent = void (*)();

// On a Wayland session (WAYLAND_DISPLAY set, or XDG_SESSION_TYPE=wayland)
// whose portal offers GlobalShortcuts: creates a session with one shortcut
// per entry of hotkey_table as it is when the portal first answers, named and
// described as describe_hotkey says, and binds them unless the desktop knows
// them all already. Returns at once; everything happens on the main loop as
// replies come in.
// A missing portal, or a binding the user refused, leaves only the X11
// sampler, which works while our window has the focus. Call once, on the
// main thread, after the hotkeys are registered; on_key_event may be null.
void start_portal_shortcuts(PortalKeyEvent on_key_event);

// Merges the portal's state into a snapshot that the X11 sampler has filled:
// a shortcut held now marks its hotkey's key down, one pressed and released
// since the previous merge marks it "pressed since the previous sample"
// (unless it is down anyway). While the desktop reports a shortcut held it
// has matched the whole combination, so the hotkey's modifier keys read
// exactly as the hotkey wants them. Main thread only.
void merge_portal_key_state(KeySnapshot& snapshot);
