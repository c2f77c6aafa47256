#pragma once
// The analytics cache file: one SQLite connection to "<Documents>/halvorn/<code>.sql", the
// directories it lives in, the rule that a leftover rollback journal, a file that SQLite finds
// no database or damaged, or anything but a file in its place (a directory, a pipe, a symbolic
// link, at the file's or the journal's name; a file or a link to nothing in the directory's
// place) means a corrupt cache (the whole cache directory is thrown away, once, and a fresh
// file opened), and the wipe. The file is never opened through a link; the folders above it
// may be links.
//
// Failures of the file system or of SQLite raise NSException through the assertion handler
// (NSInternalInconsistencyException, the message as reason); nothing here catches them.
// No lock of its own: the subclass serialises every use of the connection.

#include <sqlite3.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "platform/Foundation/NSObject.h"

// The only severity for which the wipe deletes anything.
inline constexpr int32_t DatabaseWipeSeverity = 64783290;

class RQ_Database : public NSObject {
  public:
    // Closes the connection; a refused close is written to the platform log.
    ~RQ_Database() override;
    // One owner of the connection: a copy would close it twice.
    RQ_Database(const RQ_Database&) = delete;
    RQ_Database& operator=(const RQ_Database&) = delete;

    // Deletes the cache directory with every file in it (all application codes), or what
    // stands in its place, when `severity` is DatabaseWipeSeverity; any other value does
    // nothing. An open connection is left as it is. A failed removal is ignored.
    static void commitHariKariWithSeverity(int32_t severity);

    // Copy in, copy out; safe from any thread.
    std::optional<std::string> applicationCode() const;
    void setApplicationCode(std::optional<std::string> applicationCode);

  protected:
    // Stores the code and runs loadDb; raises when it fails.
    explicit RQ_Database(std::optional<std::string> applicationCode);

    // Makes the directories, refuses a missing code ("DatabaseInitializedImproperly"), applies
    // the journal rule, opens the file and applies the damage rule. One repair at the most: a
    // journal that survives the wipe fails the open, a damaged file that survives it is kept
    // (and fails where it is first used), as does what survives in the file's place (SQLite
    // refuses it) or in the directory's ("Failed to create halvorn directory.").
    void loadDb();
    // Makes the Documents directory, then the cache directory, when missing.
    static void createDocumentsDirIfNeeded();

    // The open connection, owned by this object; null only after a failed open.
    sqlite3* database() const { return database_; }

  private:
    void loadDb(bool mayRepair);
    static std::string documentsPath();
    static std::string cacheDirectoryPath();
    // The cache directory's name without the final slash: whatever entry is there, even one that
    // is no directory.
    static std::string cacheEntryPath();

    mutable std::mutex codeMutex_;
    std::optional<std::string> applicationCode_;
    sqlite3* database_ = nullptr;
};
