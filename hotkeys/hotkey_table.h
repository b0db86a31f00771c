// The table of registered hotkeys and the one call that fills it.
//
// Hotkeys are not registered with the operating system: the table is sampled
// against the keyboard state on a timer (see hotkey_poller.h).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// An action routine: receives the id of the hotkey that fired.
using HotkeyCallback = void (*)(int32_t id);

// Ids are HOTKEY_ID_BASE plus the entry's 1-based position: large enough
// that no id is 0 (which means "refused") and that an id is never mistaken
// for a small count or a key code.
constexpr int32_t HOTKEY_ID_BASE = 1000000;
constexpr int DEFAULT_POLL_INTERVAL_MS = 10;

// Modifier bits, by the Windows virtual-key code they sample.
enum ModifierMask : int32_t {
    MODIFIER_ALT = 1,      // VK_MENU 18
    MODIFIER_CTRL = 2,     // VK_CONTROL 17
    MODIFIER_SHIFT = 4,    // VK_SHIFT 16
    MODIFIER_LEFT_WIN = 8, // VK_LWIN 91 (the right Windows key is no modifier)
};

enum FireState : uint8_t {
    FIRE_IDLE = 0,
    FIRE_DOWN = 1,
    FIRE_RELEASE_PENDING = 2,  // only ever seen within a tick
    // The state's established encoding: Fired is 88, not 3. Only the poller
    // and its tests read these values; any distinct value would work alike.
    FIRE_FIRED = 88,
};

struct HotkeyEntry {
    int32_t id;            // HOTKEY_ID_BASE + 1-based position in the table
    HotkeyCallback callback;
    int32_t key;           // as passed; |key| % 256 is sampled, sign picks the edge
    int32_t modifiers;     // exact ModifierMask that must be held
    int32_t extra_key;     // 0, or a key that must also be held (|x| % 256)
    uint8_t state;         // FireState, owned by the poller
    bool direct;           // true: call on the polling thread; false: new thread
};

// Process-wide, only ever appended to; each entry is allocated on its own so
// that it stays put while the table grows.
extern std::vector<std::unique_ptr<HotkeyEntry>> hotkey_table;

// Returns the entry's id, or 0 when |key| % 256 is 0. A repeated
// (key, modifiers, extra_key) replaces that entry's callback and direct flag.
// The first entry created starts the poll timer at interval_ms (<= 0: default).
int32_t register_hotkey(HotkeyCallback callback, int32_t key, int32_t modifiers = 0,
                        int32_t extra_key = 0, int interval_ms = 0, bool direct = false);

// Frees every entry; called once the event loop has ended.
void release_hotkey_table();

// The virtual-key code (0..255) that a key value samples: its magnitude
// modulo 256, defined for every 32-bit value including INT32_MIN.
constexpr unsigned virtual_key_of(int32_t key) {
    const uint32_t bits = static_cast<uint32_t>(key);
    const uint32_t magnitude = key < 0 ? 0u - bits : bits;
    return magnitude % 256u;
}

// Platform: run poll_hotkeys every interval_ms on the calling (main) thread's
// event loop, from now until the process ends.
void start_poll_timer(int interval_ms);
