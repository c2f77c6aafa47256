#include "platform/Device/DeviceSettings.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/platform/Foundation/ScopedEnvironment.h"

namespace {

// Every setting's variable unset, HOME fixed, no settings installed.
class DeviceSettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const auto& s : DeviceSettings::table()) env_.set(s.variable, std::nullopt);
        env_.set("XDG_DATA_HOME", std::nullopt);
        env_.set("HOME", "/users/me");
        DeviceSettings::uninstall();
    }
    void TearDown() override { DeviceSettings::uninstall(); }
    ScopedEnvironment env_;
};

TEST_F(DeviceSettingsTest, DefaultsStayOnThisMachine) {
    DeviceSettings s = DeviceSettings::fromEnvironment();
    EXPECT_EQ(s.home, "/users/me/.local/share/tilvex");
    EXPECT_EQ(s.camera, "lavfi:testsrc2=size=640x480:rate=30");
    EXPECT_EQ(s.microphone, "lavfi:sine=frequency=440:sample_rate=44100");
    EXPECT_EQ(s.analyticsURL, "http://analytics.tilvex.invalid/");
    EXPECT_EQ(s.adnetURL, "http://adnet.tilvex.invalid");
    EXPECT_EQ(s.restURL, "http://rest.tilvex.invalid/restserver.php");
    EXPECT_EQ(s.loginURL, "http://login.tilvex.invalid/");
    EXPECT_EQ(s.scale, "auto");
    EXPECT_EQ(s.audio, "default");
}

TEST_F(DeviceSettingsTest, OptionsWinOverTheEnvironmentWhichWinsOverDefaults) {
    struct Case {
        const char* variable;
        const char* option;
        std::string DeviceSettings::*member;
    };
    const Case cases[] = {
        {"TILVEX_HOME", "--home", &DeviceSettings::home},
        {"TILVEX_CAMERA", "--camera", &DeviceSettings::camera},
        {"TILVEX_MICROPHONE", "--microphone", &DeviceSettings::microphone},
        {"TILVEX_ANALYTICS_URL", "--analytics-url", &DeviceSettings::analyticsURL},
        {"TILVEX_ADNET_URL", "--adnet-url", &DeviceSettings::adnetURL},
        {"TILVEX_REST_URL", "--rest-url", &DeviceSettings::restURL},
        {"TILVEX_LOGIN_URL", "--login-url", &DeviceSettings::loginURL},
        {"TILVEX_SCALE", "--scale", &DeviceSettings::scale},
        {"TILVEX_AUDIO", "--audio", &DeviceSettings::audio},
    };
    for (const Case& c : cases) {
        ScopedEnvironment env;
        env.set(c.variable, "/from/env");
        EXPECT_EQ(DeviceSettings::fromEnvironment().*c.member, "/from/env") << c.variable;

        auto spaced = DeviceSettings::parse({c.option, "/from/option"});
        EXPECT_EQ(spaced.error, "");
        EXPECT_EQ(spaced.settings.*c.member, "/from/option") << c.option;

        auto joined = DeviceSettings::parse({std::string(c.option) + "=/joined"});
        EXPECT_EQ(joined.settings.*c.member, "/joined") << c.option;
        EXPECT_TRUE(joined.rest.empty());
    }
}

TEST_F(DeviceSettingsTest, TheHomeFollowsXdgAndAnEmptyVariableCountsAsUnset) {
    env_.set("XDG_DATA_HOME", "/data");
    env_.set("TILVEX_HOME", "");
    env_.set("TILVEX_CAMERA", "");
    DeviceSettings s = DeviceSettings::fromEnvironment();
    EXPECT_EQ(s.home, "/data/tilvex");
    EXPECT_EQ(s.camera, "lavfi:testsrc2=size=640x480:rate=30");
    EXPECT_EQ(DeviceSettings::parse({"--home", "~/phone"}).settings.home, "/users/me/phone");
}

TEST_F(DeviceSettingsTest, OtherArgumentsAreLeftInOrder) {
    auto r = DeviceSettings::parse({"--script", "demo.txt", "--camera", "none", "--version", "x"});
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.settings.camera, "none");
    EXPECT_EQ(r.rest, (std::vector<std::string>{"--script", "demo.txt", "--version", "x"}));
    // A prefix of an option is no option.
    EXPECT_EQ(DeviceSettings::parse({"--cam", "v"}).rest, (std::vector<std::string>{"--cam", "v"}));
}

TEST_F(DeviceSettingsTest, AnOptionWithoutAValueIsAnError) {
    for (auto args : {std::vector<std::string>{"--camera"}, {"--home="}, {"--rest-url", ""}}) {
        auto r = DeviceSettings::parse(args);
        EXPECT_NE(r.error.find(args[0].substr(0, args[0].find('='))), std::string::npos) << r.error;
    }
}

TEST_F(DeviceSettingsTest, InstalledSettingsAreTheCurrentOnes) {
    EXPECT_EQ(DeviceSettings::current().camera, "lavfi:testsrc2=size=640x480:rate=30");
    DeviceSettings s = DeviceSettings::parse({"--camera", "v4l2:/dev/video0"}).settings;
    DeviceSettings::install(s);
    env_.set("TILVEX_CAMERA", "none");
    EXPECT_EQ(DeviceSettings::current().camera, "v4l2:/dev/video0");
    DeviceSettings::uninstall();
    EXPECT_EQ(DeviceSettings::current().camera, "none");
}

}  // namespace
