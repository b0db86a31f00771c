#include "game_actions.h"

#include "app/game_view.h"
#include "hotkeys/hotkey_descriptions.h"
#include "hotkeys/hotkey_table.h"

void toggle_game_sound(int32_t) {
    navigate(SOUND_SCRIPT_ADDRESS);
}

void clear_browser_cache(int32_t) {
    delete_url_cache_entries();
    std::string folder;
    if (internet_cache_folder(folder))
        delete_files_under(folder);
}

void bind_game_hotkeys() {
    // A desktop that hands out global shortcuts shows these to the user.
    describe_hotkey(register_hotkey(toggle_game_sound, GAME_SOUND_KEY),
                    {"toggle-game-sound", "Switch the game's sound", "切换游戏声音"});
    describe_hotkey(register_hotkey(clear_browser_cache, CLEAR_CACHE_KEY),
                    {"clear-browser-cache", "Clear the browser's cache", "清除浏览器缓存"});
}
