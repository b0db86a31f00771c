#include "game_actions.h"

#include "app/game_view.h"
#include "hotkeys/hotkey_descriptions.h"
#include "hotkeys/hotkey_table.h"

void toggle_game_sound(int32_t) {
    navigate(SOUND_SCRIPT_ADDRESS);
}

void clear_browser_cache(int32_t) {
    delete_url_cache_entries();
    const std::string folder = browser_cache_folder();
    if (!folder.empty())
        delete_files_under(folder);
}

void bind_game_hotkeys() {
    // A desktop that hands out global shortcuts shows the descriptions to the
    // user.
    for (const GameHotkey& hotkey : GAME_HOTKEYS)
        describe_hotkey(register_hotkey(hotkey.action, hotkey.key, hotkey.modifiers),
                        hotkey.description);
}
