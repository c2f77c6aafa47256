#include "analytics/Classes/Utils/Database/Database.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "analytics/Classes/Utils/Database/BeaconDatabase.h"
#include "analytics/Classes/Utils/RQAnalyticsLog.h"
#include "platform/Foundation/NSException.h"
#include "platform/Foundation/NSPathUtilities.h"
#include "tests/analytics/AnalyticsTestHome.h"
#include "tests/support/ImmutableFile.h"

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
    // The same with the debug log on, with the log's lines.
    std::pair<std::vector<std::string>, NSException> loggedInitFailure() {
        RQAnalyticsLog::enableDebugMode();
        NSException e("", "");
        auto lines = debugLines([&] { e = initFailure(kTestCode); });
        return {lines, e};
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
        // Things in the file's or the directory's place, which failed every start.
        {"a directory in the file's place",
         [](auto& file) {
             fs::remove(file);
             fs::create_directories(file + "/inside");
         }},
        {"a named pipe in the file's place",
         [](auto& file) {
             fs::remove(file);
             ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0);
         }},
        {"a file in the directory's place",
         [](auto& file) {
             const auto directory = fs::path(file).parent_path();
             fs::remove_all(directory);
             writeText(directory);
         }},
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

// Everything under `folder`, each path with its contents ("" for a folder or a link's target
// name), so that a test sees whether anything was written or made there.
std::map<std::string, std::string> contentsOf(const std::string& folder) {
    std::map<std::string, std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        std::stringstream bytes;
        if (entry.is_symlink())
            bytes << "-> " << fs::read_symlink(entry.path()).string();
        else if (entry.is_regular_file())
            bytes << std::ifstream(entry.path(), std::ios::binary).rdbuf();
        found[entry.path().string()] = bytes.str();
    }
    return found;
}

// A link planted at the cache file, its journal or its directory, pointing outside (at another
// database, at text, at nothing): never followed. The start takes the road of a damaged cache,
// and nothing outside is read, written or made.
TEST_F(CacheFileTest, ALinkAtTheCacheIsThrownAwayAndNeverFollowed) {
    const std::string outside = fs::path(documents()).parent_path() / "outside";
    fs::create_directory(outside);
    {
        sqlite3* other = nullptr;
        ASSERT_EQ(sqlite3_open((outside + "/other.sql").c_str(), &other), SQLITE_OK);
        sqlite3_exec(other, "CREATE TABLE kept (x); INSERT INTO kept VALUES ('precious')", nullptr,
                     nullptr, nullptr);
        sqlite3_close(other);
    }
    writeText(outside + "/text");
    struct Planted {
        const char* name;
        std::string link;    // relative to the cache directory
        std::string target;  // relative to the outside folder
    };
    const std::string file = std::string(kTestCode) + ".sql";
    const Planted cases[] = {
        {"the file, at another database", file, "other.sql"},
        {"the file, at text", file, "text"},
        {"the file, at nothing", file, "nothing.sql"},
        {"the journal, at nothing", file + "-journal", "nothing-journal"},
        {"the directory, at nothing", "", "nothing"},
    };
    const auto before = contentsOf(outside);
    RQAnalyticsLog::enableDebugMode();
    for (const Planted& planted : cases) {
        SCOPED_TRACE(planted.name);
        BeaconDatabase::initWithApplicationCode(kTestCode)->startNewBeacon();
        BeaconDatabase::resetSharedForTesting();
        const std::string link =
            planted.link.empty() ? cacheDirectory() : cacheDirectory() + "/" + planted.link;
        fs::remove_all(link);
        fs::create_symlink(outside + "/" + planted.target, link);

        std::shared_ptr<BeaconDatabase> store;
        EXPECT_EQ(debugLines([&] {
                      try {
                          store = BeaconDatabase::initWithApplicationCode(kTestCode);
                      } catch (const NSException& e) {
                          ADD_FAILURE() << "the start raised: " << e.reason();
                      }
                  }),
                  std::vector<std::string>{kCorruptLine});
        ASSERT_NE(store, nullptr);
        store->startNewBeacon();
        EXPECT_EQ(store->currentRunningBeaconID(), 1) << "a fresh cache";
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(cacheFile())));
        EXPECT_EQ(contentsOf(outside), before) << "something outside was written or made";
        BeaconDatabase::resetSharedForTesting();
    }
}

// A Documents folder kept elsewhere through a link is no damage: the cache lives in the link's
// target and keeps its rows from one start to the next.
TEST_F(CacheFileTest, ADocumentsFolderThatIsALinkKeepsItsCache) {
    const std::string elsewhere = fs::path(documents()).parent_path() / "elsewhere";
    fs::rename(documents(), elsewhere);
    fs::create_directory_symlink(elsewhere, documents());
    RQAnalyticsLog::enableDebugMode();
    EXPECT_TRUE(
        debugLines([&] {
            try {
                BeaconDatabase::initWithApplicationCode(kTestCode)->startNewBeacon();
                BeaconDatabase::resetSharedForTesting();
                EXPECT_EQ(
                    BeaconDatabase::initWithApplicationCode(kTestCode)->currentRunningBeaconID(),
                    1);
            } catch (const NSException& e) {
                ADD_FAILURE() << "the start raised: " << e.reason();
            }
        }).empty());
    EXPECT_TRUE(fs::is_regular_file(elsewhere + "/halvorn/" + kTestCode + ".sql"));
}

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
    auto [lines, e] = loggedInitFailure();
    EXPECT_EQ(lines, std::vector<std::string>{kCorruptLine});
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
    // A name longer than the file system takes: no damage to repair, an open SQLite refuses.
    const std::string code(300, 'c');
    NSException e = initFailure(code);
    EXPECT_EQ(e.name(), NSInternalInconsistencyException);
    EXPECT_EQ(e.reason(), "Failed to open database with message 'unable to open database file'.");
    EXPECT_EQ(BeaconDatabase::shared(), nullptr);
}

TEST_F(CacheFileTest, DocumentsThatCannotBeMadeAreReported) {
    NSSetHomeDirectory(documents() + "/no/such/home");
    NSException e = initFailure(kTestCode);
    EXPECT_EQ(e.reason(), "Failed to create Documents directory.");
}

// A file in the directory's place that the repair cannot remove: the directory cannot be made.
TEST_F(CacheFileTest, CacheDirectoryThatCannotBeMadeIsReported) {
    touch(cacheDirectory());
    ImmutableFile stuck(cacheDirectory());
    if (!stuck)
        GTEST_SKIP() << "this file system cannot make a file that root cannot remove";
    auto [lines, e] = loggedInitFailure();
    EXPECT_EQ(lines, std::vector<std::string>{kCorruptLine});
    EXPECT_EQ(e.reason(), "Failed to create halvorn directory.");
}

// A directory in the file's place that the repair cannot remove fails the start with SQLite's
// text: one repair, not one for ever.
TEST_F(CacheFileTest, ADirectoryThatSurvivesTheWipeFailsTheOpenWithSQLitesText) {
    fs::create_directories(cacheFile() + "/inside");
    touch(cacheFile() + "/inside/stuck");
    ImmutableFile stuck(cacheFile() + "/inside/stuck");
    if (!stuck)
        GTEST_SKIP() << "this file system cannot make a file that root cannot remove";
    NSException e = initFailure(kTestCode);
    EXPECT_EQ(e.name(), NSInternalInconsistencyException);
    EXPECT_EQ(e.reason(), "Failed to open database with message 'unable to open database file'.");
    EXPECT_TRUE(fs::is_directory(cacheFile()));
}

}  // namespace
