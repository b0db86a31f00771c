#include "hotkey_table.h"

std::vector<std::unique_ptr<HotkeyEntry>> hotkey_table;

int32_t register_hotkey(HotkeyCallback callback, int32_t key, int32_t modifiers,
                        int32_t extra_key, int interval_ms, bool direct) {
    if (virtual_key_of(key) == 0)
        return 0;

    // Same key values as given (not normalised): update in place.
    for (const auto& entry : hotkey_table) {
        if (entry->key == key && entry->modifiers == modifiers && entry->extra_key == extra_key) {
            entry->callback = callback;
            entry->direct = direct;
            return entry->id;
        }
    }

    // The table cannot realistically reach two thousand million entries; the
    // id is computed in 64 bits so that it could not overflow regardless.
    const int64_t id64 = static_cast<int64_t>(hotkey_table.size()) + 1 + HOTKEY_ID_BASE;
    const auto id = static_cast<int32_t>(id64);
    hotkey_table.push_back(std::make_unique<HotkeyEntry>(
        HotkeyEntry{id, callback, key, modifiers, extra_key, FIRE_IDLE, direct}));

    if (id == HOTKEY_ID_BASE + 1)
        start_poll_timer(interval_ms > 0 ? interval_ms : DEFAULT_POLL_INTERVAL_MS);
    return id;
}

void release_hotkey_table() {
    hotkey_table.clear();
    hotkey_table.shrink_to_fit();
}
