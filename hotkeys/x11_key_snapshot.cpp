// The key snapshot on X11, on a display connection of its own.
//
// Which keys and mouse buttons are down comes from XInput2 raw press and
// release events on the root window: they arrive whichever window has the
// focus, even while another program holds a grab. XQueryKeymap (and
// XQueryPointer for the buttons) only resynchronises that state: at start,
// when the keymap changes and when a device goes away. "Up, but pressed
// since the previous sample" comes from the raw presses as well. Nothing is
// grabbed: the focused program still gets every key. Where XInput2 2.1 is
// missing, each sample asks the server for the key state instead.
//
// Each X keycode is given the Windows virtual-key codes that Windows gives
// the same key, in the active group (layout) of the keymap: letters and
// digits from the key's symbols, punctuation by position on the layouts
// whose Windows codes differ from the US ones, AltGr as Ctrl+Alt, and the
// keypad as NumLock has it. A layout switch, a new keymap and NumLock are
// followed as they happen.
#include "hotkeys/hotkey_poller.h"
#include "hotkeys/x11_key_events.h"
#include "hotkeys/portal_shortcuts.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/XF86keysym.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

struct VirtualKey {
    uint8_t vk;
    KeySym keysym;
};

// Windows virtual-key codes and the X keysyms that produce them, read from a
// key's symbol in the active group without modifiers. A code may appear more
// than once (either Shift key is VK_SHIFT); one keysym may give several
// codes (VK_SHIFT and VK_LSHIFT).
// clang-format off
constexpr VirtualKey VIRTUAL_KEYS[] = {
    {0x03, XK_Cancel},      {0x08, XK_BackSpace},   {0x09, XK_Tab},
    {0x09, XK_ISO_Left_Tab}, {0x0C, XK_Clear},      {0x0C, XK_KP_Begin},
    {0x0D, XK_Return},      {0x0D, XK_KP_Enter},    {0x10, XK_Shift_L},
    {0x10, XK_Shift_R},     {0x11, XK_Control_L},   {0x11, XK_Control_R},
    {0x12, XK_Alt_L},       {0x12, XK_Alt_R},       {0x12, XK_Meta_L},
    {0x12, XK_Meta_R},      {0x13, XK_Pause},       {0x14, XK_Caps_Lock},
    {0x15, XK_Hangul},      {0x15, XK_Kana_Shift},  {0x19, XK_Hangul_Hanja},
    {0x19, XK_Kanji},       {0x1B, XK_Escape},      {0x1C, XK_Henkan},
    {0x1D, XK_Muhenkan},    {0x20, XK_space},       {0x21, XK_Prior},
    {0x22, XK_Next},        {0x23, XK_End},         {0x24, XK_Home},
    {0x25, XK_Left},        {0x26, XK_Up},          {0x27, XK_Right},
    {0x28, XK_Down},        {0x29, XK_Select},      {0x2B, XK_Execute},
    {0x2C, XK_Print},       {0x2C, XK_Sys_Req},     {0x2D, XK_Insert},
    {0x2E, XK_Delete},      {0x2F, XK_Help},        {0x5B, XK_Super_L},
    {0x5C, XK_Super_R},     {0x5D, XK_Menu},        {0x5F, XF86XK_Sleep},
    // The keypad with NumLock off: the keys Windows reports for it.
    {0x21, XK_KP_Prior},    {0x22, XK_KP_Next},     {0x23, XK_KP_End},
    {0x24, XK_KP_Home},     {0x25, XK_KP_Left},     {0x26, XK_KP_Up},
    {0x27, XK_KP_Right},    {0x28, XK_KP_Down},     {0x2D, XK_KP_Insert},
    {0x2E, XK_KP_Delete},
    // Its decimal key is VK_DECIMAL whether it types a point or a comma.
    {0x6A, XK_KP_Multiply}, {0x6B, XK_KP_Add},      {0x6E, XK_KP_Separator},
    {0x6D, XK_KP_Subtract}, {0x6E, XK_KP_Decimal},  {0x6F, XK_KP_Divide},
    {0x90, XK_Num_Lock},    {0x91, XK_Scroll_Lock}, {0xA0, XK_Shift_L},
    {0xA1, XK_Shift_R},     {0xA2, XK_Control_L},   {0xA3, XK_Control_R},
    {0xA4, XK_Alt_L},       {0xA4, XK_Meta_L},      {0xA5, XK_Alt_R},
    {0xA5, XK_Meta_R},
    // AltGr: Windows reports it as the left Ctrl and the right Alt held.
    {0x11, XK_ISO_Level3_Shift}, {0x12, XK_ISO_Level3_Shift},
    {0xA2, XK_ISO_Level3_Shift}, {0xA5, XK_ISO_Level3_Shift},
    {0x11, XK_Mode_switch}, {0x12, XK_Mode_switch}, {0xA2, XK_Mode_switch},
    {0xA5, XK_Mode_switch},
    {0xA6, XF86XK_Back},    {0xA7, XF86XK_Forward}, {0xA8, XF86XK_Refresh},
    {0xA9, XF86XK_Stop},    {0xAA, XF86XK_Search},  {0xAB, XF86XK_Favorites},
    {0xAC, XF86XK_HomePage}, {0xAD, XF86XK_AudioMute},
    {0xAE, XF86XK_AudioLowerVolume}, {0xAF, XF86XK_AudioRaiseVolume},
    {0xB0, XF86XK_AudioNext}, {0xB1, XF86XK_AudioPrev}, {0xB2, XF86XK_AudioStop},
    {0xB3, XF86XK_AudioPlay}, {0xB4, XF86XK_Mail},  {0xB5, XF86XK_AudioMedia},
    {0xB6, XF86XK_MyComputer}, {0xB7, XF86XK_Calculator},
    // Punctuation as the US layout has it, for layouts without a table below.
    {0xBA, XK_semicolon},   {0xBB, XK_equal},       {0xBC, XK_comma},
    {0xBD, XK_minus},       {0xBE, XK_period},      {0xBF, XK_slash},
    {0xC0, XK_grave},       {0xDB, XK_bracketleft}, {0xDC, XK_backslash},
    {0xDD, XK_bracketright}, {0xDE, XK_apostrophe}, {0xE2, XK_less},
};
// clang-format on

