#include "platform/Foundation/NSFileManager.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "platform/Foundation/NSData.h"
#include "tests/support/TemporaryFolder.h"

namespace {

class FileManagerTest : public ::testing::Test {
  protected:
    NSFileManager& files = NSFileManager::defaultManager();
    TemporaryFolder dir;

    void write(const std::string& path, const std::string& text) {
        Data d(text.begin(), text.end());
        ASSERT_TRUE(files.createFileAtPath(path, &d));
    }
    std::string read(const std::string& path) {
        auto d = NSData::dataWithContentsOfFile(path);
        return d ? std::string(d->begin(), d->end()) : "<none>";
    }
};

TEST_F(FileManagerTest, ExistsCountsFilesAndDirectories) {
    write(dir / "file", "x");
    bool isDirectory = true;
    EXPECT_TRUE(files.fileExistsAtPath(dir / "file", &isDirectory));
    EXPECT_FALSE(isDirectory);
    EXPECT_TRUE(files.fileExistsAtPath(dir.path(), &isDirectory));
    EXPECT_TRUE(isDirectory);
    EXPECT_FALSE(files.fileExistsAtPath(dir / "none", &isDirectory));
    EXPECT_FALSE(isDirectory);
}

TEST_F(FileManagerTest, CreatesDirectoriesWithOrWithoutParents) {
    NSErrorPtr error;
    EXPECT_FALSE(files.createDirectoryAtPath(dir / "a/b/c", false, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), ENOENT);

    EXPECT_TRUE(files.createDirectoryAtPath(dir / "a/b/c", true));
    EXPECT_TRUE(files.createDirectoryAtPath(dir / "a/b/c", true));  // already there
    error.reset();
    EXPECT_FALSE(files.createDirectoryAtPath(dir / "a/b/c", false, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), EEXIST);

    write(dir / "plain", "x");
    EXPECT_FALSE(files.createDirectoryAtPath(dir / "plain", true));
}

TEST_F(FileManagerTest, RemovesFoldersWithTheirContents) {
    ASSERT_TRUE(files.createDirectoryAtPath(dir / "tree/sub", true));
    write(dir / "tree/sub/f", "x");
    EXPECT_TRUE(files.removeItemAtPath(dir / "tree"));
    EXPECT_FALSE(files.fileExistsAtPath(dir / "tree"));

    NSErrorPtr error;
    EXPECT_FALSE(files.removeItemAtPath(dir / "tree", &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), ENOENT);
}

TEST_F(FileManagerTest, RemovesAPlainFileAndNothingElse) {
    write(dir / "plain", "x");
    ASSERT_TRUE(files.createDirectoryAtPath(dir / "folder", true));
    write(dir / "folder/inside", "x");
    std::filesystem::create_symlink(dir / "plain", dir / "link");
    EXPECT_TRUE(files.removePlainFileAtPath(dir / "plain"));
    EXPECT_FALSE(files.entryExistsAtPath(dir / "plain"));
    write(dir / "plain", "x");
    for (const char* name : {"folder", "link", "none"}) {
        NSErrorPtr error;
        EXPECT_FALSE(files.removePlainFileAtPath(dir / name, &error)) << name;
        EXPECT_TRUE(error) << name;
    }
    EXPECT_EQ(read(dir / "folder/inside"), "x");
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link"));
    EXPECT_EQ(read(dir / "plain"), "x");
}

// Only the exact shape of the temporary files the writer makes is taken for one.
TEST_F(FileManagerTest, TemporaryNamesAreExactlyTheWritersShape) {
    const std::string written = NSData::writeToTemporaryFile(Data{1}, dir / "Video_0001");
    ASSERT_FALSE(written.empty());
    std::string forName;
    EXPECT_TRUE(NSData::isTemporaryFileName(written.substr(written.rfind('/') + 1), &forName));
    EXPECT_EQ(forName, "Video_0001");
    const struct {
        const char* name;
        bool temporary;
    } cases[] = {
        {".tilvex-temp.mov.a1B2c3", true},  {".tilvex-settings.json", false},
        {".tilvex-album-backup", false},    {".tilvex-x.ab-cd!", false},
        {".tilvex-.abcdef", false},         {".tilvex-notes.txt.abcde", false},
        {"tilvex-notes.txt.abcdef", false}, {".tilvex-notes.txt.abcdefg", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NSData::isTemporaryFileName(c.name), c.temporary) << c.name;
}

TEST_F(FileManagerTest, MovesButNeverOverwrites) {
    write(dir / "src", "new");
    write(dir / "dst", "old");
    NSErrorPtr error;
    EXPECT_FALSE(files.moveItemAtPath(dir / "src", dir / "dst", &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(read(dir / "dst"), "old");

    EXPECT_TRUE(files.moveItemAtPath(dir / "src", dir / "moved"));
    EXPECT_FALSE(files.fileExistsAtPath(dir / "src"));
    EXPECT_EQ(read(dir / "moved"), "new");
    EXPECT_FALSE(files.moveItemAtPath(dir / "src", dir / "again"));
}

TEST_F(FileManagerTest, CreateFileReplacesAndMayBeEmpty) {
    write(dir / "f", "first");
    write(dir / "f", "2");
    EXPECT_EQ(read(dir / "f"), "2");
    EXPECT_TRUE(files.createFileAtPath(dir / "empty", nullptr));
    EXPECT_EQ(read(dir / "empty"), "");
    EXPECT_FALSE(files.createFileAtPath(dir / "missing/f", nullptr));
}

TEST_F(FileManagerTest, ListsAFolderSorted) {
    write(dir / "b", "");
    write(dir / ".hidden", "");
    ASSERT_TRUE(files.createDirectoryAtPath(dir / "a", false));
    EXPECT_EQ(files.contentsOfDirectoryAtPath(dir.path()),
              (std::vector<std::string>{".hidden", "a", "b"}));
    NSErrorPtr error;
    EXPECT_FALSE(files.contentsOfDirectoryAtPath(dir / "none", &error));
    EXPECT_TRUE(error);
}

TEST_F(FileManagerTest, DataReadsNothingFromMissingFilesOrFolders) {
    EXPECT_FALSE(NSData::dataWithContentsOfFile(dir / "none"));
    EXPECT_FALSE(NSData::dataWithContentsOfFile(dir.path()));
}

TEST_F(FileManagerTest, AtomicWriteReplacesWholeAndLeavesNoTemporaryFile) {
    Data big(300000, 0xAB);
    ASSERT_TRUE(NSData::writeToFile(Data{1, 2, 3}, dir / "f", true));
    ASSERT_TRUE(NSData::writeToFile(big, dir / "f", true));
    EXPECT_EQ(NSData::dataWithContentsOfFile(dir / "f"), big);
    EXPECT_EQ(files.contentsOfDirectoryAtPath(dir.path()), (std::vector<std::string>{"f"}));
}

TEST_F(FileManagerTest, FailedWritesReportAndLeaveNothing) {
    for (bool atomically : {true, false}) {
        NSErrorPtr error;
        EXPECT_FALSE(NSData::writeToFile(Data{1}, dir / "missing/f", atomically, &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), ENOENT);
    }
    // A folder in the way: the temporary file is made, the rename fails, the folder stays.
    ASSERT_TRUE(files.createDirectoryAtPath(dir / "taken", false));
    EXPECT_FALSE(NSData::writeToFile(Data{1}, dir / "taken", true));
    EXPECT_EQ(files.contentsOfDirectoryAtPath(dir.path()), (std::vector<std::string>{"taken"}));
}

}  // namespace
