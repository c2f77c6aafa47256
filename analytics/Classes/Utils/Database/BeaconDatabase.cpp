#include "analytics/Classes/Utils/Database/BeaconDatabase.h"

#include "platform/Foundation/NSException.h"

namespace {

std::shared_ptr<BeaconDatabase> sharedStore;

constexpr const char* kPrepareFailure = "Error: failed to prepare statement with message '%s'.";
constexpr const char* kRequestFailure = "Error: failed to generate sql request with message '%s'.";
constexpr const char* kDeleteFailure = "Error: failed to delete beacons with message '%s'.";
constexpr const char* kEndFailure = "Error: failed to end beacon with message '%s'.";

// A NULL column reads as the empty text.
std::string columnText(sqlite3_stmt* statement, int column) {
    const unsigned char* text = sqlite3_column_text(statement, column);
    return text ? reinterpret_cast<const char*>(text) : "";
}

}  // namespace

BeaconDatabase::BeaconDatabase(std::optional<std::string> applicationCode)
    : RQ_Database(std::move(applicationCode)) {}

BeaconDatabase::~BeaconDatabase() {
    // Finalized before the base class closes the connection, so the close succeeds.
    sqlite3_finalize(current_beacon_statement_);
}

std::shared_ptr<BeaconDatabase> BeaconDatabase::initWithApplicationCode(
    std::optional<std::string> applicationCode) {
    if (sharedStore)
        return sharedStore;
    std::shared_ptr<BeaconDatabase> store(new BeaconDatabase(std::move(applicationCode)));
    store->createTablesIfNeeded();
    sharedStore = store;
    return store;
}

std::shared_ptr<BeaconDatabase> BeaconDatabase::shared() {
    return sharedStore;
}

void BeaconDatabase::resetSharedForTesting() {
    sharedStore.reset();
}

void BeaconDatabase::raiseWithSQLiteMessage(const char* message) {
    std::string text = message;
    auto at = text.find("%s");
    if (at != std::string::npos)
        text.replace(at, 2, sqlite3_errmsg(database()));
    NSAssertionFailure(text);
}

BeaconDatabase::Statement BeaconDatabase::prepare(const char* sql, const char* failureMessage) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(database(), sql, -1, &statement, nullptr) != SQLITE_OK)
        raiseWithSQLiteMessage(failureMessage);
    return Statement(statement);
}

void BeaconDatabase::stepOnce(Statement statement, const char* failureMessage) {
    int result = sqlite3_step(statement.get());
    statement.reset();
    if (result == SQLITE_ERROR)
        raiseWithSQLiteMessage(failureMessage);
}

void BeaconDatabase::bindText(sqlite3_stmt* statement, int index,
                              const std::optional<std::string>& text) {
    if (text)
        sqlite3_bind_text(statement, index, text->c_str(), -1, SQLITE_TRANSIENT);
    else
        sqlite3_bind_null(statement, index);
}

void BeaconDatabase::createTablesIfNeeded() {
    std::lock_guard lock(lock_);
    stepOnce(prepare("CREATE TABLE IF NOT EXISTS beacon (id INTEGER NOT NULL PRIMARY KEY "
                     "AUTOINCREMENT, time_started TEXT NOT NULL, time_stopped TEXT, latitude "
                     "REAL, longitude REAL)",
                     kPrepareFailure),
             "Error: failed to create beacon table with message '%s'.");
    stepOnce(prepare("CREATE TABLE IF NOT EXISTS sub_beacon (id INTEGER NOT NULL PRIMARY KEY "
                     "AUTOINCREMENT, beacon_id INTEGER NOT NULL, is_session BOOL NOT NULL, name "
                     "TEXT NOT NULL, time_started TEXT NOT NULL, time_stopped TEXT)",
                     kPrepareFailure),
             "Error: failed to create sub_beacon table with message '%s'.");
    stepOnce(prepare("CREATE TABLE IF NOT EXISTS user (id INTEGER NOT NULL PRIMARY KEY "
                     "AUTOINCREMENT, gender TEXT DEFAULT \"\", birth_month INTEGER DEFAULT -1, "
                     "birth_year INTEGER DEFAULT -1)",
                     kPrepareFailure),
             "Error: failed to create user table with message '%s'.");
}

