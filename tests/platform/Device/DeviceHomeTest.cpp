#include "platform/Device/DeviceHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSPathUtilities.h"
#include "tests/support/TemporaryFolder.h"

namespace {

class DeviceHomeTest : public ::testing::Test {
  protected:
    void TearDown() override { NSSetHomeDirectory(""); }
    TemporaryFolder dir;
    NSFileManager& files = NSFileManager::defaultManager();
};

TEST_F(DeviceHomeTest, PrepareMakesTheSandboxAndMakesItTheHome) {
    const std::string home = dir / "a/home";
    ASSERT_TRUE(DeviceHome::prepare(home));
    for (std::string folder : {"Documents", "Library/Preferences", "Library/Cookies", "Mail/Outbox",
                               "Mail/Drafts", "Media/DCIM", "tmp"}) {
        bool isDirectory = false;
        EXPECT_TRUE(files.fileExistsAtPath(home + "/" + folder, &isDirectory) && isDirectory)
            << folder;
    }
    EXPECT_EQ(NSHomeDirectory(), home);
    EXPECT_EQ(NSSearchPathForDirectoriesInDomains(NSDocumentDirectory, NSUserDomainMask, true),
              std::vector<std::string>{DeviceHome::documents()});
    EXPECT_EQ(DeviceHome::outbox(), home + "/Mail/Outbox");
    EXPECT_EQ(DeviceHome::drafts(), home + "/Mail/Drafts");
    EXPECT_EQ(DeviceHome::photoAlbum(), home + "/Media/DCIM");
}

TEST_F(DeviceHomeTest, PreparingAgainKeepsWhatIsThere) {
    const std::string home = dir / "home";
    ASSERT_TRUE(DeviceHome::prepare(home));
    ASSERT_TRUE(NSData::writeToFile(Data{1, 2}, home + "/Documents/Video_0001", true));
    ASSERT_TRUE(DeviceHome::prepare(home));
    EXPECT_EQ(NSData::dataWithContentsOfFile(home + "/Documents/Video_0001"), (Data{1, 2}));
}

TEST_F(DeviceHomeTest, AHomeThatCannotBeMadeIsReportedAndNotInstalled) {
    ASSERT_TRUE(files.createFileAtPath(dir / "file", nullptr));
    NSSetHomeDirectory(dir / "before");
    NSErrorPtr error;
    EXPECT_FALSE(DeviceHome::prepare(dir / "file/home", &error));
    EXPECT_TRUE(error);
    EXPECT_EQ(NSHomeDirectory(), dir / "before");
}

// Two homes whose Documents is one folder (a link): the second is refused, by a message that
// names its Documents folder, and the first stays the process's home.
TEST_F(DeviceHomeTest, AHomeWhoseDocumentsFolderIsHeldIsRefused) {
    const std::string first = dir / "first";
    ASSERT_TRUE(DeviceHome::prepare(first));
    const std::string second = dir / "second";
    ASSERT_TRUE(files.createDirectoryAtPath(second, true));
    std::filesystem::create_directory_symlink(first + "/Documents", second + "/Documents");
    NSErrorPtr error;
    EXPECT_FALSE(DeviceHome::prepare(second, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->localizedDescription(),
              "The Documents folder " + second + "/Documents (" + first +
                  "/Documents) is in use by another process; one process at a time can use a "
                  "Documents folder.");
    EXPECT_EQ(NSHomeDirectory(), first);
    EXPECT_FALSE(files.fileExistsAtPath(second + "/Library")) << "the refused home was made";

    // A home of its own Documents is taken as usual, and lets the first one's go.
    std::filesystem::remove(second + "/Documents");
    ASSERT_TRUE(DeviceHome::prepare(second));
    const std::string third = dir / "third";
    ASSERT_TRUE(files.createDirectoryAtPath(third, true));
    std::filesystem::create_directory_symlink(first + "/Documents", third + "/Documents");
    EXPECT_TRUE(DeviceHome::prepare(third));
}

}  // namespace
