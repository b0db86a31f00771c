// What F1 and F2 do.
#pragma once

#include <cstdint>
#include <string>

#include "hotkeys/hotkey_descriptions.h"
#include "hotkeys/hotkey_poller.h"  // the virtual-key names

inline constexpr const char SOUND_SCRIPT_ADDRESS[] = "javascript:toggleSound(0)";
constexpr int32_t GAME_SOUND_KEY = VK_F1_KEY;
constexpr int32_t CLEAR_CACHE_KEY = VK_F2_KEY;

// F1: runs the page's own toggleSound(0). The id is ignored.
void toggle_game_sound(int32_t id);
// F2: deletes the browser's cached downloads (never cookies, never what a
// page stored on purpose, such as game saves), then every file below the
// browser's cache folder (folders stay). The id is ignored.
void clear_browser_cache(int32_t id);

// One game hotkey: the key, the modifiers held with it, what it does, and how
// a desktop that hands out global shortcuts names it to the user.
struct GameHotkey {
    int32_t key;
    int32_t modifiers;
    HotkeyCallback action;
    HotkeyDescription description;
};

// The game's hotkeys, bound in this order: key-down, each on a thread of its
// own.
// clang-format off
inline constexpr GameHotkey GAME_HOTKEYS[] = {
    // key            modifiers  action               description: name, English, Chinese
    {GAME_SOUND_KEY,  0,         toggle_game_sound,   {"toggle-game-sound", "Switch the game's sound", "切换游戏声音"}},
    {CLEAR_CACHE_KEY, 0,         clear_browser_cache, {"clear-browser-cache", "Clear the browser's cache", "清除浏览器缓存"}},
};
// clang-format on

// Binds GAME_HOTKEYS.
void bind_game_hotkeys();

// Platform: delete the browser's cached downloads; cookies and page storage
// stay. What cannot be deleted stays; nothing is reported.
void delete_url_cache_entries();
// Platform: the browser's cache folder, without creating it. Empty when it
// cannot be found.
std::string browser_cache_folder();
// Platform: delete every file below folder at any depth; folders stay, links
// and junctions are never followed, errors are skipped.
void delete_files_under(const std::string& folder);
