// Runs the built tilvex program.

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <type_traits>

#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/PropertyList.h"
#include "tests/app/TilvexProgram.h"
#include "tests/support/TemporaryFolder.h"

namespace {

// A run's program, environment and arguments are of distinct types: a run that passes them in
// the wrong order, or as plain text, does not build.
using RunProgram = decltype(&runProgram);
static_assert(std::is_invocable_v<RunProgram, Program, Environment, Arguments, Launcher>);
static_assert(!std::is_invocable_v<RunProgram, Environment, Program, Arguments, Launcher>);
static_assert(!std::is_invocable_v<RunProgram, std::string, std::string, std::string, std::string>);
static_assert(!std::is_invocable_v<decltype(&runTilvex), Arguments, Environment, Launcher>);

class TilvexProgramTest : public ::testing::Test {
  protected:
    void SetUp() override { SKIP_UNLESS_TILVEX_IS_BUILT(); }
};

TEST_F(TilvexProgramTest, VersionComesFromInfoPlist) {
    TemporaryFolder resources;
    ValueDictionary info;
    info.set("CFBundleShortVersionString", Value("9.8.7"));
    ASSERT_TRUE(NSData::writeToFile(*PropertyList::writeXML(Value(std::move(info))),
                                    resources / "Info.plist", true));
    ProgramOutcome r =
        runTilvex(Environment({"TILVEX_RESOURCES=" + resources.path()}), Arguments("--version"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "tilvex 9.8.7\n");

    ProgramOutcome real =
        runTilvex(Environment("TILVEX_RESOURCES=" TILVEX_SOURCE_DIR "/app/Resources"),
                  Arguments("--version"));
    EXPECT_EQ(real.out, "tilvex 0.1.0\n");
}

TEST_F(TilvexProgramTest, HelpListsEverySettingWithItsCurrentValue) {
    TemporaryFolder home;
    ProgramOutcome r = runTilvex(
        Environment("TILVEX_CAMERA=env-camera TILVEX_REST_URL=http://127.0.0.1:1/env"),
        Arguments({"--rest-url", "http://127.0.0.1:1/option", "--home", home.path(), "--help"}));
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
    // The window's keys as its title names them.
    for (const char* key : {"Ctrl+H the\n                 home button", "Ctrl+Q or closing"})
        EXPECT_NE(r.out.find(key), std::string::npos) << key << "\n" << r.out;
}

TEST_F(TilvexProgramTest, BadArgumentsFailWithAMessage) {
    ProgramOutcome unknown = runTilvex(Environment(), Arguments("--bogus"));
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.out.find("--bogus"), std::string::npos);
    ProgramOutcome missing = runTilvex(Environment(), Arguments("--camera"));
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.out.find("--camera needs a value"), std::string::npos);
}

TEST_F(TilvexProgramTest, AScriptLineOutOfRangeEndsTheProgramBeforeItStarts) {
    TemporaryFolder dir;
    std::ofstream(dir / "bad.txt") << "wait 1\nwait -5\n";
    ProgramOutcome r = runTilvex(Environment({"TILVEX_HOME=" + dir / "home"}),
                                 Arguments({"--script", dir / "bad.txt"}));
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_NE(r.out.find(dir / "bad.txt:2: "), std::string::npos) << r.out;
    EXPECT_FALSE(NSFileManager::defaultManager().fileExistsAtPath(dir / "home"));
}

