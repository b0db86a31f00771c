// The X11 key sampler and the GLib poll timer against a real X server (a
// private Xvfb), keys pressed through XTest:
// - the virtual keys each key reports under real layouts (setxkbmap), as
//   Windows reports them, and keymap changes followed while running;
// - the main loop not woken while nothing is held, a press still firing,
//   and presses held across the quiet and the ticking stretches firing once.
#include "hotkeys/hotkey_poller.h"
#include "hotkeys/hotkey_table.h"
#include "hotkeys/x11_key_events.h"
#include "private_xvfb.h"

// GoogleTest first: Xlib defines None, True and the like as macros.
#include <gtest/gtest.h>
#include <glib.h>
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

Display* keyboard = nullptr;  // the test's own connection: presses keys through XTest
std::string display_name;

class XvfbEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        // -noreset: a keymap set by setxkbmap stays after it disconnects.
        display_name = xvfb_.start("640x480x24", true);
        ASSERT_FALSE(display_name.empty()) << "Xvfb did not start";
        keyboard = XOpenDisplay(display_name.c_str());
        ASSERT_NE(keyboard, nullptr);
    }

    void TearDown() override {
        if (keyboard != nullptr)
            XCloseDisplay(keyboard);
        xvfb_.stop();
    }

private:
    PrivateXvfb xvfb_;
};

void set_layout(const std::string& layout) {
    const std::string command = "setxkbmap -display " + display_name + " " + layout;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    XSync(keyboard, False);
}

void set_numlock(bool on) {
    const unsigned mask = XkbKeysymToModifiers(keyboard, XK_Num_Lock);
    XkbLockModifiers(keyboard, XkbUseCoreKbd, mask, on ? mask : 0);
    XSync(keyboard, False);
}

// The keycode at a position (XKB key name) in the server's keymap now.
KeyCode keycode_at(const char* name) {
    KeyCode found = 0;
    XkbDescPtr xkb = XkbGetMap(keyboard, 0, XkbUseCoreKbd);
    if (xkb != nullptr && XkbGetNames(keyboard, XkbKeyNamesMask, xkb) == Success)
        for (int code = xkb->min_key_code; code <= xkb->max_key_code; ++code)
            if (std::strncmp(xkb->names->keys[code].name, name, XkbKeyNameLength) == 0)
                found = static_cast<KeyCode>(code);
    if (xkb != nullptr)
        XkbFreeKeyboard(xkb, 0, True);
    return found;
}

void fake_key(KeyCode code, bool down) {
    XTestFakeKeyEvent(keyboard, code, down ? True : False, CurrentTime);
    XSync(keyboard, False);
}

std::string names(const std::set<unsigned>& vks) {
    std::string text;
    for (unsigned vk : vks) {
        char buf[8];
        std::snprintf(buf, sizeof buf, " 0x%02X", vk);
        text += buf;
    }
    return "{" + text + " }";
}

// The virtual keys that the sampler reports down while the key at `name`
// is held (everything else up).
std::set<unsigned> virtual_keys_of(const char* name) {
    const KeyCode code = keycode_at(name);
    EXPECT_NE(code, 0) << name;
    fake_key(code, true);
    sync_key_events();
    KeySnapshot snapshot{};
    take_key_snapshot(snapshot);
    fake_key(code, false);
    sync_key_events();
    std::set<unsigned> down;
    for (unsigned vk = 1; vk <= 255; ++vk)
        if (snapshot.slot[vk] < 0)
            down.insert(vk);
    return down;
}

// ---------------------------------------------------------------------------
// The key map.

struct KeyCase {
    const char* layout;
    const char* key;  // XKB key name: the position on the keyboard
    bool numlock;
    std::set<unsigned> vks;
};

const unsigned CTRL_ALT[] = {0x11, 0x12, 0xA2, 0xA5};  // AltGr: Ctrl, Alt, LCtrl, RAlt

