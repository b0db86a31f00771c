// One tick of the hotkey poller: sample every key once, then step each
// entry's state machine and fire the entries whose combination completed.
#pragma once

#include <cstdint>

#include "hotkey_table.h"

// Slot values are read three ways: < 0 the key is down now; 0 it is up;
// > 0 it is up but was pressed since the previous sample. Slots 1..255 are
// Windows virtual-key codes; slot 0 and slot 256 stay 0.
struct KeySnapshot {
    int16_t slot[257];
};

enum : unsigned {
    VK_SHIFT_KEY = 16,
    VK_CONTROL_KEY = 17,
    VK_ALT_KEY = 18,
    VK_LEFT_WIN_KEY = 91,
    VK_RIGHT_WIN_KEY = 92,
    VK_F1_KEY = 112,
    VK_F2_KEY = 113,
};

// The timer procedure: called on the main thread, one tick at a time.
void poll_hotkeys();

// The modifiers held in a snapshot, as a ModifierMask.
int32_t held_modifiers(const KeySnapshot& snapshot);

// Platform: fill slots 1..255 with the current key state. The caller has
// zeroed the snapshot.
void take_key_snapshot(KeySnapshot& snapshot);

// Platform: run callback(id) on a new thread that nobody waits for.
void start_action_thread(HotkeyCallback callback, int32_t id);
