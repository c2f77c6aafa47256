// CTest labels: threads

#include "platform/Desktop/DesktopWindow.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/platform/Foundation/ScopedEnvironment.h"

namespace {

TEST(DesktopWindowTest, TheScaleSettingIsAutoOrAWholeNumberFromOneToSixteen) {
    struct Case {
        std::string setting;
        std::optional<int> scale;
    };
    const Case cases[] = {{"auto", 0},
                          {"1", 1},
                          {"2", 2},
                          {"16", 16},
                          {"0", std::nullopt},
                          {"17", std::nullopt},
                          {"-1", std::nullopt},
                          {"1.5", std::nullopt},
                          {"2x", std::nullopt},
                          {"", std::nullopt},
                          {"AUTO", std::nullopt},
                          {"002", std::nullopt}};
    for (const Case& c : cases)
        EXPECT_EQ(DesktopWindow::parseScale(c.setting), c.scale) << c.setting;
}

TEST(DesktopWindowTest, AutoIsTwoWhereTwiceTheScreenFitsElseOneAndANumberIsBroughtDownToFit) {
    struct Case {
        int setting, width, height, scale;
    };
    const Case cases[] = {
        {0, 1920, 1050, 2}, {0, 1366, 740, 1},    {0, 640, 960, 2},   {0, 639, 1200, 1},
        {0, 1920, 959, 1},  {0, 0, 0, 1},         {1, 4000, 4000, 1}, {3, 1280, 1024, 2},
        {3, 960, 1440, 3},  {3, 959, 1440, 2},    {3, 960, 1439, 2},  {3, 800, 600, 1},
        {16, 200, 200, 1},  {16, 5120, 7680, 16}, {4, 3840, 2160, 4}, {3, 0, 0, 3},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DesktopWindow::chooseScale(c.setting, c.width, c.height), c.scale)
            << c.setting << " on " << c.width << "x" << c.height;
}

TEST(DesktopWindowTest, ADisplayIsThereWhenXOrWaylandNamesOne) {
    struct Case {
        std::optional<std::string> x, wayland;
        bool available;
    };
    const Case cases[] = {{std::nullopt, std::nullopt, false},
                          {":5", std::nullopt, true},
                          {std::nullopt, "wayland-0", true},
                          {"", "", false},
                          {"", "wayland-1", true}};
    for (const Case& c : cases) {
        ScopedEnvironment env;
        env.set("DISPLAY", c.x);
        env.set("WAYLAND_DISPLAY", c.wayland);
        EXPECT_EQ(DesktopWindow::isDisplayAvailable(), c.available)
            << c.x.value_or("unset") << " / " << c.wayland.value_or("unset");
    }
}

}  // namespace