// The punctuation keys by position (XKB key name), with the code Windows
// gives each in one layout.
struct PlacedKey {
    char name[5];
    uint8_t vk;
};
// clang-format off
constexpr PlacedKey US_PUNCTUATION[] = {
    {"TLDE", 0xC0}, {"AE11", 0xBD}, {"AE12", 0xBB}, {"AD11", 0xDB}, {"AD12", 0xDD},
    {"BKSL", 0xDC}, {"AC10", 0xBA}, {"AC11", 0xDE}, {"AB08", 0xBC}, {"AB09", 0xBE},
    {"AB10", 0xBF}, {"LSGT", 0xE2},
};
constexpr PlacedKey GERMAN_PUNCTUATION[] = {
    {"TLDE", 0xDC}, {"AE11", 0xDB}, {"AE12", 0xDD}, {"AD11", 0xBA}, {"AD12", 0xBB},
    {"BKSL", 0xBF}, {"AC10", 0xC0}, {"AC11", 0xDE}, {"AB08", 0xBC}, {"AB09", 0xBE},
    {"AB10", 0xBD}, {"LSGT", 0xE2},
};
constexpr PlacedKey FRENCH_PUNCTUATION[] = {
    {"TLDE", 0xDE}, {"AE11", 0xDB}, {"AE12", 0xBB}, {"AD11", 0xDD}, {"AD12", 0xBA},
    {"BKSL", 0xDC}, {"AC11", 0xC0}, {"AB07", 0xBC}, {"AB08", 0xBE}, {"AB09", 0xBF},
    {"AB10", 0xDF}, {"LSGT", 0xE2},
};
// clang-format on

struct Punctuation {
    const PlacedKey* keys;
    std::size_t count;
};

template <std::size_t N>
constexpr Punctuation punctuation(const PlacedKey (&keys)[N]) {
    return {keys, N};
}

