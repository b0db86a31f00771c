#include "app/window_geometry.h"

#include <gtest/gtest.h>

#include <climits>

struct CentringCase {
    int screen_width, screen_height;
    int x, y;
};

class CentringTest : public ::testing::TestWithParam<CentringCase> {};

TEST_P(CentringTest, CentresOnTheWholeScreenTruncatingTowardZero) {
    const CentringCase c = GetParam();
    const Rect r = main_window_rect(c.screen_width, c.screen_height);
    EXPECT_EQ(r.left, c.x);
    EXPECT_EQ(r.top, c.y);
    EXPECT_EQ(r.width, 941);
    EXPECT_EQ(r.height, 590);
}

INSTANTIATE_TEST_SUITE_P(ScreenSizes, CentringTest, ::testing::Values(
    CentringCase{1920, 1080, 489, 245},
    CentringCase{1366, 768, 212, 89},
    CentringCase{1024, 768, 41, 89},
    CentringCase{800, 600, -70, 5},       // -141 / 2 is -70, not -71
    CentringCase{941, 590, 0, 0},
    CentringCase{940, 589, 0, 0},         // -1 / 2 truncates to 0
    CentringCase{0, 0, -470, -295},
    CentringCase{3840, 2160, 1449, 785},
    CentringCase{INT_MAX, INT_MAX, (INT_MAX - 941) / 2, (INT_MAX - 590) / 2},
    CentringCase{INT_MIN, INT_MIN, static_cast<int>((static_cast<long long>(INT_MIN) - 941) / 2),
                 static_cast<int>((static_cast<long long>(INT_MIN) - 590) / 2)}));

TEST(GameViewPlacement, CoversTheWindowAndShowsTheGameCutOut) {
    constexpr Rect view = game_view_rect();
    EXPECT_EQ(view.left, -51);
    EXPECT_EQ(view.top, -80);
    EXPECT_EQ(view.width, 1060);
    EXPECT_EQ(view.height, 680);
    // It reaches past the window on every side: 51, 80, 68 and 10 pixels.
    EXPECT_EQ(-view.left, 51);
    EXPECT_EQ(-view.top, 80);
    EXPECT_EQ(view.left + view.width - MAIN_WINDOW_WIDTH, 68);
    EXPECT_EQ(view.top + view.height - MAIN_WINDOW_HEIGHT, 10);

    constexpr Rect shown = visible_page_rect();
    EXPECT_EQ(shown.left, 51);
    EXPECT_EQ(shown.top, 80);
    EXPECT_EQ(shown.left + shown.width, 992);
    EXPECT_EQ(shown.top + shown.height, 670);
}