void BeaconDatabase::startNewBeacon() {
    std::lock_guard lock(lock_);
    stepOnce(
        prepare("INSERT INTO beacon (time_started) VALUES (strftime('%s','now'))", kPrepareFailure),
        "Error: failed to start new beacon with message '%s'.");
}

void BeaconDatabase::startNewSubBeaconWithName(const std::optional<std::string>& name,
                                               bool timeSession) {
    std::lock_guard lock(lock_);
    int32_t beaconID = currentRunningBeaconID();
    Statement statement = prepare(
        "INSERT INTO sub_beacon (beacon_id, name, time_started, is_session) VALUES (?, ?, "
        "strftime('%s','now'), ?)",
        kPrepareFailure);
    sqlite3_bind_int(statement.get(), 1, beaconID);
    bindText(statement.get(), 2, name);
    sqlite3_bind_int(statement.get(), 3, timeSession ? 1 : 0);
    stepOnce(std::move(statement), "Error: failed to start new beacon with message '%s'.");
}

void BeaconDatabase::updateLocationWithLatitude(double latitude, double longitude) {
    std::lock_guard lock(lock_);
    Statement statement =
        prepare("UPDATE beacon SET latitude=?, longitude=? WHERE id=?", kPrepareFailure);
    sqlite3_bind_double(statement.get(), 1, latitude);
    sqlite3_bind_double(statement.get(), 2, longitude);
    sqlite3_bind_int(statement.get(), 3, currentRunningBeaconID());
    stepOnce(std::move(statement), "Error: failed to update beacon location with message '%s'.");
}

void BeaconDatabase::endBeacon() {
    std::lock_guard lock(lock_);
    Statement stopBeacon = prepare(
        "UPDATE beacon SET time_stopped = strftime('%s','now') WHERE id=?", kPrepareFailure);
    // Read once: after the first statement the running session is no longer open, and a second
    // read would name an older open session or none.
    const int32_t beaconID = currentRunningBeaconID();
    sqlite3_bind_int(stopBeacon.get(), 1, beaconID);
    stepOnce(std::move(stopBeacon), kEndFailure);

    Statement stopSubBeacons = prepare(
        "UPDATE sub_beacon SET time_stopped = strftime('%s', 'now') WHERE beacon_id=? and "
        "is_session=1 and time_stopped ISNULL",
        kPrepareFailure);
    sqlite3_bind_int(stopSubBeacons.get(), 1, beaconID);
    stepOnce(std::move(stopSubBeacons), kEndFailure);
}

void BeaconDatabase::endSubBeaconWithName(const std::optional<std::string>& name) {
    std::lock_guard lock(lock_);
    Statement statement = prepare(
        "UPDATE sub_beacon SET time_stopped = strftime('%s', 'now') WHERE name=? and "
        "is_session=1 and time_stopped ISNULL",
        kPrepareFailure);
    bindText(statement.get(), 1, name);
    stepOnce(std::move(statement), kEndFailure);
}

int32_t BeaconDatabase::currentRunningBeaconID() {
    std::lock_guard lock(lock_);
    if (!current_beacon_statement_ &&
        sqlite3_prepare_v2(database(), "SELECT MAX(id) FROM beacon WHERE time_stopped IS NULL", -1,
                           &current_beacon_statement_, nullptr) != SQLITE_OK) {
        sqlite3_finalize(current_beacon_statement_);
        current_beacon_statement_ = nullptr;
        raiseWithSQLiteMessage(kPrepareFailure);
    }
    // The first step only tests that the query runs at all.
    int test = sqlite3_step(current_beacon_statement_);
    sqlite3_reset(current_beacon_statement_);
    if (test == SQLITE_ERROR)
        return -1;
    int32_t result = -1;
    while (sqlite3_step(current_beacon_statement_) == SQLITE_ROW)
        result = sqlite3_column_int(current_beacon_statement_, 0);
    return result;
}

