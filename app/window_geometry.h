// Where the main window and the game view go. The game view is larger than
// the window and sits at negative offsets, so only the game's cut-out of the
// page shows.
#pragma once

#include "app/program_facts.h"

struct Rect {
    int left, top, width, height;
};

// The window's outer rectangle, centred on a screen of the given size; both
// halves truncate toward zero (800 x 600 gives x = -70). Defined for any
// int sizes, negative or huge.
Rect main_window_rect(int screen_width, int screen_height);

// The game view's rectangle inside the window.
constexpr Rect game_view_rect() {
    return {GAME_VIEW_LEFT, GAME_VIEW_TOP, GAME_VIEW_WIDTH, GAME_VIEW_HEIGHT};
}

// The part of the page that shows, in the game view's own coordinates:
// (51, 80) to (992, 670).
constexpr Rect visible_page_rect() {
    return {-GAME_VIEW_LEFT, -GAME_VIEW_TOP, MAIN_WINDOW_WIDTH, MAIN_WINDOW_HEIGHT};
}