// A layout's table applies to its variants that keep the punctuation where
// the plain layout has it (not to Dvorak, BÉPO, Neo and the like).
struct LayoutPunctuation {
    const char* layout;
    Punctuation table;
};
const LayoutPunctuation LAYOUT_PUNCTUATION[] = {
    {"us", punctuation(US_PUNCTUATION)},
    {"de", punctuation(GERMAN_PUNCTUATION)},
    {"fr", punctuation(FRENCH_PUNCTUATION)},
};
const char* const SAME_PLACE_VARIANTS[] = {
    "",
    "nodeadkeys",
    "deadacute",
    "deadgraveacute",
    "deadtilde",
    "latin9",
    "latin9_nodeadkeys",
    "oss",
    "oss_latin9",
    "oss_nodeadkeys",
    "euro",
    "intl",
    "altgr-intl",
};

// The mouse buttons GetAsyncKeyState reports, with their X buttons.
struct MouseButton {
    uint8_t vk;
    unsigned button;
};
constexpr MouseButton MOUSE_BUTTONS[] = {{0x01, 1}, {0x02, 3}, {0x04, 2}};

// What is held, by X keycode (0..255) and by X button (BUTTON_SLOT + button).
constexpr unsigned BUTTON_SLOT = 256;
constexpr unsigned BUTTONS = 32;
using Held = std::bitset<BUTTON_SLOT + BUTTONS>;

// The source that a resynchronisation stands for; XInput2 device ids start at 2.
constexpr int QUERIED = 0;

// X keysyms in ranges: letters, digits, keypad digits, F1..F24.
unsigned letter_vk(KeySym sym) {
    if (sym >= XK_a && sym <= XK_z)
        return 'A' + static_cast<unsigned>(sym - XK_a);
    if (sym >= XK_A && sym <= XK_Z)
        return 'A' + static_cast<unsigned>(sym - XK_A);
    return 0;
}
unsigned digit_vk(KeySym sym) {
    if (sym >= XK_0 && sym <= XK_9)
        return '0' + static_cast<unsigned>(sym - XK_0);
    return 0;
}
unsigned range_vk(KeySym sym) {
    if (sym >= XK_KP_0 && sym <= XK_KP_9)
        return 0x60 + static_cast<unsigned>(sym - XK_KP_0);
    if (sym >= XK_F1 && sym <= XK_F24)
        return 0x70 + static_cast<unsigned>(sym - XK_F1);
    return 0;
}

void add(std::vector<uint8_t>& vks, unsigned vk) {
    if (vk == 0 || vk > 255)
        return;
    for (uint8_t known : vks)
        if (known == vk)
            return;
    vks.push_back(static_cast<uint8_t>(vk));
}

unsigned placed_vk(const Punctuation& table, const char* name) {
    for (std::size_t i = 0; i < table.count; ++i)
        if (std::strncmp(table.keys[i].name, name, XkbKeyNameLength) == 0)
            return table.keys[i].vk;
    return 0;
}

// The codes of one key: `plain` and `shifted` are its symbols in the active
// group without and with Shift (NumLock as it stands), `name` its position.
void assign_virtual_keys(KeySym plain, KeySym shifted, const char* name, const Punctuation& layout,
                         std::vector<uint8_t>& vks) {
    if (const unsigned vk = letter_vk(plain)) {
        add(vks, vk);
        return;
    }
    // A digit on either level is that digit's key (on AZERTY the digits
    // are the shifted symbols of the top row).
    if (const unsigned vk = digit_vk(plain) ? digit_vk(plain) : digit_vk(shifted)) {
        add(vks, vk);
        return;
    }
    if (const unsigned vk = placed_vk(layout, name)) {
        add(vks, vk);
        return;
    }
    add(vks, range_vk(plain));
    for (const VirtualKey& key : VIRTUAL_KEYS)
        if (key.keysym == plain)
            add(vks, key.vk);
    if (vks.empty())
        add(vks, placed_vk(punctuation(US_PUNCTUATION), name));
}

