// What F1 and F2 do.
#pragma once

#include <cstdint>
#include <string>

#include "hotkeys/hotkey_poller.h"  // the virtual-key names

inline constexpr const char SOUND_SCRIPT_ADDRESS[] = "javascript:toggleSound(0)";
constexpr int32_t GAME_SOUND_KEY = VK_F1_KEY;
constexpr int32_t CLEAR_CACHE_KEY = VK_F2_KEY;

// F1: runs the page's own toggleSound(0). The id is ignored.
void toggle_game_sound(int32_t id);
// F2: deletes every cached item but cookies, then every file below the
// browser's cache folder (folders stay). The id is ignored.
void clear_browser_cache(int32_t id);

// Binds F1 and F2, key-down, no modifiers, each on a thread of its own.
void bind_game_hotkeys();

// Platform: delete every item of the browser's cache except cookies. What
// cannot be deleted stays; nothing is reported.
void delete_url_cache_entries();
// Platform: the browser's cache folder, without creating it. Empty when it
// cannot be found.
std::string browser_cache_folder();
// Platform: delete every file below folder at any depth; folders stay, links
// and junctions are never followed, errors are skipped.
void delete_files_under(const std::string& folder);