TEST(X11KeyMap, KeysReportWhatWindowsReportsForThem) {
    const std::set<unsigned> altgr(std::begin(CTRL_ALT), std::end(CTRL_ALT));
    const KeyCase cases[] = {
        {"us", "AE07", false, {'7'}},
        {"us", "AB08", false, {0xBC}},  // comma: not also VK_OEM_102 by its shifted `less`
        {"us", "LSGT", false, {0xE2}},
        {"us", "AC10", false, {0xBA}},
        {"us", "AD01", false, {'Q'}},
        {"us", "RALT", false, {0x12, 0xA5}},  // no AltGr on a US layout: the right Alt
        {"us", "LFSH", false, {0x10, 0xA0}},
        {"us", "FK01", false, {0x70}},
        {"us", "KP7", false, {0x24}},   // VK_HOME with NumLock off
        {"us", "KP7", true, {0x67}},    // VK_NUMPAD7 with NumLock on
        {"us", "KPDL", false, {0x2E}},  // VK_DELETE
        {"us", "KPDL", true, {0x6E}},   // VK_DECIMAL
        // German: the shifted symbols of 7, 0, comma and # are no keys of their own.
        {"de", "AE07", false, {'7'}},
        {"de", "AE10", false, {'0'}},
        {"de", "AB08", false, {0xBC}},
        {"de", "BKSL", false, {0xBF}},  // #: VK_OEM_2
        {"de", "AE11", false, {0xDB}},  // ß: VK_OEM_4
        {"de", "AD11", false, {0xBA}},  // ü: VK_OEM_1
        {"de", "AC11", false, {0xDE}},  // ä: VK_OEM_7
        {"de", "AD06", false, {'Z'}},
        {"de", "AB01", false, {'Y'}},
        {"de", "RALT", false, altgr},
        {"de", "KPDL", true, {0x6E}},  // the decimal comma is still VK_DECIMAL
        {"de", "KP7", true, {0x67}},
        // French: the digits are the shifted symbols of the top row.
        {"fr", "AE01", false, {'1'}},
        {"fr", "AE04", false, {'4'}},  // apostrophe unshifted
        {"fr", "AE06", false, {'6'}},  // minus unshifted
        {"fr", "AE08", false, {'8'}},
        {"fr", "AD01", false, {'A'}},
        {"fr", "AC01", false, {'Q'}},
        {"fr", "AC10", false, {'M'}},
        {"fr", "AB07", false, {0xBC}},  // comma: VK_OEM_COMMA
        {"fr", "AB08", false, {0xBE}},  // semicolon: VK_OEM_PERIOD
        {"fr", "AB10", false, {0xDF}},  // exclam: VK_OEM_8
        {"fr", "AD11", false, {0xDD}},  // dead circumflex: VK_OEM_6
        {"fr", "RALT", false, altgr},
    };
    std::string layout;
    for (const KeyCase& c : cases) {
        if (layout != c.layout) {
            layout = c.layout;
            set_layout(layout);
        }
        set_numlock(c.numlock);
        EXPECT_EQ(names(virtual_keys_of(c.key)), names(c.vks))
            << c.layout << " " << c.key << (c.numlock ? " NumLock on" : "");
    }
    set_numlock(false);
}

TEST(X11KeyMap, FollowsLayoutSwitchesAndNewKeymaps) {
    struct Step {
        const char* what;
        std::function<void()> change;
        const char* key;
        std::set<unsigned> vks;
    };
    const auto lock_group = [](unsigned group) {
        return [group] {
            XkbLockGroup(keyboard, XkbUseCoreKbd, group);
            XSync(keyboard, False);
        };
    };
    const Step steps[] = {
        {"US", [] { set_layout("us"); }, "AD06", {'Y'}},
        {"two layouts, the first active", [] { set_layout("us,de"); }, "AD06", {'Y'}},
        {"switched to the second", lock_group(1), "AD06", {'Z'}},
        {"switched to the second", lock_group(1), "BKSL", {0xBF}},
        {"back to the first", lock_group(0), "BKSL", {0xDC}},
        {"French loaded", [] { set_layout("fr"); }, "AD01", {'A'}},
        // As a virtual keyboard does: a key given a symbol of its own.
        {"a key remapped to F5",
         [] {
             KeySym f5 = XK_F5;
             XChangeKeyboardMapping(keyboard, keycode_at("AD01"), 1, &f5, 1);
             XSync(keyboard, False);
         },
         "AD01",
         {0x74}},
        {"US again", [] { set_layout("us"); }, "AD01", {'Q'}},
    };
    for (const Step& step : steps) {
        step.change();
        EXPECT_EQ(names(virtual_keys_of(step.key)), names(step.vks))
            << step.what << " " << step.key;
    }
}