// The layout of each group, from the keymap's symbols name, for instance
// "pc+us+de:2+inet(evdev)": a component "name(variant):group" per layout.
void read_layouts(const char* symbols, std::array<Punctuation, XkbNumKbdGroups>& layouts) {
    layouts.fill(Punctuation{nullptr, 0});
    const std::string all = symbols != nullptr ? symbols : "";
    std::size_t start = 0;
    while (start <= all.size()) {
        std::size_t end = all.find('+', start);
        if (end == std::string::npos)
            end = all.size();
        const std::string part = all.substr(start, end - start);
        start = end + 1;

        const std::size_t open = part.find('('), colon = part.find(':');
        const std::string layout = part.substr(0, std::min(open, colon));
        std::string variant;
        if (open != std::string::npos) {
            const std::size_t close = part.find(')', open);
            if (close != std::string::npos)
                variant = part.substr(open + 1, close - open - 1);
        }
        unsigned group = 1;
        if (colon != std::string::npos && colon + 1 < part.size())
            group = static_cast<unsigned>(part[colon + 1] - '0');
        if (group < 1 || group > XkbNumKbdGroups)
            continue;

        bool same_place = false;
        for (const char* v : SAME_PLACE_VARIANTS)
            same_place = same_place || variant == v;
        for (const LayoutPunctuation& known : LAYOUT_PUNCTUATION)
            if (same_place && layout == known.layout && layouts[group - 1].keys == nullptr)
                layouts[group - 1] = known.table;
    }
}

struct KeySampler {
    Display* display = nullptr;
    bool tried = false;
    bool from_events = false;  // key state from raw press and release events
    int xi_opcode = -1;
    int xkb_event = -1;  // XKB's event code, -1 without XKB
    XkbDescPtr xkb = nullptr;
    std::array<Punctuation, XkbNumKbdGroups> layouts{};
    unsigned group = 0;
    unsigned numlock_mask = 0;
    bool numlock_on = false;
    std::array<std::vector<uint8_t>, 256> vks;  // by X keycode
    std::vector<std::pair<int, Held>> held;     // by source device
    Held pressed;                               // went down since the last sample
    bool reload_pending = false;                // the keymap changed
    bool resync_pending = false;                // events may have been missed

    bool open() {
        if (tried)
            return display != nullptr;
        tried = true;
        display = XOpenDisplay(nullptr);
        if (display == nullptr)
            return false;
        const Window root = DefaultRootWindow(display);

        int opcode, event, error;
        int major = XkbMajorVersion, minor = XkbMinorVersion;
        if (XkbQueryExtension(display, &opcode, &xkb_event, &error, &major, &minor)) {
            XkbSelectEvents(display, XkbUseCoreKbd, XkbNewKeyboardNotifyMask | XkbMapNotifyMask,
                            XkbNewKeyboardNotifyMask | XkbMapNotifyMask);
            const unsigned long state = XkbGroupStateMask | XkbModifierLockMask;
            XkbSelectEventDetails(display, XkbUseCoreKbd, XkbStateNotify, state, state);
        } else {
            xkb_event = -1;
        }

        if (XQueryExtension(display, "XInputExtension", &xi_opcode, &event, &error)) {
            major = 2;
            minor = 2;
            if (XIQueryVersion(display, &major, &minor) == Success) {
                // Since 2.1 raw events arrive regardless of grabs, so they
                // can carry the whole key state; one copy of each press
                // comes through the master device, naming the real one.
                from_events = major > 2 || minor >= 1;
                unsigned char raw[XIMaskLen(XI_LASTEVENT)] = {};
                unsigned char devices[XIMaskLen(XI_LASTEVENT)] = {};
                XISetMask(raw, XI_RawKeyPress);
                XISetMask(raw, XI_RawButtonPress);
                if (from_events) {
                    XISetMask(raw, XI_RawKeyRelease);
                    XISetMask(raw, XI_RawButtonRelease);
                    XISetMask(devices, XI_HierarchyChanged);
                }
                XIEventMask masks[] = {
                    {from_events ? XIAllMasterDevices : XIAllDevices, sizeof raw, raw},
                    {XIAllDevices, sizeof devices, devices},
                };
                XISelectEvents(display, root, masks, from_events ? 2 : 1);
            } else {
                xi_opcode = -1;
            }
        }
        load_keymap();
        if (from_events)
            resync();
        return true;
    }

