#include "main_window.h"

#include "actions/game_actions.h"
#include "app/game_view.h"

void on_main_window_created() {
    bind_game_hotkeys();
    navigate(GAME_PAGE_URL);
}
