#include "analytics/Classes/Utils/Database/Database.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "analytics/Classes/Utils/Database/BeaconDatabase.h"
#include "analytics/Classes/Utils/RQAnalyticsLog.h"
#include "platform/Foundation/NSException.h"
#include "platform/Foundation/NSPathUtilities.h"
#include "tests/analytics/AnalyticsTestHome.h"

namespace {

namespace fs = std::filesystem;

const std::string kCorruptLine = "Beacon database file is corrupt; delete it and start a new one";

class CacheFileTest : public AnalyticsTestHome {
  protected:
    void touch(const std::string& path) { std::ofstream(path) << "x"; }
    static void writeText(const std::string& path) {
        std::ofstream(path) << "this is no database, only some text in its place\n";
    }
    static void overwrite(const std::string& path, std::streamoff at, size_t length, char byte) {
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(at);
        file << std::string(length, byte);
    }

    // The NSException an initialisation raises, or a failure when none.
    NSException initFailure(const std::optional<std::string>& code) {
        try {
            BeaconDatabase::initWithApplicationCode(code);
        } catch (const NSException& e) {
            return e;
        }
        ADD_FAILURE() << "no exception";
        return NSException("", "");
    }
};

TEST_F(CacheFileTest, LeftoverJournalWipesTheWholeDirectoryAndOpensAFreshFile) {
    BeaconDatabase::initWithApplicationCode(kTestCode)->startNewBeacon();
    BeaconDatabase::resetSharedForTesting();
    touch(cacheFile() + "-journal");
    touch(cacheFile("other code"));
    RQAnalyticsLog::enableDebugMode();

    testing::internal::CaptureStdout();
    auto store = BeaconDatabase::initWithApplicationCode(kTestCode);
    const std::string out = testing::internal::GetCapturedStdout();

    EXPECT_NE(out.find(" libRQAnalytics: Beacon database file is corrupt; delete it and start a "
                       "new one\n"),
              std::string::npos)
        << out;
    EXPECT_FALSE(fs::exists(cacheFile("other code")));
    EXPECT_FALSE(fs::exists(cacheFile() + "-journal"));
    EXPECT_TRUE(fs::exists(cacheFile()));
    EXPECT_EQ(store->currentRunningBeaconID(), 0);
    EXPECT_TRUE(store->beaconsToSend().empty());
}

// A file that SQLite cannot use, at the start or at the first read, is thrown away as a leftover
// journal is: the whole directory goes, once, and a fresh file takes its place.
TEST_F(CacheFileTest, ADamagedFileIsThrownAwayLikeALeftoverJournal) {
    struct Damage {
        const char* name;
        std::function<void(const std::string& file)> apply;
    };
    constexpr size_t kPage = 4096;
    const Damage damages[] = {
        {"text in its place", writeText},
        {"the schema's page overwritten", [](auto& file) { overwrite(file, 100, 200, '\x7f'); }},
        {"cut short", [](auto& file) { fs::resize_file(file, 2 * kPage); }},
        {"a table's page overwritten", [](auto& file) { overwrite(file, kPage, 16, '\xff'); }},
    };
    RQAnalyticsLog::enableDebugMode();
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.name);
        // The cache of an earlier run, with its session.
        BeaconDatabase::initWithApplicationCode(kTestCode)->startNewBeacon();
        BeaconDatabase::resetSharedForTesting();
        ASSERT_GE(fs::file_size(cacheFile()), 4 * kPage) << "a page for the schema and each table";
        damage.apply(cacheFile());
        touch(cacheFile("other code"));

        std::shared_ptr<BeaconDatabase> store;
        const auto lines = debugLines([&] {
            try {
                store = BeaconDatabase::initWithApplicationCode(kTestCode);
            } catch (const NSException& e) {
                ADD_FAILURE() << "the start raised: " << e.reason();
            }
        });
        EXPECT_EQ(lines, std::vector<std::string>{kCorruptLine});
        EXPECT_FALSE(fs::exists(cacheFile("other code")));
        ASSERT_NE(store, nullptr);
        EXPECT_TRUE(store->beaconsToSend().empty());
        store->startNewBeacon();
        EXPECT_EQ(store->currentRunningBeaconID(), 1);
        BeaconDatabase::resetSharedForTesting();
    }
}

// Marks a file immutable (even root cannot remove it) for the scope's life; false where the
// file system has no such attribute or the process may not set it.
class ImmutableFile {
  public:
    explicit ImmutableFile(const std::string& path) : path_(path) { set_ = change(true); }
    ~ImmutableFile() {
        if (set_)
            change(false);
    }
    explicit operator bool() const { return set_; }

  private:
    bool change(bool on) const {
        int fd = ::open(path_.c_str(), O_RDONLY);
        if (fd < 0)
            return false;
        int flags = 0;
        bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close(fd);
        return done;
    }
    std::string path_;
    bool set_ = false;
};

