#pragma once
// A second connection on a store file, as another program (a backup tool, an open sqlite3 shell)
// holds one: a write lock or a read transaction, kept until released or destroyed. One thread
// at a time uses it.

#include <sqlite3.h>

#include <string>

class StoreConnection {
  public:
    explicit StoreConnection(const std::string& path) {
        sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
    }
    ~StoreConnection() {
        release();
        sqlite3_close(db_);
    }
    StoreConnection(const StoreConnection&) = delete;
    StoreConnection& operator=(const StoreConnection&) = delete;

    // Others may read; no other connection writes until the release.
    bool holdWriteLock() { return exec("BEGIN IMMEDIATE"); }
    // No other connection commits a write until the release.
    bool holdReadTransaction() {
        return exec("BEGIN") && exec("SELECT count(*) FROM sqlite_master");
    }
    // Ends what is held; nothing when nothing is.
    void release() {
        if (db_ && !sqlite3_get_autocommit(db_))
            exec("ROLLBACK");
    }

  private:
    bool exec(const char* sql) {
        return db_ && sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    sqlite3* db_ = nullptr;
};