    void load_keymap() {
        if (xkb != nullptr)
            XkbFreeKeyboard(xkb, 0, True);
        xkb = nullptr;
        if (xkb_event >= 0)
            xkb = XkbGetMap(display, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask,
                            XkbUseCoreKbd);
        if (xkb == nullptr) {
            for (auto& codes : vks)
                codes.clear();
            return;
        }
        char* symbols = nullptr;
        if (XkbGetNames(display, XkbKeyNamesMask | XkbSymbolsNameMask, xkb) == Success &&
            xkb->names->symbols != None)
            symbols = XGetAtomName(display, xkb->names->symbols);
        read_layouts(symbols, layouts);
        if (symbols != nullptr)
            XFree(symbols);

        // NumLock's modifier: the one that the Num_Lock key sets.
        numlock_mask = 0;
        for (int code = xkb->min_key_code; code <= xkb->max_key_code; ++code) {
            const KeySym* syms = XkbKeySymsPtr(xkb, code);
            for (int i = 0; i < XkbKeyNumSyms(xkb, code); ++i)
                if (syms[i] == XK_Num_Lock)
                    numlock_mask |= xkb->map->modmap[code];
        }
        XkbStateRec state;
        if (XkbGetState(display, XkbUseCoreKbd, &state) == Success) {
            group = state.group;
            numlock_on = (state.locked_mods & numlock_mask) != 0;
        }
        build_map();
    }

    void build_map() {
        for (auto& codes : vks)
            codes.clear();
        if (xkb == nullptr)
            return;
        const Punctuation& layout = layouts[group % XkbNumKbdGroups];
        const unsigned mods = numlock_on ? numlock_mask : 0;
        for (int code = xkb->min_key_code; code <= xkb->max_key_code && code < 256; ++code) {
            unsigned used;
            KeySym plain = NoSymbol, shifted = NoSymbol;
            const auto key = static_cast<KeyCode>(code);
            XkbTranslateKeyCode(xkb, key, XkbBuildCoreState(mods, group), &used, &plain);
            XkbTranslateKeyCode(xkb, key, XkbBuildCoreState(mods | ShiftMask, group), &used,
                                &shifted);
            char name[XkbKeyNameLength + 1] = {};
            if (xkb->names != nullptr && xkb->names->keys != nullptr)
                std::memcpy(name, xkb->names->keys[code].name, XkbKeyNameLength);
            assign_virtual_keys(plain, shifted, name, layout, vks[static_cast<unsigned>(code)]);
        }
    }

    Held& held_by(int source) {
        for (auto& device : held)
            if (device.first == source)
                return device.second;
        held.emplace_back(source, Held{});
        return held.back().second;
    }

    Held all_held() const {
        Held all;
        for (const auto& device : held)
            all |= device.second;
        return all;
    }

    // What the server says is held now: two round trips.
    Held query_server() {
        char keymap[32] = {};
        XQueryKeymap(display, keymap);
        Window root, child;
        int root_x, root_y, x, y;
        unsigned buttons = 0;
        XQueryPointer(display, DefaultRootWindow(display), &root, &child, &root_x, &root_y, &x,
                      &y, &buttons);
        Held now;
        for (unsigned code = 0; code < 256; ++code)
            if ((keymap[code / 8] >> (code % 8) & 1) != 0)
                now.set(code);
        for (unsigned button = 1; button <= 5; ++button)
            if ((buttons & (Button1Mask << (button - 1))) != 0)
                now.set(BUTTON_SLOT + button);
        return now;
    }

    // The server's own view of what is held. True when it differs from ours.
    bool resync() {
        const Held now = query_server();
        const bool changed = now != all_held();
        held.clear();
        held.emplace_back(QUERIED, now);
        return changed;
    }

