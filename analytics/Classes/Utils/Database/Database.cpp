#include "analytics/Classes/Utils/Database/Database.h"

#include <filesystem>
#include <string_view>

#include "analytics/Classes/Utils/RQAnalyticsLog.h"
#include "platform/Foundation/NSException.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSLog.h"
#include "platform/Foundation/NSPathUtilities.h"
#include "platform/Foundation/NSString.h"

RQ_Database::RQ_Database(std::optional<std::string> applicationCode) {
    setApplicationCode(std::move(applicationCode));
    loadDb();
}

RQ_Database::~RQ_Database() {
    if (!database_)
        return;
    if (sqlite3_close(database_) != SQLITE_OK)
        NSLog("Error: failed to close database with message '%s'.", sqlite3_errmsg(database_));
}

std::optional<std::string> RQ_Database::applicationCode() const {
    std::lock_guard lock(codeMutex_);
    return applicationCode_;
}

void RQ_Database::setApplicationCode(std::optional<std::string> applicationCode) {
    std::lock_guard lock(codeMutex_);
    applicationCode_ = std::move(applicationCode);
}

std::string RQ_Database::documentsPath() {
    return NSSearchPathForDirectoriesInDomains(NSDocumentDirectory, NSUserDomainMask, true).at(0);
}

std::string RQ_Database::cacheDirectoryPath() {
    return documentsPath() + "/halvorn/";
}

std::string RQ_Database::cacheEntryPath() {
    return documentsPath() + "/halvorn";
}

void RQ_Database::loadDb() {
    loadDb(true);
}

namespace {

// Whether SQLite finds the open file no database, or a database with a broken structure. Other
// failures (a busy or unreadable file) are not damage: they fail the start as they would.
bool isDamaged(sqlite3* database) {
    auto broken = [](int result) {
        result &= 0xff;
        return result == SQLITE_NOTADB || result == SQLITE_CORRUPT;
    };
    sqlite3_stmt* check = nullptr;
    int result = sqlite3_prepare_v2(database, "PRAGMA quick_check", -1, &check, nullptr);
    if (result != SQLITE_OK)
        return broken(result);
    result = sqlite3_step(check);
    const auto* verdict = reinterpret_cast<const char*>(sqlite3_column_text(check, 0));
    const bool damaged = broken(result) ||
                         (result == SQLITE_ROW && std::string_view(verdict ? verdict : "") != "ok");
    sqlite3_finalize(check);
    return damaged;
}

// Whether something other than a regular file is at `path`: a directory, a pipe, a symbolic link
// (never followed, wherever it points). Nothing there is not.
bool isNoFile(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(path, ec);
    return std::filesystem::exists(status) && !std::filesystem::is_regular_file(status);
}

// Whether an entry is at `path` that leads to no directory: a file, a pipe, a link to nothing.
// A link to a directory leads to one.
bool leadsToNoDirectory(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec)) &&
           !std::filesystem::is_directory(path, ec);
}

}  // namespace

void RQ_Database::loadDb(bool mayRepair) {
    // The whole cache directory goes, once: a second try finds the fresh file.
    auto startAfresh = [this] {
        RQAnalyticsLog::log("Beacon database file is corrupt; delete it and start a new one");
        commitHariKariWithSeverity(DatabaseWipeSeverity);
        loadDb(false);
    };
    // A file, a pipe or a link to nothing in the cache directory's place fails every start.
    if (mayRepair && leadsToNoDirectory(cacheEntryPath())) {
        startAfresh();
        return;
    }
    createDocumentsDirIfNeeded();
    auto code = applicationCode();
    if (!code)
        NSException::raise("DatabaseInitializedImproperly",
                           "The database was initialized without an application code.");
    const std::string documents = documentsPath();
    const std::string cachePath = documents + stringWithFormat("/halvorn/%s.sql", code->c_str());
    const std::string journalPath =
        documents + stringWithFormat("/halvorn/%s.sql-journal", code->c_str());

    // A link at the journal's name counts, whether it points anywhere or not.
    if (NSFileManager::defaultManager().entryExistsAtPath(journalPath)) {
        // A wipe that could not remove the journal would find it again on every try.
        if (!mayRepair)
            NSAssertionFailure(stringWithFormat(
                "Failed to open database with message '%s'.",
                ("the journal " + journalPath + " is still there after the cache was deleted")
                    .c_str()));
        startAfresh();
        return;
    }

    // A directory, a pipe or a link in the file's place fails every start (or hangs it, or
    // reaches outside through the link): damage too. One that survives the wipe is left to
    // SQLite, which refuses it.
    if (mayRepair && isNoFile(cachePath)) {
        startAfresh();
        return;
    }
    if (sqlite3_open_v2(stringByResolvingFolderLinksInPath(cachePath).c_str(), &database_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW,
                        nullptr) != SQLITE_OK) {
        std::string message = sqlite3_errmsg(database_);
        sqlite3_close(database_);
        database_ = nullptr;
        NSAssertionFailure(
            stringWithFormat("Failed to open database with message '%s'.", message.c_str()));
    }
    // A damaged file would fail every start, and it is only a cache. One that survives the
    // wipe is left to fail as it does.
    if (mayRepair && isDamaged(database_)) {
        sqlite3_close(database_);
        database_ = nullptr;
        startAfresh();
    }
}

void RQ_Database::createDocumentsDirIfNeeded() {
    const NSFileManager& files = NSFileManager::defaultManager();
    const std::string documents = documentsPath();
    if (!files.fileExistsAtPath(documents) && !files.createDirectoryAtPath(documents, false))
        NSAssertionFailure("Failed to create Documents directory.");
    const std::string cacheDirectory = cacheDirectoryPath();
    if (!files.fileExistsAtPath(cacheDirectory) &&
        !files.createDirectoryAtPath(cacheDirectory, false))
        NSAssertionFailure("Failed to create halvorn directory.");
}

void RQ_Database::commitHariKariWithSeverity(int32_t severity) {
    if (severity != DatabaseWipeSeverity)
        return;
    const NSFileManager& files = NSFileManager::defaultManager();
    if (!files.fileExistsAtPath(documentsPath()))
        return;
    const std::string cacheDirectory = cacheDirectoryPath();
    // A failure is ignored. What stands in the directory's place (a file, a pipe, a link to
    // nothing) goes too, as the link itself.
    if (files.fileExistsAtPath(cacheDirectory))
        files.removeItemAtPath(cacheDirectory);
    else if (files.entryExistsAtPath(cacheEntryPath()))
        files.removeItemAtPath(cacheEntryPath());
}
