// A reference model of the hotkey table and the poller, kept small enough to
// be checked by eye against the rules they follow: the registration steps,
// the per-tick transition table and the fire check. It shares no code with
// hotkeys/, so a test can run both side by side and compare them.
//
// Header only, with no test framework in it, so that any test target (the
// unit tests, a fuzzer) can include it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace hotkey_model {

using Callback = void (*)(int32_t id);

enum State : uint8_t { IDLE = 0, DOWN = 1, RELEASE_PENDING = 2, FIRED = 88 };

struct Entry {
    int32_t id;
    Callback callback;
    int32_t key;
    int32_t modifiers;
    int32_t extra_key;
    uint8_t state;
    bool direct;
};

struct Firing {
    int32_t id;
    Callback callback;
    bool direct;
    bool operator==(const Firing& o) const {
        return id == o.id && callback == o.callback && direct == o.direct;
    }
};

// Slot vk holds the reading of virtual key vk: < 0 down now, 0 up, > 0 up
// but pressed since the previous sample. Slots 0 and 256 are never keys.
using Snapshot = std::array<int16_t, 257>;

// The slot a key value samples: its magnitude modulo 256.
inline int slot_of(int32_t value) {
    const int64_t magnitude = value < 0 ? -int64_t{value} : int64_t{value};
    return static_cast<int>(magnitude % 256);
}

inline bool held(const Snapshot& keys, int vk) { return keys[vk] < 0; }

// Alt 1, Ctrl 2, Shift 4, left Windows key 8; nothing else counts.
inline int32_t held_modifiers(const Snapshot& keys) {
    return (held(keys, 18) ? 1 : 0) | (held(keys, 17) ? 2 : 0) | (held(keys, 16) ? 4 : 0) |
           (held(keys, 91) ? 8 : 0);
}

struct Step {
    uint8_t to;
    bool fire_check;
};

// The transition table, row by row. A press-firing entry never rests in DOWN
// between ticks; should one be there and see its key down, the tick's rule
// for a down key (run the fire check unless release-firing) applies.
inline Step transition(uint8_t from, int16_t s, int32_t key) {
    const bool release_firing = key < 0;
    switch (from) {
    case IDLE:
        if (s == 0) return {IDLE, false};
        if (s < 0) return release_firing ? Step{DOWN, false} : Step{FIRED, true};
        return {IDLE, false};
    case DOWN:
        if (s == 0) return {FIRED, true};  // through RELEASE_PENDING
        if (s < 0) return release_firing ? Step{DOWN, false} : Step{FIRED, true};
        return {FIRED, true};
    default:  // FIRED
        if (s == 0) return {IDLE, false};
        return {FIRED, false};
    }
}

// Whether a consumed press actually runs the callback. An extra key that
// names no key (a multiple of 256) can never be held.
inline bool combination_held(const Entry& e, const Snapshot& keys) {
    if (held_modifiers(keys) != e.modifiers) return false;
    if (e.extra_key == 0) return true;
    const int x = slot_of(e.extra_key);
    return x != 0 && held(keys, x);
}

struct Model {
    std::vector<Entry> table;
    std::vector<int> timers;  // period of each poll timer started

    int32_t register_hotkey(Callback callback, int32_t key, int32_t modifiers, int32_t extra_key,
                            int interval_ms, bool direct) {
        if (slot_of(key) == 0) return 0;
        for (Entry& e : table) {
            if (e.key == key && e.modifiers == modifiers && e.extra_key == extra_key) {
                e.callback = callback;
                e.direct = direct;
                return e.id;
            }
        }
        const int32_t id = 1000000 + static_cast<int32_t>(table.size()) + 1;
        table.push_back({id, callback, key, modifiers, extra_key, IDLE, direct});
        if (id == 1000001) timers.push_back(interval_ms > 0 ? interval_ms : 10);
        return id;
    }

    // One tick. Returns who fired, in order. run_direct stands for a direct
    // call: it runs while the tick is under way and may register hotkeys.
    std::vector<Firing> tick(const Snapshot& keys,
                             const std::function<void(const Firing&)>& run_direct) {
        std::vector<Firing> fired;
        const std::size_t n = table.size();
        for (std::size_t j = 0; j < n; ++j) {
            Entry& e = table[j];
            const Step step = transition(e.state, keys[slot_of(e.key)], e.key);
            e.state = step.to;
            if (!step.fire_check || !combination_held(e, keys)) continue;
            const Firing firing{e.id, e.callback, e.direct};  // e may move below
            fired.push_back(firing);
            if (firing.direct) run_direct(firing);
        }
        return fired;
    }
};

}  // namespace hotkey_model
