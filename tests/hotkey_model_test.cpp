// The real table and poller against the reference model in hotkey_model.h,
// over random registrations and random key histories.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "hotkey_model.h"

namespace {

namespace model = hotkey_model;

// Direct calls, with how many thread starts the platform had seen before each,
// so that the two calling forms can be put back into one order.
struct DirectCall {
    int32_t id;
    HotkeyCallback callback;
    std::size_t threads_before;
};
std::vector<DirectCall> direct_calls;

struct Registration {
    HotkeyCallback callback;
    int32_t key;
    int32_t modifiers;
    int32_t extra_key;
    int interval_ms;
    bool direct;
};

// What registering_action registers on its k-th direct call, while the table
// is below TABLE_LIMIT. The model follows the same plan.
constexpr std::size_t TABLE_LIMIT = 40;
std::vector<Registration> plan;
std::size_t real_plan_next = 0;
std::vector<int32_t> real_plan_ids;

void log_call(HotkeyCallback callback, int32_t id) {
    direct_calls.push_back({id, callback, fake.threads_started.size()});
}
void action_a(int32_t id) { log_call(action_a, id); }
void action_b(int32_t id) { log_call(action_b, id); }
void registering_action(int32_t id) {
    log_call(registering_action, id);
    if (hotkey_table.size() >= TABLE_LIMIT) return;
    const Registration& r = plan[real_plan_next++ % plan.size()];
    real_plan_ids.push_back(
        register_hotkey(r.callback, r.key, r.modifiers, r.extra_key, r.interval_ms, r.direct));
}

const HotkeyCallback CALLBACKS[] = {action_a, action_b, registering_action};

// Plain modulo on the generator's output: the same sequence on every
// standard library, unlike the std distributions.
struct Dice {
    std::mt19937 rng;
    explicit Dice(uint32_t seed) : rng(seed) {}
    uint32_t bits() { return rng(); }
    int32_t any() { return static_cast<int32_t>(bits()); }
    uint32_t below(uint32_t n) { return bits() % n; }
    bool chance(uint32_t percent) { return below(100) < percent; }
    template <typename T, std::size_t N> T pick(const T (&items)[N]) { return items[below(N)]; }
    template <typename T> T pick(const std::vector<T>& items) { return items[below(items.size())]; }
};

const unsigned MODIFIER_KEYS[] = {16, 17, 18, 91, 92};

// A key value that samples one of the keys in use, as either edge, sometimes
// with a multiple of 256 on top.
int32_t key_in_use(Dice& d, const std::vector<unsigned>& keys) {
    int64_t value = d.pick(keys);
    if (d.chance(15)) value += 256 * (1 + int64_t{d.below(8388607)});  // at most INT_MAX
    if (d.chance(40)) value = -value;
    return static_cast<int32_t>(value);
}

int32_t multiple_of_256(Dice& d) {
    const int32_t values[] = {0, 256, -256, -512, INT_MIN, 256 * static_cast<int32_t>(d.below(8388608))};
    return d.pick(values);
}

int32_t random_key(Dice& d, const std::vector<unsigned>& keys) {
    const uint32_t r = d.below(100);
    if (r < 5) return multiple_of_256(d);  // refused
    if (r < 10) return d.any();
    return key_in_use(d, keys);
}

int32_t random_modifiers(Dice& d) {
    const uint32_t r = d.below(100);
    if (r < 50) return 0;
    if (r < 70) return 1 << d.below(4);
    if (r < 92) return static_cast<int32_t>(d.below(16));
    return d.any();
}

int32_t random_extra_key(Dice& d, const std::vector<unsigned>& keys) {
    const uint32_t r = d.below(100);
    if (r < 55) return 0;
    if (r < 87) return key_in_use(d, keys);
    if (r < 94) return multiple_of_256(d);
    return d.any();
}

Registration random_registration(Dice& d, const std::vector<unsigned>& keys,
                                 const model::Model& m) {
    const int intervals[] = {-5, 0, 0, 1, 50, INT_MIN};
    Registration r{d.pick(CALLBACKS), 0, 0, 0, d.pick(intervals), d.chance(50)};
    if (!m.table.empty() && d.chance(20)) {  // the same combination again
        const model::Entry& e = d.pick(m.table);
        r.key = e.key;
        r.modifiers = e.modifiers;
        r.extra_key = e.extra_key;
    } else {
        r.key = random_key(d, keys);
        r.modifiers = random_modifiers(d);
        r.extra_key = random_extra_key(d, keys);
    }
    return r;
}

int16_t random_reading(Dice& d) {
    const uint32_t r = d.below(100);
    if (r < 45) {
        const int16_t down[] = {INT16_MIN, -1, static_cast<int16_t>(-1 - int(d.below(32767)))};
        return d.pick(down);
    }
    if (r < 85) return 0;
    return static_cast<int16_t>(1 + d.below(32767));
}

// Mostly the keys in use change, a few at a time, so that keys stay held over
// several ticks; now and then some other key does.
void next_keys(Dice& d, const std::vector<unsigned>& keys, model::Snapshot& snapshot) {
    if (d.chance(3)) snapshot.fill(0);
    for (const unsigned vk : keys)
        if (d.chance(30)) snapshot[vk] = random_reading(d);
    if (d.chance(10)) snapshot[1 + d.below(255)] = random_reading(d);
}

std::vector<unsigned> random_keys_in_use(Dice& d) {
    const unsigned candidates[] = {16, 17, 18, 91, 92, 112, 113, 65, 1, 255};
    std::vector<unsigned> keys(std::begin(MODIFIER_KEYS), std::end(MODIFIER_KEYS));
    for (int i = 0; i < 3; ++i) keys.push_back(d.pick(candidates));
    keys.push_back(1 + d.below(255));
    return keys;
}

// The real firings of one tick in the order they happened.
std::vector<model::Firing> real_firings(std::size_t threads_before) {
    std::vector<model::Firing> fired;
    std::size_t t = threads_before;
    const auto thread_firing = [](const ActionCall& c) { return model::Firing{c.id, c.callback, false}; };
    for (const DirectCall& call : direct_calls) {
        while (t < call.threads_before) fired.push_back(thread_firing(fake.threads_started[t++]));
        fired.push_back({call.id, call.callback, true});
    }
    while (t < fake.threads_started.size()) fired.push_back(thread_firing(fake.threads_started[t++]));
    return fired;
}

std::string describe(const std::vector<model::Firing>& firings) {
    std::ostringstream out;
    for (const model::Firing& f : firings)
        out << f.id << (f.direct ? "/direct " : "/thread ");
    return out.str();
}

// The first difference between the model's table and the real one, or "".
std::string table_difference(const model::Model& m) {
    std::ostringstream out;
    if (m.table.size() != hotkey_table.size()) {
        out << "table size " << hotkey_table.size() << ", model " << m.table.size();
        return out.str();
    }
    for (std::size_t i = 0; i < m.table.size(); ++i) {
        const model::Entry& e = m.table[i];
        const HotkeyEntry& r = *hotkey_table[i];
        if (e.id != r.id || e.callback != r.callback || e.key != r.key ||
            e.modifiers != r.modifiers || e.extra_key != r.extra_key || e.direct != r.direct ||
            e.state != r.state) {
            out << "entry " << i + 1 << ": id " << r.id << " key " << r.key << " modifiers "
                << r.modifiers << " extra " << r.extra_key << " direct " << r.direct << " state "
                << int(r.state) << "; model id " << e.id << " key " << e.key << " modifiers "
                << e.modifiers << " extra " << e.extra_key << " direct " << e.direct
                << " state " << int(e.state);
            return out.str();
        }
    }
    if (m.timers != fake.timers_started) return "timers differ";
    return "";
}

uint32_t seed_to_use() {
    if (const char* s = std::getenv("VELLMIR_HOTKEY_MODEL_SEED"))
        return static_cast<uint32_t>(std::strtoul(s, nullptr, 0));
    return 0x5eed2b1u;
}

}  // namespace

