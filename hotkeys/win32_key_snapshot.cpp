// The key snapshot on Windows: every virtual key's state as GetAsyncKeyState
// reports it, whichever window has the focus.
#include <windows.h>

#include "hotkeys/hotkey_poller.h"

void take_key_snapshot(KeySnapshot& snapshot) {
    for (int vk = 1; vk <= 255; ++vk)
        snapshot.slot[vk] = GetAsyncKeyState(vk);
}
