// The key snapshot on X11, on a display connection of its own.
//
// "Down now" comes from XQueryKeymap (and XQueryPointer for the mouse
// buttons); "up, but pressed since the previous sample" from XInput2 raw
// press events on the root window, which arrive whichever window has the
// focus. Nothing is grabbed: the focused program still gets every key.
// Windows virtual-key codes are mapped to the X keycodes whose unshifted or
// shifted keysym matches, so a layout change is followed (MappingNotify).
#include "hotkeys/hotkey_poller.h"
#include "hotkeys/portal_shortcuts.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/XF86keysym.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

#include <array>
#include <cstdint>
#include <vector>

namespace {

struct VirtualKey {
    uint8_t vk;
    KeySym keysym;
};

// Windows virtual-key codes and the X keysyms that produce them. A code may
// appear more than once (either Shift key is VK_SHIFT).
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
    {0x6A, XK_KP_Multiply}, {0x6B, XK_KP_Add},      {0x6C, XK_KP_Separator},
    {0x6D, XK_KP_Subtract}, {0x6E, XK_KP_Decimal},  {0x6F, XK_KP_Divide},
    {0x90, XK_Num_Lock},    {0x91, XK_Scroll_Lock}, {0xA0, XK_Shift_L},
    {0xA1, XK_Shift_R},     {0xA2, XK_Control_L},   {0xA3, XK_Control_R},
    {0xA4, XK_Alt_L},       {0xA4, XK_Meta_L},      {0xA5, XK_Alt_R},
    {0xA5, XK_Meta_R},      {0xA5, XK_ISO_Level3_Shift}, {0x12, XK_ISO_Level3_Shift},
    {0xA6, XF86XK_Back},    {0xA7, XF86XK_Forward}, {0xA8, XF86XK_Refresh},
    {0xA9, XF86XK_Stop},    {0xAA, XF86XK_Search},  {0xAB, XF86XK_Favorites},
    {0xAC, XF86XK_HomePage}, {0xAD, XF86XK_AudioMute},
    {0xAE, XF86XK_AudioLowerVolume}, {0xAF, XF86XK_AudioRaiseVolume},
    {0xB0, XF86XK_AudioNext}, {0xB1, XF86XK_AudioPrev}, {0xB2, XF86XK_AudioStop},
    {0xB3, XF86XK_AudioPlay}, {0xB4, XF86XK_Mail},  {0xB5, XF86XK_AudioMedia},
    {0xB6, XF86XK_MyComputer}, {0xB7, XF86XK_Calculator},
    {0xBA, XK_semicolon},   {0xBB, XK_equal},       {0xBC, XK_comma},
    {0xBD, XK_minus},       {0xBE, XK_period},      {0xBF, XK_slash},
    {0xC0, XK_grave},       {0xDB, XK_bracketleft}, {0xDC, XK_backslash},
    {0xDD, XK_bracketright}, {0xDE, XK_apostrophe}, {0xE2, XK_less},
};

// The mouse buttons GetAsyncKeyState reports, with their X buttons.
struct MouseButton {
    uint8_t vk;
    unsigned button;
    unsigned down_mask;
};
constexpr MouseButton MOUSE_BUTTONS[] = {
    {0x01, 1, Button1Mask}, {0x02, 3, Button3Mask}, {0x04, 2, Button2Mask},
};

// X keysyms in ranges: letters, digits, keypad digits, F1..F24.
KeySym range_keysym_vk(KeySym sym) {
    if (sym >= XK_a && sym <= XK_z) return 'A' + (sym - XK_a);
    if (sym >= XK_A && sym <= XK_Z) return 'A' + (sym - XK_A);
    if (sym >= XK_0 && sym <= XK_9) return '0' + (sym - XK_0);
    if (sym >= XK_KP_0 && sym <= XK_KP_9) return 0x60 + (sym - XK_KP_0);
    if (sym >= XK_F1 && sym <= XK_F24) return 0x70 + (sym - XK_F1);
    return 0;
}

struct KeySampler {
    Display* display = nullptr;
    bool tried = false;
    int xi_opcode = -1;
    std::array<std::vector<unsigned>, 256> keycodes;  // by virtual key
    std::array<bool, 256> pressed{};                  // by X keycode, since the last sample
    std::array<bool, 16> button_pressed{};            // by X button

