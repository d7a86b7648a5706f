// Centring the window on its monitor's work area.
#include <gtest/gtest.h>

#include "app/window_geometry.hpp"

namespace vellumo {
namespace {

struct Case {
    const char* name;
    platform::Rect work_area;
    int width, height;
    int x, y;
};

class CentredPosition : public ::testing::TestWithParam<Case> {};

TEST_P(CentredPosition, TruncatesOddDifferencesTowardZero) {
    const Case& c = GetParam();
    const Position p = centred_position(c.work_area, c.width, c.height);
    EXPECT_EQ(p.x, c.x);
    EXPECT_EQ(p.y, c.y);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CentredPosition,
    ::testing::Values(
        Case{"OddDifferences", {0, 0, 1920, 1040}, 901, 621, 509, 209},
        Case{"EvenDifferences", {0, 0, 1280, 1024}, 880, 580, 200, 222},
        Case{"WorkAreaBesideATaskbar", {48, 0, 1872, 1080}, 880, 580, 544, 250},
        Case{"SecondMonitor", {-1600, -200, 1600, 900}, 880, 580, -1240, -40},
        // Wider than the room: a difference of -3 gives -1, not -2.
        Case{"WiderThanTheWorkArea", {0, 0, 877, 577}, 880, 580, -1, -1},
        Case{"WiderOnAnOffsetArea", {100, 50, 640, 480}, 880, 580, -20, 0},
        // An unknown work area counts as all zeros.
        Case{"UnknownWorkArea", {0, 0, 0, 0}, 881, 581, -440, -290}),
    [](const auto& info) { return std::string(info.param.name); });

struct Screen : platform::System {
    platform::Rect frame{3, 4, 901, 621};
    platform::Rect area{0, 0, 1920, 1040};
    void* moved = nullptr;
    int x = 0, y = 0;
    platform::Rect window_frame(void*) override { return frame; }
    platform::Rect work_area(void*) override { return area; }
    void move_window(void* window, int to_x, int to_y) override {
        moved = window;
        x = to_x;
        y = to_y;
    }
};

TEST(CentreWindow, MovesTheWindowByItsOuterSize) {
    Screen screen;
    platform::ScopedSystem scoped(screen);
    int window = 0;
    centre_window(&window);
    EXPECT_EQ(screen.moved, &window);
    EXPECT_EQ(screen.x, 509);
    EXPECT_EQ(screen.y, 209);
}

}  // namespace
}  // namespace vellumo
