// A stand-in for the platform layer: it records every call the portable core
// makes and feeds the key snapshots a test sets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/handshake.h"
#include "hotkeys/hotkey_poller.h"

struct ActionCall {
    HotkeyCallback callback;
    int32_t id;
};

struct FakePlatform {
    KeySnapshot keys{};                   // what the next tick samples
    int snapshots_taken = 0;
    std::vector<int> timers_started;      // interval of each start_poll_timer
    std::vector<ActionCall> threads_started;
    std::vector<std::string> navigations;
    std::vector<std::string> calls;       // order of the cache-clearing calls
    bool cache_folder_found = true;
    std::string cache_folder = "/cache";
    std::string executable_path;
    char separator = '/';
    LeadByteTest lead_byte_test = nullptr;
    std::vector<std::string> sections_cleared;
};

// Reset between tests, together with the hotkey table.
extern FakePlatform fake;
void reset_fake_platform();

// Key-state helpers in the three-way reading.
inline void key_down(unsigned vk) { fake.keys.slot[vk] = INT16_MIN; }
inline void key_up(unsigned vk) { fake.keys.slot[vk] = 0; }
inline void key_tapped(unsigned vk) { fake.keys.slot[vk] = 1; }