// The repair runs once: a journal that the wipe could not remove fails the open with a message,
// instead of wiping again for ever.
TEST_F(CacheFileTest, AJournalThatSurvivesTheWipeFailsTheOpenWithItsName) {
    fs::create_directory(cacheDirectory());
    const std::string journal = cacheFile() + "-journal";
    touch(journal);
    ImmutableFile stuck(journal);
    if (!stuck)
        GTEST_SKIP() << "this file system cannot make a file that root cannot remove";
    NSException e = initFailure(kTestCode);
    EXPECT_EQ(e.name(), NSInternalInconsistencyException);
    EXPECT_EQ(e.reason(), "Failed to open database with message 'the journal " + journal +
                              " is still there after the cache was deleted'.");
}

// A damaged file that the wipe could not remove is kept, and fails the start as SQLite finds it:
// one repair, not one for ever.
TEST_F(CacheFileTest, ADamagedFileThatSurvivesTheWipeFailsTheStartWithSQLitesText) {
    fs::create_directory(cacheDirectory());
    writeText(cacheFile());
    ImmutableFile stuck(cacheFile());
    if (!stuck)
        GTEST_SKIP() << "this file system cannot make a file that root cannot remove";
    RQAnalyticsLog::enableDebugMode();
    NSException e("", "");
    EXPECT_EQ(debugLines([&] { e = initFailure(kTestCode); }),
              std::vector<std::string>{kCorruptLine});
    EXPECT_EQ(e.name(), NSInternalInconsistencyException);
    EXPECT_EQ(e.reason(),
              "Error: failed to prepare statement with message 'file is not a database'.");
    EXPECT_EQ(BeaconDatabase::shared(), nullptr);
}

TEST_F(CacheFileTest, JournalNoticeIsSilentWithoutDebugMode) {
    fs::create_directory(cacheDirectory());
    touch(cacheFile() + "-journal");
    testing::internal::CaptureStdout();
    BeaconDatabase::initWithApplicationCode(kTestCode);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(fs::exists(cacheFile() + "-journal"));
}

TEST_F(CacheFileTest, WipeNeedsTheExactSeverity) {
    fs::create_directory(cacheDirectory());
    touch(cacheFile());
    for (int32_t severity : {0, -1, DatabaseWipeSeverity - 1, DatabaseWipeSeverity + 1}) {
        RQ_Database::commitHariKariWithSeverity(severity);
        EXPECT_TRUE(fs::exists(cacheFile())) << severity;
    }
    RQ_Database::commitHariKariWithSeverity(DatabaseWipeSeverity);
    EXPECT_FALSE(fs::exists(cacheDirectory()));
    EXPECT_TRUE(fs::exists(documents()));
    EXPECT_NO_THROW(RQ_Database::commitHariKariWithSeverity(DatabaseWipeSeverity));
}

TEST_F(CacheFileTest, MissingDocumentsDirectoryIsCreatedFirst) {
    fs::remove_all(documents());
    BeaconDatabase::initWithApplicationCode(kTestCode);
    EXPECT_TRUE(fs::is_directory(cacheDirectory()));
    EXPECT_TRUE(fs::exists(cacheFile()));
}

TEST_F(CacheFileTest, NilCodeIsRefusedAfterTheDirectoriesWereMade) {
    NSException e = initFailure(std::nullopt);
    EXPECT_EQ(e.name(), "DatabaseInitializedImproperly");
    EXPECT_EQ(e.reason(), "The database was initialized without an application code.");
    EXPECT_TRUE(fs::is_directory(cacheDirectory()));
    EXPECT_TRUE(fs::is_empty(cacheDirectory()));
    EXPECT_EQ(BeaconDatabase::shared(), nullptr);
}

TEST_F(CacheFileTest, OpenFailureCarriesSQLiteText) {
    fs::create_directories(cacheFile());  // a directory where the file should be
    NSException e = initFailure(kTestCode);
    EXPECT_EQ(e.name(), NSInternalInconsistencyException);
    EXPECT_EQ(e.reason(), "Failed to open database with message 'unable to open database file'.");
    EXPECT_EQ(BeaconDatabase::shared(), nullptr);
}

TEST_F(CacheFileTest, DocumentsThatCannotBeMadeAreReported) {
    NSSetHomeDirectory(documents() + "/no/such/home");
    NSException e = initFailure(kTestCode);
    EXPECT_EQ(e.reason(), "Failed to create Documents directory.");
}

TEST_F(CacheFileTest, CacheDirectoryThatCannotBeMadeIsReported) {
    touch(cacheDirectory());  // a file in the directory's place
    NSException e = initFailure(kTestCode);
    EXPECT_EQ(e.reason(), "Failed to create halvorn directory.");
}

}  // namespace