    bool open() {
        if (tried)
            return display != nullptr;
        tried = true;
        display = XOpenDisplay(nullptr);
        if (display == nullptr)
            return false;
        int event, error;
        if (XQueryExtension(display, "XInputExtension", &xi_opcode, &event, &error)) {
            int major = 2, minor = 2;
            if (XIQueryVersion(display, &major, &minor) == Success) {
                unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
                XISetMask(bits, XI_RawKeyPress);
                XISetMask(bits, XI_RawButtonPress);
                XIEventMask mask{XIAllDevices, static_cast<int>(sizeof bits), bits};
                XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
            } else {
                xi_opcode = -1;
            }
        }
        load_keymap();
        return true;
    }

    void load_keymap() {
        for (auto& codes : keycodes)
            codes.clear();
        int min_code = 0, max_code = 0, per_code = 0;
        XDisplayKeycodes(display, &min_code, &max_code);
        KeySym* syms = XGetKeyboardMapping(display, static_cast<KeyCode>(min_code),
                                           max_code - min_code + 1, &per_code);
        if (syms == nullptr)
            return;
        const int columns = per_code < 2 ? per_code : 2;  // group 1, plain and shifted
        for (int code = min_code; code <= max_code; ++code) {
            for (int c = 0; c < columns; ++c) {
                const KeySym sym = syms[(code - min_code) * per_code + c];
                if (sym == NoSymbol)
                    continue;
                if (const KeySym vk = range_keysym_vk(sym))
                    add(static_cast<unsigned>(vk), static_cast<unsigned>(code));
                for (const VirtualKey& key : VIRTUAL_KEYS)
                    if (key.keysym == sym)
                        add(key.vk, static_cast<unsigned>(code));
            }
        }
        XFree(syms);
    }

    void add(unsigned vk, unsigned code) {
        auto& codes = keycodes[vk];
        for (unsigned known : codes)
            if (known == code)
                return;
        codes.push_back(code);
    }

    // Everything the server has queued: raw presses and mapping changes.
    void drain_events() {
        bool mapping_changed = false;
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MappingNotify) {
                XRefreshKeyboardMapping(&event.xmapping);
                mapping_changed = true;
                continue;
            }
            XGenericEventCookie* cookie = &event.xcookie;
            if (cookie->type != GenericEvent || cookie->extension != xi_opcode ||
                !XGetEventData(display, cookie))
                continue;
            const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
            if (cookie->evtype == XI_RawKeyPress && raw->detail >= 0 && raw->detail < 256)
                pressed[static_cast<unsigned>(raw->detail)] = true;
            else if (cookie->evtype == XI_RawButtonPress && raw->detail >= 0 && raw->detail < 16)
                button_pressed[static_cast<unsigned>(raw->detail)] = true;
            XFreeEventData(display, cookie);
        }
        if (mapping_changed)
            load_keymap();
    }

    void sample(KeySnapshot& snapshot) {
        char keymap[32] = {};
        XQueryKeymap(display, keymap);
        Window root, child;
        int root_x, root_y, x, y;
        unsigned buttons = 0;
        XQueryPointer(display, DefaultRootWindow(display), &root, &child, &root_x, &root_y, &x,
                      &y, &buttons);
        drain_events();

        for (unsigned vk = 1; vk <= 255; ++vk) {
            bool down = false, pressed_since = false;
            for (unsigned code : keycodes[vk]) {
                down = down || (keymap[code / 8] >> (code % 8) & 1) != 0;
                pressed_since = pressed_since || pressed[code];
            }
            if (down)
                snapshot.slot[vk] = INT16_MIN;
            else if (pressed_since)
                snapshot.slot[vk] = 1;
        }
        for (const MouseButton& b : MOUSE_BUTTONS) {
            if ((buttons & b.down_mask) != 0)
                snapshot.slot[b.vk] = INT16_MIN;
            else if (button_pressed[b.button])
                snapshot.slot[b.vk] = 1;
        }
        pressed.fill(false);
        button_pressed.fill(false);
    }
};

KeySampler sampler;  // main thread only

}  // namespace

void take_key_snapshot(KeySnapshot& snapshot) {
    if (sampler.open())
        sampler.sample(snapshot);
    merge_portal_key_state(snapshot);
}
