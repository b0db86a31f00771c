#include "actions/game_actions.h"

#include <gtest/gtest.h>

#include "app/game_view.h"
#include "app/main_window.h"
#include "fake_platform.h"

class GameActionsTest : public ::testing::Test {
protected:
    void SetUp() override { reset_fake_platform(); }
    void TearDown() override { reset_fake_platform(); }
};

TEST_F(GameActionsTest, CreatedEventBindsF1ThenF2ThenLoadsTheGamePage) {
    on_main_window_created();
    ASSERT_EQ(hotkey_table.size(), 2u);
    const HotkeyEntry& f1 = *hotkey_table[0];
    const HotkeyEntry& f2 = *hotkey_table[1];
    EXPECT_EQ(f1.id, 1000001);
    EXPECT_EQ(f1.key, 112);
    EXPECT_EQ(f1.callback, &toggle_game_sound);
    EXPECT_EQ(f2.id, 1000002);
    EXPECT_EQ(f2.key, 113);
    EXPECT_EQ(f2.callback, &clear_browser_cache);
    for (const HotkeyEntry* e : {&f1, &f2}) {
        EXPECT_EQ(e->modifiers, 0);
        EXPECT_EQ(e->extra_key, 0);
        EXPECT_FALSE(e->direct);
        EXPECT_EQ(e->state, FIRE_IDLE);
    }
    EXPECT_EQ(fake.timers_started, std::vector<int>{10});
    ASSERT_EQ(fake.navigations.size(), 1u);
    EXPECT_EQ(fake.navigations[0], GAME_PAGE_URL);
    EXPECT_EQ(std::string(GAME_PAGE_URL).rfind("http://", 0), 0u);
    EXPECT_NE(std::string(GAME_PAGE_URL).find("/flash/78072.htm"), std::string::npos);
}

TEST_F(GameActionsTest, F1SendsTheSoundScriptEveryPress) {
    toggle_game_sound(1000001);
    toggle_game_sound(0);
    EXPECT_EQ(fake.navigations, (std::vector<std::string>{"javascript:toggleSound(0)",
                                                          "javascript:toggleSound(0)"}));
}

TEST_F(GameActionsTest, F2ClearsTheCacheThenTheFolder) {
    clear_browser_cache(1000002);
    EXPECT_EQ(fake.calls,
              (std::vector<std::string>{"delete_url_cache_entries", "browser_cache_folder",
                                        "delete_files_under /cache"}));
}

TEST_F(GameActionsTest, F2WithoutACacheFolderOnlyClearsTheCache) {
    fake.cache_folder_found = false;
    clear_browser_cache(1000002);
    EXPECT_EQ(fake.calls,
              (std::vector<std::string>{"delete_url_cache_entries", "browser_cache_folder"}));
}
