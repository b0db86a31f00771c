// The embedded browser that shows the game, and the page it loads.
#pragma once

#ifndef VELLMIR_GAME_HOST
#define VELLMIR_GAME_HOST "games.example"
#endif

// The game page; the host is set at configure time (VELLMIR_GAME_HOST).
inline constexpr const char GAME_PAGE_URL[] = "http://" VELLMIR_GAME_HOST "/flash/78072.htm";

// Platform: hand one address to the browser, from any thread, without
// waiting for it. A "javascript:" address runs in the page being shown. A
// request that arrives while the window is closing, or after, is dropped.
void navigate(const char* address);