// ---------------------------------------------------------------------------
// The poll timer on the main loop.

int presses = 0;
void count_press(int32_t) { ++presses; }

gboolean set_flag(gpointer flag) {
    *static_cast<bool*>(flag) = true;
    return G_SOURCE_REMOVE;
}

// Runs the main loop until `done` or `ms` have passed; returns how often
// the loop woke for anything other than that time limit.
int run_main_loop(
    unsigned ms, const std::function<bool()>& done = [] { return false; }) {
    bool over = false;
    const guint limit = g_timeout_add(ms, set_flag, &over);
    int wakeups = 0;
    while (!over && !done()) {
        g_main_context_iteration(nullptr, TRUE);
        ++wakeups;
    }
    if (over)
        --wakeups;
    else
        g_source_remove(limit);
    return wakeups;
}

class PollTimer : public ::testing::Test {
protected:
    void SetUp() override {
        set_layout("us");
        // F1 with no modifier, called on the main thread: the count is the
        // firing itself.
        static const int32_t id = register_hotkey(count_press, VK_F1_KEY, 0, 0, 0, true);
        ASSERT_NE(id, 0);
        run_main_loop(500);  // the layout change's own events
        presses = 0;
    }

    void key(const char* keysym, bool down) {
        fake_key(XKeysymToKeycode(keyboard, XStringToKeysym(keysym)), down);
    }
};

TEST_F(PollTimer, NoWakeupWhileNothingIsHeldAndAPressStillFires) {
    EXPECT_EQ(run_main_loop(2000), 0) << "the main loop woke with no input";
    // No timer runs now: the key event itself wakes the loop, and that very
    // wakeup fires the press (not a timer tick started on the way).
    key("F1", true);
    EXPECT_EQ(run_main_loop(30000, [] { return presses == 1; }), 1)
        << "the press did not fire on the wakeup its event brought";
    EXPECT_EQ(presses, 1) << "the press did not fire";
    key("F1", false);
    run_main_loop(1000);
    EXPECT_EQ(run_main_loop(1000), 0) << "still woken once F1 was up again";
    EXPECT_EQ(presses, 1);
}

TEST_F(PollTimer, KeysHeldAcrossQuietAndTickingStretchesFireOnce) {
    struct Case {
        const char* name;
        std::vector<std::string> steps;  // "down KEY", "up KEY", "wait MS"
        int presses;
    };
    const Case cases[] = {
        {"held while the timer ticks", {"down F1", "wait 300", "up F1"}, 1},
        {"another key down first, let go while F1 stays down",
         {"down a", "wait 100", "down F1", "wait 100", "up a", "wait 300", "up F1"},
         1},
        {"another key comes and goes while F1 is held",
         {"down F1", "wait 100", "down a", "wait 100", "up a", "wait 300", "up F1"},
         1},
        {"pressed twice",
         {"down F1", "wait 100", "up F1", "wait 100", "down F1", "wait 100", "up F1"},
         2},
        {"Shift held as F1 goes down, let go while F1 stays down",
         {"down Shift_L", "wait 100", "down F1", "wait 100", "up Shift_L", "wait 300", "up F1"},
         0},
        // Events that reach the loop together, as when it was busy: each
        // key that goes down or up is still a sample of its own.
        {"a press and release read together", {"down F1", "up F1"}, 1},
        {"two taps read together", {"down F1", "up F1", "down F1", "up F1"}, 2},
        {"Shift, F1 and their releases read together",
         {"down Shift_L", "down F1", "up Shift_L", "up F1"},
         0},
    };
    for (const Case& c : cases) {
        presses = 0;
        for (const std::string& step : c.steps) {
            const std::string verb = step.substr(0, step.find(' '));
            const std::string arg = step.substr(step.find(' ') + 1);
            if (verb == "wait")
                run_main_loop(static_cast<unsigned>(std::stoul(arg)));
            else
                key(arg.c_str(), verb == "down");
        }
        run_main_loop(500);
        EXPECT_EQ(presses, c.presses) << c.name;
        EXPECT_EQ(run_main_loop(500), 0) << c.name << ": not quiet again afterwards";
    }
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new XvfbEnvironment);
    return RUN_ALL_TESTS();
}
