#pragma once
// The analytics session cache: the one store of the process, on the connection of RQ_Database.
// Tables `beacon` (sessions), `sub_beacon` (named events) and `user` (demographics); every
// time in them is the Unix-seconds text that SQLite's strftime('%s','now') writes.
//
// Threads: every operation but `hasUserData`, `initWithApplicationCode`, `shared` holds the
// store's re-entrant lock for its whole run, so operations may call each other. SQLite failures
// (a failed prepare, or a step that answers SQLITE_ERROR) raise NSException through the
// assertion handler with SQLite's text in the message; the lock is released as it leaves. Any
// other step result (a broken NOT NULL rule, a busy file) is accepted silently.

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "analytics/Classes/Utils/Database/Database.h"
#include "platform/Foundation/Value.h"

class BeaconDatabase : public RQ_Database {
  public:
    // Opens the cache of `applicationCode` and creates its tables, then makes it the shared
    // store. When a shared store exists, it is returned and nothing is opened. Raises when the
    // file or the tables cannot be made; nothing is shared then.
    static std::shared_ptr<BeaconDatabase> initWithApplicationCode(
        std::optional<std::string> applicationCode);
    // The shared store, or null while none was made. Never creates one.
    static std::shared_ptr<BeaconDatabase> shared();
    // Drops the shared store, closing its file (test set-up only).
    static void resetSharedForTesting();

    ~BeaconDatabase() override;

    void createTablesIfNeeded();

    // Recording. A nil name is bound as NULL: the NOT NULL rule refuses the row, silently.
    void startNewBeacon();
    void startNewSubBeaconWithName(const std::optional<std::string>& name, bool timeSession);
    void updateLocationWithLatitude(double latitude, double longitude);
    // Stops the running session and its open timed sub-beacons.
    void endBeacon();
    // Stops every open timed sub-beacon of exactly this name, in any session.
    void endSubBeaconWithName(const std::optional<std::string>& name);
    // The highest id among sessions without stop time; 0 when there is none, -1 when the query
    // failed. Its statement is prepared once and kept for the life of the store.
    int32_t currentRunningBeaconID();

    // Reading: every session as a record {"i", "o", "lat"/"lon" when located, "sb" when it has
    // sub-beacons}, ascending id; NULL columns read as "".
    ValueArray beaconsToSend();
    // The sub-beacons of one session as {"n", "i", and "o" for timed ones}, in recorded order.
    ValueArray subbeaconsForBeaconID(int beaconID);
    // The first user row: "gender" unless "", "birth_month" and "birth_year" unless 0 or -1.
    ValueDictionary userData();
    // True exactly when the user table holds one row. Takes no lock.
    bool hasUserData();
    // Always inserts a new row; a nil gender is stored as NULL.
    void saveUserWithGender(const std::optional<std::string>& gender, int birthMonth,
                            int birthYear);
    // The purge after an upload. With `beaconRunning` the running session and its sub-beacons
    // stay and everything else goes; without it both session tables are emptied. The user row
    // always stays.
    void deleteBeaconsWithBeaconRunning(bool beaconRunning);

  private:
    explicit BeaconDatabase(std::optional<std::string> applicationCode);

    struct Finalizer {
        void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
    };
    using Statement = std::unique_ptr<sqlite3_stmt, Finalizer>;

    Statement prepare(const char* sql, const char* failureMessage);
    // Steps once and finalizes; raises `failureMessage` only when the step answered SQLITE_ERROR.
    void stepOnce(Statement statement, const char* failureMessage);
    void bindText(sqlite3_stmt* statement, int index, const std::optional<std::string>& text);
    [[noreturn]] void raiseWithSQLiteMessage(const char* message);

    std::recursive_mutex lock_;
    sqlite3_stmt* current_beacon_statement_ = nullptr;  // guarded by lock_
};
