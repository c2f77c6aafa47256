// Missing resources, end to end: an object model that is missing or does not read takes the
// store's fatal road; a resource folder that is not there is named, by the program and by
// test_app, instead of a crash.

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/app/TilvexProgram.h"
#include "tests/support/TemporaryFolder.h"

namespace {

class ResourcesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SKIP_UNLESS_TILVEX_IS_BUILT();
        std::ofstream(quit_) << "quit\n";
    }
    TemporaryFolder folder_;
    const std::string quit_ = folder_ / "quit.txt";
};

TEST_F(ResourcesTest, AnObjectModelThatDoesNotReadTakesTheStoresFatalRoad) {
    struct Case {
        const char* name;
        const char* model;  // the text of Tilvex.mom; none without the file
    };
    const Case cases[] = {
        {"no model", nullptr},
        {"not a property list", "not a model"},
        {"no entities", "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict/></plist>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TemporaryFolder dir;
        const std::string resources = dir / "Resources";
        std::filesystem::copy(TILVEX_SOURCE_DIR "/app/Resources", resources);
        std::filesystem::remove(resources + "/Tilvex.mom");
        if (c.model)
            std::ofstream(resources + "/Tilvex.mom") << c.model;

        ProgramOutcome run = runTilvex(Environment({"TILVEX_RESOURCES=" + resources}),
                                       Arguments({"--home", dir / "home", "--script", quit_}));
        EXPECT_EQ(run.signal, SIGABRT) << run.out;
        EXPECT_NE(run.out.find("Unresolved error "), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("no readable object model (a .mom file) in " + resources),
                  std::string::npos)
            << run.out;
        EXPECT_FALSE(std::filesystem::exists(dir / "home/Documents/Videos.sqlite"));
    }
}

TEST_F(ResourcesTest, AResourceFolderThatIsNotThereIsNamed) {
    // The program where no resources lie beside it, and this test program run by hand.
    const std::string lonely = folder_ / "tilvex";
    std::filesystem::copy_file(tilvexProgramPath(), lonely);
    char self[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::string tests = std::filesystem::path(self).parent_path().string();
    struct Case {
        const char* name;
        Program program;
        Environment env;
        Arguments args;
        std::vector<std::string> places;
    };
    const Case cases[] = {
        {"named by TILVEX_RESOURCES",
         Program(tilvexProgramPath()),
         Environment({"TILVEX_RESOURCES=" + folder_ / "gone"}),
         Arguments({"--script", quit_}),
         {folder_ / "gone"}},
        {"beside the program",
         Program(lonely),
         Environment("-u TILVEX_RESOURCES"),
         Arguments({"--script", quit_}),
         {folder_ / "Resources", folder_ / "../share/tilvex"}},
        {"test_app",
         Program(self),
         Environment("-u TILVEX_RESOURCES"),
         Arguments("--gtest_filter=PathAdditionsTest.*"),
         {tests + "/Resources", tests + "/../share/tilvex"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramOutcome run = runProgram(c.program, c.env, c.args);
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_NE(run.out.find("no resource folder found; looked for "), std::string::npos)
            << run.out;
        for (const std::string& place : c.places)
            EXPECT_NE(run.out.find(place), std::string::npos) << place << "\n" << run.out;
    }
}

}  // namespace