    // One event. True when a key or button went down or up.
    bool handle(XEvent& event) {
        if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);
            reload_pending = reload_pending || event.xmapping.request != MappingPointer;
            return false;
        }
        if (xkb_event >= 0 && event.type == xkb_event) {
            const auto& xkb_ev = reinterpret_cast<const XkbEvent&>(event);
            const int type = xkb_ev.any.xkb_type;
            if (type == XkbNewKeyboardNotify || type == XkbMapNotify) {
                reload_pending = true;
            } else if (type == XkbStateNotify) {
                // In order with the keys: what follows is read in the new layout.
                group = static_cast<unsigned>(xkb_ev.state.group);
                numlock_on = (xkb_ev.state.locked_mods & numlock_mask) != 0;
                build_map();
            }
            return false;
        }
        XGenericEventCookie* cookie = &event.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != xi_opcode ||
            !XGetEventData(display, cookie))
            return false;
        bool changed = false;
        if (cookie->evtype == XI_HierarchyChanged) {
            const auto* change = static_cast<const XIHierarchyEvent*>(cookie->data);
            if ((change->flags & (XISlaveRemoved | XISlaveDetached | XIDeviceDisabled)) != 0)
                resync_pending = true;
        } else {
            const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
            const bool key = cookie->evtype == XI_RawKeyPress || cookie->evtype == XI_RawKeyRelease;
            const bool down =
                cookie->evtype == XI_RawKeyPress || cookie->evtype == XI_RawButtonPress;
            const unsigned limit = key ? 256 : BUTTONS;
            if (raw->detail >= 0 && static_cast<unsigned>(raw->detail) < limit) {
                const unsigned slot = (key ? 0 : BUTTON_SLOT) + static_cast<unsigned>(raw->detail);
                if (down)
                    pressed.set(slot);
                if (down && from_events) {
                    held_by(raw->sourceid).set(slot);
                } else if (from_events) {
                    held_by(raw->sourceid).reset(slot);
                    held_by(QUERIED).reset(slot);
                }
                changed = true;
            }
        }
        XFreeEventData(display, cookie);
        return changed;
    }

    // The queued events, up to and including the first key or button that
    // goes down or up (every one when `all`), so that the poller can sample
    // after each: a press and release queued together, while the main loop
    // was busy, are still two samples. A new keymap is loaded, and the key
    // state resynchronised, once the queue is empty; asking the server may
    // queue more events, so this goes round until nothing is left. True when
    // something went down or up.
    bool read_events(bool all) {
        bool changed = false;
        for (;;) {
            while (XQLength(display) > 0 || XPending(display) > 0) {
                XEvent event;
                XNextEvent(display, &event);
                if (handle(event)) {
                    changed = true;
                    if (!all)
                        return true;
                }
            }
            if (reload_pending) {
                reload_pending = false;
                load_keymap();
                resync_pending = from_events;
                continue;
            }
            if (!resync_pending || !from_events)
                return changed;
            resync_pending = false;
            if (resync()) {
                changed = true;
                if (!all)
                    return true;
            }
        }
    }

    void sample(KeySnapshot& snapshot) {
        Held down;
        if (from_events) {
            // What the events have told so far; the main loop reads them.
            down = all_held();
        } else {
            // The state now, then the presses queued until then.
            down = query_server();
            read_events(true);
        }

        // Pressed since the last sample first, so that any key of a code
        // that is down now makes it down.
        for (int pass = 0; pass < 2; ++pass) {
            const Held& keys = pass == 0 ? pressed : down;
            const int16_t value = pass == 0 ? 1 : INT16_MIN;
            for (unsigned code = 0; code < 256; ++code)
                if (keys.test(code))
                    for (uint8_t vk : vks[code])
                        snapshot.slot[vk] = value;
            for (const MouseButton& b : MOUSE_BUTTONS)
                if (keys.test(BUTTON_SLOT + b.button))
                    snapshot.slot[b.vk] = value;
        }
        pressed.reset();
    }
};

KeySampler sampler;  // main thread only

}  // namespace

void take_key_snapshot(KeySnapshot& snapshot) {
    if (sampler.open())
        sampler.sample(snapshot);
    merge_portal_key_state(snapshot);
}

int open_key_events() {
    return sampler.open() && sampler.from_events ? ConnectionNumber(sampler.display) : -1;
}

bool key_events_queued() { return sampler.display != nullptr && XQLength(sampler.display) > 0; }

bool read_key_events() { return sampler.open() && sampler.read_events(false); }

bool sync_key_events() {
    if (!sampler.open())
        return false;
    XSync(sampler.display, False);
    return sampler.read_events(true);
}

bool any_key_down() { return sampler.display != nullptr && sampler.all_held().any(); }
