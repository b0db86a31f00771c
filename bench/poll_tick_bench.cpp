// Drives poll_hotkeys over a fake key snapshot, for instruction counts under
// callgrind:
//   valgrind --tool=callgrind --toggle-collect=poll_hotkeys* poll_tick_bench ENTRIES TICKS
// The snapshot holds F1 down every other tick, so the entries on F1 walk the
// whole Idle -> Fired -> Idle cycle and fire (into a counter, directly).
#include "hotkeys/hotkey_poller.h"
#include "hotkeys/hotkey_table.h"

#include <cstdio>
#include <cstdlib>

namespace {

unsigned long fired = 0;
unsigned long tick = 0;

void count_firing(int32_t) { ++fired; }

}  // namespace

// The platform, faked: the snapshot costs as little as possible so that the
// count is the core's own.
void take_key_snapshot(KeySnapshot& snapshot) {
    if (tick % 2 == 0)
        snapshot.slot[VK_F1_KEY] = INT16_MIN;
}
void start_poll_timer(int) {}
void start_action_thread(HotkeyCallback callback, int32_t id) { callback(id); }

int main(int argc, char** argv) {
    const int entries = argc > 1 ? std::atoi(argv[1]) : 2;
    const unsigned long ticks = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 10000;
    // The program's own two (F1, F2), then more on other keys and modifiers.
    for (int i = 0; i < entries; ++i) {
        const int32_t key = 112 + i % 12;                 // F1..F12
        const int32_t modifiers = (i / 12) % 16;          // every ModifierMask
        const int32_t extra = i / (12 * 16) == 0 ? 0 : 65 + i / (12 * 16);
        register_hotkey(count_firing, key, modifiers, extra, 0, false);
    }
    for (tick = 0; tick < ticks; ++tick)
        poll_hotkeys();
    std::printf("entries %zu ticks %lu fired %lu\n", hotkey_table.size(), ticks, fired);
    return 0;
}