TEST(HotkeyModelTest, RealPollerMatchesTheModelOverRandomHistories) {
    const uint32_t seed = seed_to_use();
    SCOPED_TRACE("seed " + std::to_string(seed) + " (set VELLMIR_HOTKEY_MODEL_SEED to rerun)");
    Dice d(seed);
    constexpr int EPISODES = 400;
    constexpr int TICKS = 60;

    for (int episode = 0; episode < EPISODES; ++episode) {
        reset_fake_platform();
        direct_calls.clear();
        model::Model m;
        const std::vector<unsigned> keys = random_keys_in_use(d);
        plan.clear();
        for (int i = 0; i < 8; ++i) plan.push_back(random_registration(d, keys, m));
        real_plan_next = 0;
        real_plan_ids.clear();
        std::size_t model_plan_next = 0;
        std::vector<int32_t> model_plan_ids;
        const auto run_direct = [&](const model::Firing& f) {
            if (f.callback != registering_action || m.table.size() >= TABLE_LIMIT) return;
            const Registration& r = plan[model_plan_next++ % plan.size()];
            model_plan_ids.push_back(
                m.register_hotkey(r.callback, r.key, r.modifiers, r.extra_key, r.interval_ms, r.direct));
        };

        model::Snapshot snapshot{};
        const uint32_t first_registrations = 1 + d.below(6);
        for (int tick = 0; tick < TICKS; ++tick) {
            const std::string where =
                "episode " + std::to_string(episode) + ", tick " + std::to_string(tick);
            if (tick == 0 || d.chance(4)) {
                for (uint32_t i = 0; i < (tick == 0 ? first_registrations : 1); ++i) {
                    const Registration r = random_registration(d, keys, m);
                    const int32_t expected = m.register_hotkey(r.callback, r.key, r.modifiers,
                                                               r.extra_key, r.interval_ms, r.direct);
                    ASSERT_EQ(register_hotkey(r.callback, r.key, r.modifiers, r.extra_key,
                                              r.interval_ms, r.direct),
                              expected)
                        << where << ", key " << r.key;
                }
            }

            next_keys(d, keys, snapshot);
            const std::vector<model::Firing> expected = m.tick(snapshot, run_direct);

            fake.keys = KeySnapshot{};
            for (unsigned vk = 1; vk <= 255; ++vk) fake.keys.slot[vk] = snapshot[vk];
            const std::size_t threads_before = fake.threads_started.size();
            direct_calls.clear();
            poll_hotkeys();

            ASSERT_EQ(describe(real_firings(threads_before)), describe(expected)) << where;
            ASSERT_TRUE(real_firings(threads_before) == expected) << where << ": callbacks differ";
            ASSERT_EQ(table_difference(m), "") << where;
            ASSERT_EQ(real_plan_ids, model_plan_ids) << where;
            ASSERT_EQ(fake.snapshots_taken, tick + 1) << where;
        }
    }
}
