#include "hotkeys/hotkey_table.h"

#include <gtest/gtest.h>

#include <climits>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "fake_platform.h"

namespace {

void action_a(int32_t) {}
void action_b(int32_t) {}

class HotkeyTableTest : public ::testing::Test {
protected:
    void SetUp() override { reset_fake_platform(); }
    void TearDown() override { reset_fake_platform(); }
};

}  // namespace

TEST_F(HotkeyTableTest, IdsCountFromTheBaseAndOnlyTheFirstEntryStartsTheTimer) {
    EXPECT_EQ(register_hotkey(action_a, 112), 1000001);
    EXPECT_EQ(fake.timers_started, std::vector<int>{10});
    EXPECT_EQ(register_hotkey(action_b, 113, 2, 65, 50, true), 1000002);
    EXPECT_EQ(fake.timers_started, std::vector<int>{10});

    ASSERT_EQ(hotkey_table.size(), 2u);
    const HotkeyEntry& f2 = *hotkey_table[1];
    EXPECT_EQ(f2.id, 1000002);
    EXPECT_EQ(f2.callback, &action_b);
    EXPECT_EQ(f2.key, 113);
    EXPECT_EQ(f2.modifiers, 2);
    EXPECT_EQ(f2.extra_key, 65);
    EXPECT_EQ(f2.state, FIRE_IDLE);
    EXPECT_TRUE(f2.direct);
}

TEST_F(HotkeyTableTest, RegisteringTheSameCombinationAgainReplacesOnlyCallbackAndDirect) {
    register_hotkey(action_a, 112);
    register_hotkey(action_a, 113);
    HotkeyEntry* const f1 = hotkey_table[0].get();
    f1->state = FIRE_FIRED;

    EXPECT_EQ(register_hotkey(action_b, 112, 0, 0, 50, true), 1000001);
    ASSERT_EQ(hotkey_table.size(), 2u);
    EXPECT_EQ(hotkey_table[0].get(), f1);
    EXPECT_EQ(f1->id, 1000001);
    EXPECT_EQ(f1->callback, &action_b);
    EXPECT_TRUE(f1->direct);
    EXPECT_EQ(f1->key, 112);
    EXPECT_EQ(f1->modifiers, 0);
    EXPECT_EQ(f1->extra_key, 0);
    EXPECT_EQ(f1->state, FIRE_FIRED);
    EXPECT_EQ(hotkey_table[1]->callback, &action_a);
    EXPECT_EQ(fake.timers_started, std::vector<int>{10});

    // And back: direct is taken as given each time, not merged.
    EXPECT_EQ(register_hotkey(action_a, 112), 1000001);
    EXPECT_EQ(f1->callback, &action_a);
    EXPECT_FALSE(f1->direct);
}

// Combinations that differ in any of the three values as passed are separate
// entries, even when they sample the same key.
TEST_F(HotkeyTableTest, CombinationsAreComparedAsPassed) {
    struct Combo { int32_t key, modifiers, extra_key; };
    const Combo combos[] = {
        {112, 0, 0}, {-112, 0, 0}, {368, 0, 0}, {112, 2, 0}, {112, 0, 65},
        {112, 0, -65}, {112, 0, 321}, {-368, 2, 65}, {INT_MAX, 0, 0}, {-INT_MAX, 0, 0},
        {112, -1, 0}, {112, 0, INT_MIN},
    };
    int32_t expected = 1000001;
    for (const Combo& c : combos)
        EXPECT_EQ(register_hotkey(action_a, c.key, c.modifiers, c.extra_key), expected++) << c.key;
    expected = 1000001;
    for (const Combo& c : combos)
        EXPECT_EQ(register_hotkey(action_b, c.key, c.modifiers, c.extra_key), expected++) << c.key;
    EXPECT_EQ(hotkey_table.size(), std::size(combos));
    EXPECT_EQ(fake.timers_started, std::vector<int>{10});
}

class RefusedKeyTest : public HotkeyTableTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(RefusedKeyTest, ReturnsZeroAndTouchesNothing) {
    const int32_t key = GetParam();
    EXPECT_EQ(register_hotkey(action_a, key, 0, 0, 50), 0);
    EXPECT_TRUE(hotkey_table.empty());
    EXPECT_TRUE(fake.timers_started.empty());

    // The next good call still makes the first entry and starts the timer.
    EXPECT_EQ(register_hotkey(action_a, 112), 1000001);
    EXPECT_EQ(fake.timers_started, std::vector<int>{10});

    EXPECT_EQ(register_hotkey(action_b, key, 0, 0, 50, true), 0);
    ASSERT_EQ(hotkey_table.size(), 1u);
    EXPECT_EQ(hotkey_table[0]->callback, &action_a);
    EXPECT_EQ(fake.timers_started, std::vector<int>{10});
}

INSTANTIATE_TEST_SUITE_P(MultiplesOf256, RefusedKeyTest,
                         ::testing::Values(0, 256, -256, -512, 512 * 1024, INT_MIN));

struct IntervalCase {
    const char* name;
    std::vector<std::pair<int32_t, int>> calls;  // (key, interval_ms) in order
    int period;
};

void PrintTo(const IntervalCase& c, std::ostream* os) { *os << c.name; }

class PollIntervalTest : public HotkeyTableTest,
                         public ::testing::WithParamInterface<IntervalCase> {};

TEST_P(PollIntervalTest, TakenFromTheFirstSuccessfulRegistrationOnly) {
    for (const auto& [key, interval] : GetParam().calls)
        register_hotkey(action_a, key, 0, 0, interval);
    EXPECT_EQ(fake.timers_started, std::vector<int>{GetParam().period});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PollIntervalTest,
    ::testing::Values(
        IntervalCase{"Given", {{112, 50}}, 50},
        IntervalCase{"ZeroMeansDefault", {{112, 0}}, 10},
        IntervalCase{"NegativeMeansDefault", {{112, -5}}, 10},
        IntervalCase{"MostNegativeMeansDefault", {{112, INT_MIN}}, 10},
        IntervalCase{"OneMillisecond", {{112, 1}}, 1},
        IntervalCase{"LaterValueIgnored", {{112, 0}, {113, 50}}, 10},
        IntervalCase{"SameLaterValueChangesNothing", {{112, 50}, {113, 50}}, 50},
        IntervalCase{"ReplacementIgnoresIt", {{112, 50}, {112, 20}}, 50},
        IntervalCase{"RefusedCallDoesNotCount", {{256, 50}, {112, 0}}, 10},
        IntervalCase{"RefusedCallBeforeAGoodOne", {{0, 0}, {112, 50}}, 50}),
    [](const auto& info) { return std::string(info.param.name); });
