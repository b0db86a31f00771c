#include "hotkeys/hotkey_poller.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <thread>
#include <vector>

#include "fake_platform.h"

namespace {

std::vector<int32_t> direct_calls;
std::thread::id direct_call_thread;

void record_direct_call(int32_t id) {
    direct_calls.push_back(id);
    direct_call_thread = std::this_thread::get_id();
}

// Registered in thread form only: the fake records it and never runs it.
void never_run(int32_t) { ADD_FAILURE() << "a thread-form callback ran on the polling thread"; }

class HotkeyPollerTest : public ::testing::Test {
protected:
    void SetUp() override {
        reset_fake_platform();
        direct_calls.clear();
    }
    void TearDown() override { reset_fake_platform(); }
};

// ---------------------------------------------------------------------------
// One entry, its state set by hand, one tick.

enum Reading { UP, DOWN, TAPPED };

struct TransitionCase {
    uint8_t from;
    Reading sample;
    int sign;  // of key: +1 fires on the way down, -1 on the way up
    uint8_t to;
    bool fires;
};

std::string state_name(uint8_t state) {
    switch (state) {
    case FIRE_IDLE: return "Idle";
    case FIRE_DOWN: return "Down";
    case FIRE_RELEASE_PENDING: return "ReleasePending";
    case FIRE_FIRED: return "Fired";
    }
    return std::to_string(state);
}

std::string transition_name(const ::testing::TestParamInfo<TransitionCase>& info) {
    static const char* const readings[] = {"Up", "Down", "Tapped"};
    const TransitionCase& c = info.param;
    return state_name(c.from) + readings[c.sample] + (c.sign > 0 ? "Press" : "Release") + "To" +
           state_name(c.to) + (c.fires ? "Fires" : "");
}

void PrintTo(const TransitionCase& c, std::ostream* os) {
    *os << state_name(c.from) << " reading " << c.sample << " key sign " << c.sign;
}

class TransitionTest : public HotkeyPollerTest,
                       public ::testing::WithParamInterface<TransitionCase> {};

TEST_P(TransitionTest, OneTick) {
    const TransitionCase c = GetParam();
    // Each reading at both ends of its range.
    const std::vector<int16_t> values = c.sample == UP     ? std::vector<int16_t>{0}
                                        : c.sample == DOWN ? std::vector<int16_t>{INT16_MIN, -1}
                                                           : std::vector<int16_t>{1, INT16_MAX};
    for (const int16_t value : values) {
        SCOPED_TRACE(value);
        reset_fake_platform();
        register_hotkey(never_run, c.sign * 112);
        hotkey_table[0]->state = c.from;
        fake.keys.slot[112] = value;
        poll_hotkeys();
        EXPECT_EQ(state_name(hotkey_table[0]->state), state_name(c.to));
        EXPECT_EQ(fake.threads_started.size(), c.fires ? 1u : 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, TransitionTest,
    ::testing::Values(
        TransitionCase{FIRE_IDLE, UP, +1, FIRE_IDLE, false},
        TransitionCase{FIRE_IDLE, UP, -1, FIRE_IDLE, false},
        TransitionCase{FIRE_IDLE, DOWN, -1, FIRE_DOWN, false},
        TransitionCase{FIRE_IDLE, DOWN, +1, FIRE_FIRED, true},
        TransitionCase{FIRE_IDLE, TAPPED, +1, FIRE_IDLE, false},
        TransitionCase{FIRE_IDLE, TAPPED, -1, FIRE_IDLE, false},
        TransitionCase{FIRE_DOWN, UP, -1, FIRE_FIRED, true},
        TransitionCase{FIRE_DOWN, UP, +1, FIRE_FIRED, true},
        TransitionCase{FIRE_DOWN, DOWN, -1, FIRE_DOWN, false},
        TransitionCase{FIRE_DOWN, TAPPED, -1, FIRE_FIRED, true},
        TransitionCase{FIRE_DOWN, TAPPED, +1, FIRE_FIRED, true},
        TransitionCase{FIRE_FIRED, UP, +1, FIRE_IDLE, false},
        TransitionCase{FIRE_FIRED, UP, -1, FIRE_IDLE, false},
        TransitionCase{FIRE_FIRED, DOWN, +1, FIRE_FIRED, false},
        TransitionCase{FIRE_FIRED, DOWN, -1, FIRE_FIRED, false},
        TransitionCase{FIRE_FIRED, TAPPED, +1, FIRE_FIRED, false},
        TransitionCase{FIRE_FIRED, TAPPED, -1, FIRE_FIRED, false}),
    transition_name);

// The checks after a transition consume the press even when they fail: an
// entry whose modifiers do not match still ends up Fired.
TEST_F(HotkeyPollerTest, FailedChecksStillConsumeThePress) {
    register_hotkey(never_run, 112, MODIFIER_CTRL);
    register_hotkey(never_run, -113, 0, 65);
    hotkey_table[1]->state = FIRE_DOWN;
    key_down(112);
    poll_hotkeys();
    EXPECT_EQ(hotkey_table[0]->state, FIRE_FIRED);
    EXPECT_EQ(hotkey_table[1]->state, FIRE_FIRED);
    EXPECT_TRUE(fake.threads_started.empty());
}

// ---------------------------------------------------------------------------
// One entry over a sequence of ticks. Every key not listed in a tick is up.

struct Slot {
    unsigned vk;
    int16_t value;
};
Slot down(unsigned vk) { return {vk, INT16_MIN}; }
Slot tapped(unsigned vk) { return {vk, 1}; }
const Slot EVERY_KEY_DOWN{0, INT16_MIN};
using Tick = std::vector<Slot>;

struct Scenario {
    const char* name;
    int32_t key;
    int32_t modifiers;
    int32_t extra_key;
    std::vector<Tick> ticks;
    const char* fires;  // per tick: 'F' fired, '.' did not
};

void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

class ScenarioTest : public HotkeyPollerTest, public ::testing::WithParamInterface<Scenario> {};

TEST_P(ScenarioTest, FiresOnTheExpectedTicks) {
    const Scenario& s = GetParam();
    ASSERT_NE(register_hotkey(never_run, s.key, s.modifiers, s.extra_key), 0);
    std::string fired;
    for (const Tick& tick : s.ticks) {
        fake.keys = KeySnapshot{};
        for (const Slot& slot : tick) {
            if (slot.vk == 0) {
                for (unsigned vk = 1; vk <= 255; ++vk) fake.keys.slot[vk] = slot.value;
            } else {
                fake.keys.slot[slot.vk] = slot.value;
            }
        }
        const std::size_t before = fake.threads_started.size();
        poll_hotkeys();
        fired += fake.threads_started.size() == before ? '.' : 'F';
    }
    EXPECT_EQ(fired, s.fires);
    for (const ActionCall& call : fake.threads_started) {
        EXPECT_EQ(call.callback, &never_run);
        EXPECT_EQ(call.id, 1000001);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, ScenarioTest,
    ::testing::Values(
        Scenario{"HoldingFiresOnceReleaseAndPressFiresAgain", 112, 0, 0,
                 {{down(112)}, {down(112)}, {down(112)}, {down(112)}, {}, {down(112)}, {down(112)}, {}},
                 "F....F.."},
        Scenario{"PressAndReleaseBetweenSamplesIsNotSeen", 112, 0, 0,
                 {{tapped(112)}, {}, {tapped(112)}, {tapped(112)}}, "...."},
        Scenario{"ShiftHeldAsF1GoesDownNeverFiresEvenAfterShiftIsReleased", 112, 0, 0,
                 {{down(16), down(112)}, {down(112)}, {down(112)}, {}, {down(112)}}, "....F"},
        Scenario{"CtrlF1WantsExactlyCtrl", 112, MODIFIER_CTRL, 0,
                 {{down(17), down(112)}, {}, {down(17), down(16), down(112)}, {}, {down(112)}, {},
                  {down(17), down(112)}},
                 "F.....F"},
        Scenario{"AllFourModifiers", 112, MODIFIER_ALT | MODIFIER_CTRL | MODIFIER_SHIFT | MODIFIER_LEFT_WIN, 0,
                 {{down(18), down(17), down(16), down(112)}, {},
                  {down(18), down(17), down(16), down(91), down(112)}},
                 "..F"},
        Scenario{"RightWindowsKeyDoesNotSatisfyTheWindowsBit", 112, MODIFIER_LEFT_WIN, 0,
                 {{down(92), down(112)}, {}, {down(91), down(112)}}, "..F"},
        Scenario{"RightWindowsKeyHeldDoesNotBlock", 112, 0, 0, {{down(92), down(112)}}, "F"},
        Scenario{"ATappedModifierIsNotHeld", 112, MODIFIER_SHIFT, 0,
                 {{tapped(16), down(112)}, {}, {down(16), down(112)}}, "..F"},
        Scenario{"ShiftAsMainKeyWithoutItsBitNeverFires", 16, 0, 0,
                 {{down(16)}, {}, {down(16)}, {down(16)}, {}}, "....."},
        Scenario{"ShiftAsMainKeyWithItsBitFires", 16, MODIFIER_SHIFT, 0, {{down(16)}, {}, {down(16)}},
                 "F.F"},
        Scenario{"LeftWindowsKeyAsMainKeyWithItsBitFires", 91, MODIFIER_LEFT_WIN, 0, {{down(91)}}, "F"},
        Scenario{"ReleaseFiringFiresOnTheWayUp", -112, 0, 0,
                 {{down(112)}, {down(112)}, {}, {}, {down(112)}, {}}, "..F..F"},
        Scenario{"ReleaseFiringWantsTheModifiersWhenTheKeyComesUp", -112, MODIFIER_CTRL, 0,
                 {{down(17), down(112)}, {down(17)}, {}, {down(112)}, {}, {}, {down(112)}, {down(17)}},
                 ".F.....F"},
        Scenario{"ExtraKeyHeldBeforeTheMainKey", 112, 0, 65, {{down(65)}, {down(65), down(112)}},
                 ".F"},
        Scenario{"ExtraKeyDownOnTheSameTick", 112, 0, 65, {{down(65), down(112)}}, "F"},
        Scenario{"ExtraKeyAfterTheMainKeyIsTooLate", 112, 0, 65,
                 {{down(112)}, {down(65), down(112)}, {}, {down(65)}, {down(65), down(112)}},
                 "....F"},
        Scenario{"ExtraKeyTappedIsNotHeld", 112, 0, 65, {{tapped(65), down(112)}}, "."},
        Scenario{"NegativeExtraKeySamplesItsMagnitude", 112, 0, -65, {{down(65), down(112)}}, "F"},
        Scenario{"ExtraKeySamplesModulo256", 112, 0, 65 + 3 * 256, {{down(65), down(112)}}, "F"},
        // Every key down holds all four modifiers, hence modifiers 15 here.
        Scenario{"ExtraKeyWithEveryKeyDown", 112, 15, 65, {{EVERY_KEY_DOWN}, {}, {EVERY_KEY_DOWN}},
                 "F.F"},
        Scenario{"ExtraKey256NeverFires", 112, 15, 256, {{EVERY_KEY_DOWN}, {}, {EVERY_KEY_DOWN}},
                 "..."},
        Scenario{"ExtraKeyMostNegativeNeverFires", 112, 15, INT_MIN,
                 {{EVERY_KEY_DOWN}, {}, {EVERY_KEY_DOWN}}, "..."},
        Scenario{"KeyAbove255SamplesModulo256", 368, 0, 0, {{down(112)}, {}, {down(368 - 256)}},
                 "F.F"},
        Scenario{"MostPositiveKeySamplesSlot255", INT_MAX, 0, 0, {{down(255)}}, "F"},
        Scenario{"MostNegativeUsableKeyFiresOnRelease", INT_MIN + 1, 0, 0, {{down(255)}, {}},
                 ".F"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Several entries and the two calling forms.

TEST_F(HotkeyPollerTest, EntriesReadyOnTheSameTickFireInTableOrder) {
    register_hotkey(record_direct_call, 113, 0, 0, 0, true);
    register_hotkey(record_direct_call, -114, 0, 0, 0, true);
    register_hotkey(record_direct_call, 112, 0, 0, 0, true);
    register_hotkey(record_direct_call, 368, 0, 0, 0, true);
    key_down(112);
    key_down(113);
    key_down(114);
    poll_hotkeys();
    EXPECT_EQ(direct_calls, (std::vector<int32_t>{1000001, 1000003, 1000004}));
    key_up(112);
    key_up(113);
    key_up(114);
    poll_hotkeys();
    EXPECT_EQ(direct_calls, (std::vector<int32_t>{1000001, 1000003, 1000004, 1000002}));
}

TEST_F(HotkeyPollerTest, ThreadFormIsHandedToThePlatformDirectFormIsCalledInPlace) {
    register_hotkey(never_run, 112);
    register_hotkey(record_direct_call, 113, 0, 0, 0, true);
    key_down(112);
    key_down(113);
    poll_hotkeys();
    ASSERT_EQ(fake.threads_started.size(), 1u);
    EXPECT_EQ(fake.threads_started[0].callback, &never_run);
    EXPECT_EQ(fake.threads_started[0].id, 1000001);
    EXPECT_EQ(direct_calls, std::vector<int32_t>{1000002});
    EXPECT_EQ(direct_call_thread, std::this_thread::get_id());

    // Re-registration switches the form for the next press.
    register_hotkey(record_direct_call, 112, 0, 0, 0, true);
    register_hotkey(never_run, 113);
    key_up(112);
    key_up(113);
    poll_hotkeys();
    key_down(112);
    key_down(113);
    poll_hotkeys();
    ASSERT_EQ(fake.threads_started.size(), 2u);
    EXPECT_EQ(fake.threads_started[1].callback, &never_run);
    EXPECT_EQ(fake.threads_started[1].id, 1000002);
    EXPECT_EQ(direct_calls, (std::vector<int32_t>{1000002, 1000001}));
}

// A direct callback that registers enough entries to make the table's storage
// move while the tick is walking it.
constexpr int32_t APPENDED = 64;
void register_many(int32_t id) {
    direct_calls.push_back(id);
    for (int32_t i = 1; i <= APPENDED; ++i)
        register_hotkey(never_run, 112 + 256 * i);
}

TEST_F(HotkeyPollerTest, EntriesAppendedDuringATickAreFirstVisitedOnTheNext) {
    register_hotkey(register_many, 112, 0, 0, 0, true);
    key_down(112);
    poll_hotkeys();
    EXPECT_EQ(direct_calls, std::vector<int32_t>{1000001});
    ASSERT_EQ(hotkey_table.size(), 1u + APPENDED);
    EXPECT_TRUE(fake.threads_started.empty());
    for (std::size_t i = 1; i < hotkey_table.size(); ++i)
        EXPECT_EQ(hotkey_table[i]->state, FIRE_IDLE);

    poll_hotkeys();  // F1 still down: each new entry sees it for the first time
    EXPECT_EQ(direct_calls, std::vector<int32_t>{1000001});
    ASSERT_EQ(fake.threads_started.size(), static_cast<std::size_t>(APPENDED));
    for (int32_t i = 0; i < APPENDED; ++i)
        EXPECT_EQ(fake.threads_started[i].id, 1000002 + i);
}

// Presses F2 in the middle of a tick: the tick must not notice.
void press_f2(int32_t id) {
    direct_calls.push_back(id);
    key_down(113);
}

TEST_F(HotkeyPollerTest, EveryDecisionOfATickUsesOneSnapshot) {
    poll_hotkeys();
    EXPECT_EQ(fake.snapshots_taken, 1);

    register_hotkey(press_f2, 112, 0, 0, 0, true);
    register_hotkey(never_run, 113);
    key_down(112);
    poll_hotkeys();
    EXPECT_EQ(fake.snapshots_taken, 2);
    EXPECT_EQ(direct_calls, std::vector<int32_t>{1000001});
    EXPECT_EQ(hotkey_table[1]->state, FIRE_IDLE);
    EXPECT_TRUE(fake.threads_started.empty());

    poll_hotkeys();
    EXPECT_EQ(fake.snapshots_taken, 3);
    ASSERT_EQ(fake.threads_started.size(), 1u);
    EXPECT_EQ(fake.threads_started[0].id, 1000002);
}

}  // namespace
