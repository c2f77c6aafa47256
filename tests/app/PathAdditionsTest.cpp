#include "app/NSString-PathAdditions.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include <set>
#include <string>
#include <vector>

#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSPathUtilities.h"
#include "tests/platform/Foundation/ScopedEnvironment.h"
#include "tests/support/TemporaryFolder.h"

namespace {

// A fresh home whose Documents folder exists.
class PathAdditionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        NSSetHomeDirectory(home.path());
        ASSERT_TRUE(files.createDirectoryAtPath(documents(), false));
    }
    void TearDown() override { NSSetHomeDirectory(""); }

    std::string documents() const { return NSHomeDirectory() + "/Documents"; }
    void touch(const std::string& name) {
        ASSERT_TRUE(NSData::writeToFile({}, documents() + "/" + name, false));
    }

    TemporaryFolder home;
    NSFileManager& files = NSFileManager::defaultManager();
};

TEST_F(PathAdditionsTest, DocumentsAndAppendedNames) {
    EXPECT_EQ(PathAdditions::documentsDirectory(), home / "Documents");
    EXPECT_EQ(PathAdditions::appendPath("Video_0001"), documents() + "/Video_0001");
    EXPECT_EQ(PathAdditions::appendPath(""), documents() + "/");
}

TEST_F(PathAdditionsTest, TheDocumentsDirectoryIsAskedAgainEachTime) {
    TemporaryFolder other;
    NSSetHomeDirectory(other.path());
    EXPECT_EQ(PathAdditions::findUniquePath("Video", ""), other / "Documents/Video_0001");
}

TEST_F(PathAdditionsTest, FindUniquePathTakesTheLowestFreeNumber) {
    struct Case {
        std::vector<std::string> files;
        std::vector<std::string> folders;
        std::set<std::string> taken;  // names a row still names
        const char* base;
        const char* ext;
        const char* expected;
    };
    const Case cases[] = {
        {{}, {}, {}, "Video", "", "Video_0001"},
        {{}, {}, {}, "Audio", ".caf", "Audio_0001.caf"},
        {{"Video_0001", "Video_0003"}, {}, {}, "Video", "", "Video_0002"},
        {{"Video_0001", "Video_0002"}, {}, {}, "Video", "", "Video_0003"},
        {{"Thumbnail_0001.jpg"},
         {"Thumbnail_0002.jpg"},
         {},
         "Thumbnail",
         ".jpg",
         "Thumbnail_0003.jpg"},
        {{}, {"Video_0001"}, {}, "Video", "", "Video_0002"},
        // Each kind is numbered on its own.
        {{"Video_0001", "Audio_0001.caf"}, {}, {}, "Thumbnail", ".jpg", "Thumbnail_0001.jpg"},
        {{"Video_0001"}, {}, {}, "Audio", ".caf", "Audio_0001.caf"},
        {{"Audio_0001"}, {}, {}, "Audio", ".caf", "Audio_0001.caf"},
        {{"Audio_0001.caf"}, {}, {}, "Audio", "", "Audio_0001"},
        {{"Video_1"}, {}, {}, "Video", "", "Video_0001"},
        // A name a row still names is taken though its file is gone.
        {{"Video_0001"}, {}, {"Video_0002", "Audio_0001.caf"}, "Video", "", "Video_0003"},
        {{}, {}, {"Video_0001", "Audio_0001.caf"}, "Audio", ".caf", "Audio_0002.caf"},
    };
    for (const Case& c : cases) {
        TemporaryFolder fresh;
        NSSetHomeDirectory(fresh.path());
        ASSERT_TRUE(files.createDirectoryAtPath(fresh / "Documents", false));
        for (const auto& f : c.files) touch(f);
        for (const auto& d : c.folders)
            ASSERT_TRUE(files.createDirectoryAtPath(fresh / "Documents/" + d, false));
        EXPECT_EQ(PathAdditions::findUniquePath(c.base, c.ext, c.taken),
                  fresh / "Documents/" + c.expected)
            << c.expected;
        // Only a name is chosen.
        EXPECT_FALSE(files.fileExistsAtPath(fresh / "Documents/" + c.expected)) << c.expected;
    }
}

TEST_F(PathAdditionsTest, FromTenThousandTheNumberTakesFiveDigits) {
    touch("Video_0001");
    // Hard links: creating 9998 files one by one is slow on some file systems.
    const std::string first = documents() + "/Video_0001";
    for (int n = 2; n <= 9999; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "/Video_%04d", n);
        ASSERT_EQ(::link(first.c_str(), (documents() + name).c_str()), 0) << name;
    }
    EXPECT_EQ(PathAdditions::findUniquePath("Video", ""), documents() + "/Video_10000");
    touch("Video_10000");
    EXPECT_EQ(PathAdditions::findUniquePath("Video", ""), documents() + "/Video_10001");
    EXPECT_EQ(PathAdditions::findUniquePath("Audio", ".caf"), documents() + "/Audio_0001.caf");
}

TEST(PathAdditions, StringFromIntervalTruncatesToMinutesAndSeconds) {
    struct Case {
        double seconds;
        const char* text;
    };
    const Case cases[] = {
        {0, "0:00"},      {0.999, "0:00"},    {9.99, "0:09"},  {10, "0:10"},
        {59.999, "0:59"}, {60, "1:00"},       {75.5, "1:15"},  {119.9, "1:59"},
        {600, "10:00"},   {3599.99, "59:59"}, {3725, "62:05"}, {6000, "100:00"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PathAdditions::stringFromInterval(c.seconds), c.text) << c.seconds;
}

TEST(PathAdditions, StringFromDateInTheDevicesZone) {
    struct Case {
        const char* tz;
        double unixTime;
        const char* text;
    };
    const Case cases[] = {
        {"Asia/Tokyo", 1267938300.0, "2010/03/07 14:05"},
        {"UTC", 1267938300.0, "2010/03/07 05:05"},
        {"America/New_York", 1267938300.0, "2010/03/07 00:05"},
        {"America/New_York", 1267938299.9, "2010/03/07 00:04"},
        {"Europe/Berlin", 1293839999.0, "2011/01/01 00:59"},
        {"Asia/Kolkata", 1293839999.0, "2011/01/01 05:29"},
    };
    // The locale is fixed to en_US whatever the user's is.
    ScopedEnvironment env;
    env.set("LANG", "ar_EG.UTF-8");
    for (const Case& c : cases) {
        env.set("TZ", c.tz);
        EXPECT_EQ(PathAdditions::stringFromDate(NSDate::dateWithTimeIntervalSince1970(c.unixTime)),
                  c.text)
            << c.tz;
    }
}

}  // namespace
