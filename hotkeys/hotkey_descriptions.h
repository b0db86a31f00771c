// What a hotkey is for, in words a desktop can show the user when it asks
// whether a program may have global shortcuts (and lists them in its
// settings). Optional: a hotkey without a description still works.
#pragma once

#include <cstdint>

struct HotkeyDescription {
    const char* name;     // stable identifier the desktop remembers the binding by
    const char* english;  // "Switch the game's sound"
    const char* chinese;  // the same for Chinese locales
};

// Attaches a description to the hotkey with this id (as register_hotkey
// returned it; 0 is ignored). The texts must outlive the process.
void describe_hotkey(int32_t id, const HotkeyDescription& description);

// The description attached to id, or nullptr.
const HotkeyDescription* hotkey_description(int32_t id);