ValueArray BeaconDatabase::beaconsToSend() {
    ValueArray records;
    std::lock_guard lock(lock_);
    Statement statement = prepare(
        "SELECT id, time_started, time_stopped, latitude, longitude FROM beacon", kRequestFailure);
    while (sqlite3_step(statement.get()) == SQLITE_ROW) {
        const std::string id = columnText(statement.get(), 0);
        const std::string latitude = columnText(statement.get(), 3);
        const std::string longitude = columnText(statement.get(), 4);
        ValueArray subBeacons = subbeaconsForBeaconID(std::atoi(id.c_str()));
        ValueDictionary record;
        record.set("i", columnText(statement.get(), 1));
        record.set("o", columnText(statement.get(), 2));
        if (!latitude.empty() && !longitude.empty()) {
            record.set("lat", latitude);
            record.set("lon", longitude);
        }
        if (!subBeacons.empty())
            record.set("sb", Value(std::move(subBeacons)));
        records.emplace_back(std::move(record));
    }
    return records;
}

ValueArray BeaconDatabase::subbeaconsForBeaconID(int beaconID) {
    ValueArray records;
    std::lock_guard lock(lock_);
    Statement statement = prepare(
        "SELECT id, beacon_id, time_started, time_stopped, is_session, name FROM sub_beacon "
        "WHERE beacon_id=?",
        kRequestFailure);
    sqlite3_bind_int(statement.get(), 1, beaconID);
    while (sqlite3_step(statement.get()) == SQLITE_ROW) {
        ValueDictionary record;
        record.set("n", columnText(statement.get(), 5));
        record.set("i", columnText(statement.get(), 2));
        if (columnText(statement.get(), 4) == "1")
            record.set("o", columnText(statement.get(), 3));
        records.emplace_back(std::move(record));
    }
    return records;
}

ValueDictionary BeaconDatabase::userData() {
    ValueDictionary user;
    std::lock_guard lock(lock_);
    Statement statement =
        prepare("SELECT gender, birth_month, birth_year FROM user LIMIT 1", kRequestFailure);
    if (sqlite3_step(statement.get()) == SQLITE_ROW) {
        const std::string gender = columnText(statement.get(), 0);
        const int month = sqlite3_column_int(statement.get(), 1);
        const int year = sqlite3_column_int(statement.get(), 2);
        if (!gender.empty())
            user.set("gender", gender);
        if (month != 0 && month != -1)
            user.set("birth_month", month);
        if (year != 0 && year != -1)
            user.set("birth_year", year);
    }
    return user;
}

bool BeaconDatabase::hasUserData() {
    Statement statement =
        prepare("SELECT COUNT(*) FROM user",
                "Error: failed to prepare count user statement with message '%s'.");
    int result = sqlite3_step(statement.get());
    if (result == SQLITE_ERROR) {
        statement.reset();
        raiseWithSQLiteMessage("Error: failed to insert initial user row with message '%s'.");
    }
    const int count = result == SQLITE_ROW ? sqlite3_column_int(statement.get(), 0) : 0;
    return count == 1;
}

void BeaconDatabase::saveUserWithGender(const std::optional<std::string>& gender, int birthMonth,
                                        int birthYear) {
    std::lock_guard lock(lock_);
    Statement statement = prepare(
        "INSERT INTO user (gender, birth_month, birth_year) VALUES (?, ?, ?);", kPrepareFailure);
    bindText(statement.get(), 1, gender);
    sqlite3_bind_int(statement.get(), 2, birthMonth);
    sqlite3_bind_int(statement.get(), 3, birthYear);
    stepOnce(std::move(statement), "Error: failed to save demographics with message '%s'.");
}

void BeaconDatabase::deleteBeaconsWithBeaconRunning(bool beaconRunning) {
    std::lock_guard lock(lock_);
    if (beaconRunning) {
        const int32_t running = currentRunningBeaconID();
        Statement beacons = prepare("DELETE FROM beacon WHERE id<>?", kRequestFailure);
        sqlite3_bind_int(beacons.get(), 1, running);
        stepOnce(std::move(beacons), kDeleteFailure);
        Statement subBeacons =
            prepare("DELETE FROM sub_beacon WHERE beacon_id<>?", kRequestFailure);
        sqlite3_bind_int(subBeacons.get(), 1, running);
        stepOnce(std::move(subBeacons), kDeleteFailure);
    } else {
        stepOnce(prepare("DELETE FROM beacon", kRequestFailure), kDeleteFailure);
        stepOnce(prepare("DELETE FROM sub_beacon", kRequestFailure), kDeleteFailure);
    }
}
