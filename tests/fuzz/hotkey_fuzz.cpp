// libFuzzer target: register_hotkey and poll_hotkeys against the reference
// model (tests/hotkey_model.h), step by step. Every registration must give the
// same id and start the same timers; every tick must fire the same entries in
// the same order and the same way, and leave the table in the same state.
// A direct callback registers a hotkey in the middle of a tick.
//
// Built by the `fuzz` preset (clang): build/fuzz/hotkey_fuzzer -max_total_time=30
#include "hotkeys/hotkey_poller.h"
#include "hotkeys/hotkey_table.h"
#include "tests/hotkey_model.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using hotkey_model::Firing;

KeySnapshot keys{};            // what the next tick samples
std::vector<Firing> fired;     // what the real poller ran, in order
std::vector<int> timers;       // what the real table asked for
hotkey_model::Model* model = nullptr;

void action_a(int32_t id) { fired.push_back({id, action_a, true}); }
void action_b(int32_t id) { fired.push_back({id, action_b, true}); }

// A direct callback that registers one more hotkey while the tick runs, on
// the very key that is down: an entry appended during a tick must wait for
// the next one, even though its key is down already.
int32_t registered_key(int32_t firing_key, int32_t id) {
    return static_cast<int32_t>(virtual_key_of(firing_key)) + 256 * (1 + id % 3);
}
void action_registers(int32_t id) {
    fired.push_back({id, action_registers, true});
    const int32_t key = hotkey_table[static_cast<std::size_t>(id - HOTKEY_ID_BASE - 1)]->key;
    register_hotkey(action_a, registered_key(key, id), 0, 0, 0, false);
}

constexpr HotkeyCallback CALLBACKS[] = {nullptr, action_a, action_b, action_registers};

// Values where the arithmetic has edges: multiples of 256, the sign, the
// extremes, the modifier keys themselves, the two keys the program uses.
constexpr int32_t KEY_VALUES[] = {
    0, 1, 16, 17, 18, 65, 91, 92, 112, 113, -112, -113, 255, 256, -256, 257, -257, 368,
    -368, 512, INT32_MIN, INT32_MIN + 1, INT32_MAX, -1, -16, 65536 + 112,
};
constexpr int16_t SLOT_VALUES[] = {INT16_MIN, -1, 0, 1, INT16_MAX};
constexpr uint8_t INTERESTING_SLOTS[] = {16, 17, 18, 65, 91, 92, 112, 113, 0, 255};

int32_t pick_key(FuzzedDataProvider& in) {
    if (in.ConsumeBool())
        return in.PickValueInArray(KEY_VALUES);
    return in.ConsumeIntegral<int32_t>();
}

[[noreturn]] void mismatch(const char* what, long a, long b) {
    std::fprintf(stderr, "mismatch: %s: real %ld, model %ld\n", what, a, b);
    std::abort();
}

void compare_tables() {
    if (hotkey_table.size() != model->table.size())
        mismatch("table size", static_cast<long>(hotkey_table.size()),
                 static_cast<long>(model->table.size()));
    for (std::size_t i = 0; i < hotkey_table.size(); ++i) {
        const HotkeyEntry& r = *hotkey_table[i];
        const hotkey_model::Entry& m = model->table[i];
        if (r.id != m.id) mismatch("id", r.id, m.id);
        if (r.callback != m.callback) mismatch("callback of entry", r.id, m.id);
        if (r.key != m.key) mismatch("key", r.key, m.key);
        if (r.modifiers != m.modifiers) mismatch("modifiers", r.modifiers, m.modifiers);
        if (r.extra_key != m.extra_key) mismatch("extra_key", r.extra_key, m.extra_key);
        if (r.state != m.state) mismatch("state", r.state, m.state);
        if (r.direct != m.direct) mismatch("direct", r.direct, m.direct);
    }
    if (timers != model->timers)
        mismatch("timers started", static_cast<long>(timers.size()),
                 static_cast<long>(model->timers.size()));
}

}  // namespace

// The platform, faked.
void take_key_snapshot(KeySnapshot& snapshot) {
    for (unsigned vk = 1; vk <= 255; ++vk)
        snapshot.slot[vk] = keys.slot[vk];
}
void start_poll_timer(int interval_ms) { timers.push_back(interval_ms); }
void start_action_thread(HotkeyCallback callback, int32_t id) {
    fired.push_back({id, callback, false});
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    hotkey_model::Model reference;
    model = &reference;
    release_hotkey_table();
    keys = KeySnapshot{};
    timers.clear();

    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: {  // register
            if (hotkey_table.size() >= 64)
                break;
            const HotkeyCallback callback = in.PickValueInArray(CALLBACKS);
            const int32_t key = pick_key(in);
            const int32_t modifiers =
                in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(0, 15) : pick_key(in);
            const int32_t extra_key = in.ConsumeBool() ? 0 : pick_key(in);
            const int interval = in.ConsumeIntegralInRange<int>(-2, 60);
            const bool direct = in.ConsumeBool();
            const int32_t real_id =
                register_hotkey(callback, key, modifiers, extra_key, interval, direct);
            const int32_t model_id =
                reference.register_hotkey(callback, key, modifiers, extra_key, interval, direct);
            if (real_id != model_id)
                mismatch("register_hotkey id", real_id, model_id);
            compare_tables();
            break;
        }
        case 1:    // one key changes
        case 2: {
            const unsigned vk = in.ConsumeBool() ? in.PickValueInArray(INTERESTING_SLOTS)
                                                 : in.ConsumeIntegral<uint8_t>();
            if (vk != 0)
                keys.slot[vk] = in.PickValueInArray(SLOT_VALUES);
            break;
        }
        case 3: {  // one tick
            fired.clear();
            poll_hotkeys();
            hotkey_model::Snapshot snapshot{};
            std::memcpy(snapshot.data(), keys.slot, sizeof keys.slot);
            snapshot[0] = 0;
            snapshot[256] = 0;
            std::vector<Firing> expected = reference.tick(snapshot, [&](const Firing& f) {
                if (f.callback == action_registers) {
                    const int32_t key = reference.table[static_cast<std::size_t>(f.id - 1000001)].key;
                    reference.register_hotkey(action_a, registered_key(key, f.id), 0, 0, 0, false);
                }
            });
            // An entry without a callback is consumed but runs nothing.
            std::vector<Firing> runs;
            for (const Firing& f : expected)
                if (f.callback != nullptr)
                    runs.push_back(f);
            if (!(fired == runs))
                mismatch("firings in one tick", static_cast<long>(fired.size()),
                         static_cast<long>(runs.size()));
            compare_tables();
            break;
        }
        }
    }
    return 0;
}
