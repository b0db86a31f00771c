#include "fake_platform.h"

#include "actions/game_actions.h"
#include "app/game_view.h"
#include "app/handshake.h"
#include "app/main_window.h"

FakePlatform fake;

void reset_fake_platform() {
    release_hotkey_table();
    fake = FakePlatform{};
}

void take_key_snapshot(KeySnapshot& snapshot) {
    ++fake.snapshots_taken;
    for (unsigned vk = 1; vk <= 255; ++vk)
        snapshot.slot[vk] = fake.keys.slot[vk];
}

void start_poll_timer(int interval_ms) { fake.timers_started.push_back(interval_ms); }

void start_action_thread(HotkeyCallback callback, int32_t id) {
    fake.threads_started.push_back({callback, id});
}

void navigate(const char* address) { fake.navigations.emplace_back(address); }

void delete_url_cache_entries() { fake.calls.emplace_back("delete_url_cache_entries"); }

std::string browser_cache_folder() {
    fake.calls.emplace_back("browser_cache_folder");
    return fake.cache_folder_found ? fake.cache_folder : std::string();
}

void delete_files_under(const std::string& folder) {
    fake.calls.push_back("delete_files_under " + folder);
}

std::string own_executable_path() { return fake.executable_path; }
char executable_path_separator() { return fake.separator; }
LeadByteTest executable_path_lead_byte_test() { return fake.lead_byte_test; }
void clear_handshake_section(const char* name) { fake.sections_cleared.emplace_back(name); }
