#include "hotkey_poller.h"

#include <cstddef>

int32_t held_modifiers(const KeySnapshot& snapshot) {
    int32_t held = 0;
    if (snapshot.slot[VK_ALT_KEY] < 0) held |= MODIFIER_ALT;
    if (snapshot.slot[VK_CONTROL_KEY] < 0) held |= MODIFIER_CTRL;
    if (snapshot.slot[VK_SHIFT_KEY] < 0) held |= MODIFIER_SHIFT;
    if (snapshot.slot[VK_LEFT_WIN_KEY] < 0) held |= MODIFIER_LEFT_WIN;
    return held;
}

namespace {

void fire_check(HotkeyEntry& entry, const KeySnapshot& snapshot) {
    if (entry.state == FIRE_IDLE || entry.state == FIRE_FIRED)
        return;
    // Consumed for this press even if the checks below fail.
    entry.state = FIRE_FIRED;
    if (held_modifiers(snapshot) != entry.modifiers)
        return;
    if (entry.extra_key != 0) {
        // An extra key whose magnitude is a multiple of 256 names no key and
        // can never be held, so such an entry never fires.
        const unsigned x = virtual_key_of(entry.extra_key);
        if (x == 0 || snapshot.slot[x] >= 0)
            return;
    }
    if (entry.callback == nullptr)
        return;  // registered without an action: consumed, nothing to run
    if (entry.direct)
        entry.callback(entry.id);
    else
        start_action_thread(entry.callback, entry.id);
}

}  // namespace

void poll_hotkeys() {
    KeySnapshot snapshot{};
    take_key_snapshot(snapshot);

    // Entries that a direct callback appends during this tick wait for the
    // next one. Entries never move, but the table's storage may, so each one
    // is looked up afresh.
    const std::size_t n = hotkey_table.size();
    for (std::size_t j = 0; j < n; ++j) {
        HotkeyEntry& entry = *hotkey_table[j];
        const int16_t s = snapshot.slot[virtual_key_of(entry.key)];
        if (s == 0) {
            if (entry.state == FIRE_DOWN) {
                entry.state = FIRE_RELEASE_PENDING;
                fire_check(entry, snapshot);
            } else {
                entry.state = FIRE_IDLE;
            }
        } else if (s < 0) {
            if (entry.state == FIRE_IDLE)
                entry.state = FIRE_DOWN;
            if (entry.key >= 0)
                fire_check(entry, snapshot);
        } else {
            fire_check(entry, snapshot);
        }
    }
}
