#include "platform/Foundation/NSPathUtilities.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/Foundation/NSFileManager.h"
#include "tests/platform/Foundation/ScopedEnvironment.h"
#include "tests/support/TemporaryFolder.h"

namespace {

TEST(NSPathUtilities, TheHomeComesFromTheEnvironmentInOrder) {
    struct Case {
        std::optional<std::string> tilvexHome;
        std::optional<std::string> xdgDataHome;
        std::string home;
    };
    const Case cases[] = {
        {"/h/tilvex", "/x", "/h/tilvex"},
        {"~/mine", std::nullopt, "/users/me/mine"},
        {"", "/x/data", "/x/data/tilvex"},
        {std::nullopt, "/x/data/", "/x/data/tilvex"},
        {std::nullopt, std::nullopt, "/users/me/.local/share/tilvex"},
        {std::nullopt, "", "/users/me/.local/share/tilvex"},
    };
    NSSetHomeDirectory("");
    for (const Case& c : cases) {
        ScopedEnvironment env;
        env.set("HOME", "/users/me");
        env.set("TILVEX_HOME", c.tilvexHome);
        env.set("XDG_DATA_HOME", c.xdgDataHome);
        EXPECT_EQ(NSHomeDirectory(), c.home) << c.tilvexHome.value_or("-");
        EXPECT_EQ(NSSearchPathForDirectoriesInDomains(NSDocumentDirectory, NSUserDomainMask, true),
                  std::vector<std::string>{c.home + "/Documents"});
    }
}

TEST(NSPathUtilities, ASetHomeWinsOverTheEnvironment) {
    ScopedEnvironment env;
    env.set("TILVEX_HOME", "/from/env");
    NSSetHomeDirectory("/set/home");
    EXPECT_EQ(NSHomeDirectory(), "/set/home");
    EXPECT_EQ(homeDirectoryFromEnvironment(), "/from/env");
    NSSetHomeDirectory("");
    EXPECT_EQ(NSHomeDirectory(), "/from/env");
}

TEST(NSPathUtilities, TheSearchCreatesNothing) {
    TemporaryFolder dir;
    ScopedEnvironment env;
    env.set("TILVEX_HOME", dir / "home");
    NSSetHomeDirectory("");
    auto paths = NSSearchPathForDirectoriesInDomains(NSDocumentDirectory, NSUserDomainMask, true);
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(paths[0], dir / "home/Documents");
    EXPECT_FALSE(NSFileManager::defaultManager().fileExistsAtPath(dir / "home"));
}

}  // namespace
