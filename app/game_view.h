// The embedded browser that shows the game, and the page it loads.
#pragma once

#include "app/program_facts.h"  // GAME_PAGE_URL

// Platform: hand one address to the browser, from any thread, without
// waiting for it. A "javascript:" address runs in the page being shown. A
// request that arrives while the window is closing, or after, is dropped.
void navigate(const char* address);