// Scripts the reader refuses before anything runs: numbers not in decimal (a hexadecimal wait
// ran for 16 s), a NUL byte, an overlong line, a file past its size or without end (which grew
// without bound). Each ends with its place, status 2 and no home made.
TEST_F(TilvexProgramTest, AScriptPastTheReadersLimitsEndsTheProgramBeforeItStarts) {
    TemporaryFolder dir;
    struct Case {
        const char* name;
        std::string text;  // the script's text; empty: the file is `path`
        std::string path;
        std::string where;  // the message's start, after the path
    };
    const Case cases[] = {
        {"hex.txt", "wait 1\nwait 0x10\n", "", ":2: "},
        {"exponent.txt", "wait-until button.title Stop 1e1\n", "", ":1: "},
        {"nul.txt", "tap albumButton\ntap but" + std::string(1, '\0') + "ton\n", "", ":2: "},
        {"long.txt", "tap " + std::string(5000, 'x') + "\n", "", ":1: "},
        {"large.txt", std::string(2 << 20, '\n'), "", ": "},
        {"zero", "", "/dev/zero", ": "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = c.path.empty() ? dir / c.name : c.path;
        if (c.path.empty())
            std::ofstream(path, std::ios::binary) << c.text;
        ProgramOutcome r =
            runTilvex(Environment({"TILVEX_HOME=" + dir / "home"}), Arguments({"--script", path}));
        EXPECT_EQ(r.status, 2) << r.out;
        EXPECT_EQ(r.out.rfind("tilvex: " + path + c.where, 0), 0u) << r.out;
        EXPECT_FALSE(NSFileManager::defaultManager().fileExistsAtPath(dir / "home"));
    }
}

TEST_F(TilvexProgramTest, StartingMakesTheHomeFolder) {
    TemporaryFolder dir;
    std::ofstream(dir / "quit.txt") << "quit\n";
    ProgramOutcome r = runTilvex(Environment({"TILVEX_HOME=" + dir / "home"}),
                                 Arguments({"--script", dir / "quit.txt"}));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(NSFileManager::defaultManager().fileExistsAtPath(dir / "home/Library/Preferences"));
}

// No shell reads a run: words with blanks, quotes and shell characters reach the program, its
// environment and its launcher as they are, in a folder whose name holds them too.
TEST(ProgramRunTest, WordsReachTheProgramAsTheyAre) {
    TemporaryFolder folder;
    const std::string odd = folder / "a b 'c' $HOME \"d\"";
    std::filesystem::create_directory(odd);
    const std::string script = odd + "/show.sh";
    std::ofstream(script) << "printf '[%s]' \"$@\"; printf '{%s}{%s}{%s}' \"$X\" \"$Y\" "
                             "\"${TILVEX_GONE-unset}\"\n";
    ::setenv("TILVEX_GONE", "set", 1);
    ProgramOutcome r = runProgram(Program(script), Environment({"X=one  two", "-u TILVEX_GONE"}),
                                  Arguments({"a b", "it's", "$HOME", "", "*"}),
                                  Launcher({"env", "Y=" + odd, "sh"}));
    ::unsetenv("TILVEX_GONE");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "[a b][it's][$HOME][][*]{one  two}{" + odd + "}{unset}");

    // A text splits at blanks; "-u NAME" is one setting.
    EXPECT_EQ(runProgram(Program("/usr/bin/printf"), Environment(), Arguments(" [%s]  a\tb ")).out,
              "[a][b]");
    ::setenv("TILVEX_GONE", "set", 1);
    ProgramOutcome env =
        runProgram(Program("/usr/bin/env"), Environment("X=1 -u TILVEX_GONE  Z=2"));
    ::unsetenv("TILVEX_GONE");
    EXPECT_NE(env.out.find("\nX=1\n"), std::string::npos) << env.out;
    EXPECT_NE(env.out.find("\nZ=2\n"), std::string::npos) << env.out;
    EXPECT_EQ(env.out.find("TILVEX_GONE"), std::string::npos) << env.out;
}

// A program that hangs ends its test, not the whole run: at the time limit it is killed with
// everything it started (here a child that holds its output open), and the test fails.
TEST(ProgramRunTest, AProgramPastItsTimeLimitIsKilledWithWhatItStarted) {
    static ProgramOutcome hung;
    const int saved = std::exchange(gProgramTimeLimitSeconds, 1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NONFATAL_FAILURE(hung = runProgram(Program("/bin/sh"), Environment(),
                                              Arguments({"-c", "sleep 60 & echo $!; sleep 60"})),
                            "and was killed");
    gProgramTimeLimitSeconds = saved;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_TRUE(hung.timedOut);
    EXPECT_EQ(hung.signal, SIGKILL);
    // The background child went with it (gone, or dead and not yet reaped).
    const pid_t child = std::stoi(hung.out);
    bool gone = false;
    for (int i = 0; i < 250 && !gone; ++i) {
        std::ifstream stat("/proc/" + std::to_string(child) + "/stat");
        std::string pid, name, state;
        gone = !(stat >> pid >> name >> state) || state == "Z";
        if (!gone)
            ::usleep(20'000);
    }
    EXPECT_TRUE(gone) << "the child " << child << " still runs";
}

}  // namespace
