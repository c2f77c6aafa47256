// Runs the built tilvex program.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/PropertyList.h"
#include "tests/support/TemporaryFolder.h"

namespace {

struct Outcome {
    int status;
    std::string out;
};

class TilvexProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!NSFileManager::defaultManager().fileExistsAtPath(program_))
            GTEST_SKIP() << program_ << " is not built";
    }

    // `env` and `args` go through the shell as written.
    Outcome run(const std::string& env, const std::string& args) {
        std::string command = "env " + env + " " + program_ + " " + args + " 2>&1";
        FILE* pipe = ::popen(command.c_str(), "r");
        if (!pipe)
            return {-1, ""};
        std::string out;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
        int status = ::pclose(pipe);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
    }

    const std::string program_ = std::string(TILVEX_BINARY_DIR) + "/app/tilvex";
};

TEST_F(TilvexProgramTest, VersionComesFromInfoPlist) {
    TemporaryFolder resources;
    ValueDictionary info;
    info.set("CFBundleShortVersionString", Value("9.8.7"));
    ASSERT_TRUE(NSData::writeToFile(*PropertyList::writeXML(Value(std::move(info))),
                                    resources / "Info.plist", true));
    Outcome r = run("TILVEX_RESOURCES=" + resources.path(), "--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "tilvex 9.8.7\n");

    Outcome real = run("TILVEX_RESOURCES=" TILVEX_SOURCE_DIR "/app/Resources", "--version");
    EXPECT_EQ(real.out, "tilvex 0.1.0\n");
}

TEST_F(TilvexProgramTest, HelpListsEverySettingWithItsCurrentValue) {
    TemporaryFolder home;
    Outcome r = run("TILVEX_CAMERA=env-camera TILVEX_REST_URL=http://127.0.0.1:1/env",
                    "--rest-url http://127.0.0.1:1/option --home " + home.path() + " --help");
    EXPECT_EQ(r.status, 0);
    for (const char* text :
         {"--home VALUE, TILVEX_HOME", "--camera VALUE, TILVEX_CAMERA", "TILVEX_MICROPHONE",
          "TILVEX_ANALYTICS_URL", "TILVEX_ADNET_URL", "TILVEX_REST_URL", "TILVEX_LOGIN_URL",
          "now: env-camera\n", "now: http://127.0.0.1:1/option\n",
          "now: http://login.tilvex.invalid/\n"}) {
        EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
    }
    EXPECT_NE(r.out.find("now: " + home.path() + "\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("now: http://127.0.0.1:1/env"), std::string::npos);
}

TEST_F(TilvexProgramTest, BadArgumentsFailWithAMessage) {
    Outcome unknown = run("", "--bogus");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.out.find("--bogus"), std::string::npos);
    Outcome missing = run("", "--camera");
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.out.find("--camera needs a value"), std::string::npos);
}

TEST_F(TilvexProgramTest, StartingMakesTheHomeFolder) {
    TemporaryFolder dir;
    Outcome r = run("TILVEX_HOME=" + dir / "home", "");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(NSFileManager::defaultManager().fileExistsAtPath(dir / "home/Library/Preferences"));
}

}  // namespace
