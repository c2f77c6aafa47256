#include "analytics/Classes/Utils/Database/BeaconDatabase.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <regex>

#include "platform/Foundation/NSException.h"
#include "tests/analytics/AnalyticsTestHome.h"

namespace {

class BeaconDatabaseTest : public AnalyticsTestHome {
  protected:
    BeaconDatabase& store() { return *BeaconDatabase::initWithApplicationCode(kTestCode); }
    std::string scalar(const std::string& sql) { return query(sql).at(0).at(0).value_or("NULL"); }
};

Value dict(std::initializer_list<std::pair<std::string, Value>> entries) {
    ValueDictionary d;
    for (const auto& [k, v] : entries) d.set(k, v);
    return Value(d);
}

TEST_F(BeaconDatabaseTest, CreatesTheThreeTablesExactlyAsWritten) {
    store();
    auto rows = query(
        "SELECT name, sql FROM sqlite_master WHERE type='table' AND name IN "
        "('beacon', 'sub_beacon', 'user') ORDER BY rowid");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][1],
              "CREATE TABLE beacon (id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT, time_started "
              "TEXT NOT NULL, time_stopped TEXT, latitude REAL, longitude REAL)");
    EXPECT_EQ(rows[1][1],
              "CREATE TABLE sub_beacon (id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT, beacon_id "
              "INTEGER NOT NULL, is_session BOOL NOT NULL, name TEXT NOT NULL, time_started TEXT "
              "NOT NULL, time_stopped TEXT)");
    EXPECT_EQ(rows[2][1],
              "CREATE TABLE user (id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT, gender TEXT "
              "DEFAULT \"\", birth_month INTEGER DEFAULT -1, birth_year INTEGER DEFAULT -1)");
}

TEST_F(BeaconDatabaseTest, ReopeningAnExistingFileKeepsItsRows) {
    store().startNewBeacon();
    BeaconDatabase::resetSharedForTesting();
    EXPECT_EQ(store().currentRunningBeaconID(), 1);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM beacon"), "1");
}

TEST_F(BeaconDatabaseTest, SecondInitialisationReturnsTheSharedStoreAndOpensNothing) {
    EXPECT_EQ(BeaconDatabase::shared(), nullptr);
    auto first = BeaconDatabase::initWithApplicationCode(kTestCode);
    auto second = BeaconDatabase::initWithApplicationCode("another code");
    EXPECT_EQ(first, second);
    EXPECT_EQ(BeaconDatabase::shared(), first);
    EXPECT_FALSE(std::filesystem::exists(cacheFile("another code")));
}

TEST_F(BeaconDatabaseTest, TimesAreUnixSecondTextsWrittenBySQLite) {
    // The system clock, as SQLite reads it: time() reads a coarser clock that lags a few
    // milliseconds behind, so across a second's turn it could say the second before SQLite's.
    const auto unixSeconds = [] {
        return static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count());
    };
    const long before = unixSeconds();
    store().startNewBeacon();
    store().startNewSubBeaconWithName("timed", true);
    store().endBeacon();
    const long after = unixSeconds();
    auto rows = query(
        "SELECT time_started, typeof(time_started), time_stopped, typeof(time_stopped) FROM beacon "
        "UNION ALL SELECT time_started, typeof(time_started), time_stopped, typeof(time_stopped) "
        "FROM sub_beacon");
    ASSERT_EQ(rows.size(), 2u);
    for (const auto& row : rows) {
        for (int column : {0, 2}) {
            const std::string text = row[column].value_or("");
            EXPECT_TRUE(std::regex_match(text, std::regex("[0-9]{10}"))) << text;
            EXPECT_EQ(row[column + 1], "text");
            const long seconds = std::atol(text.c_str());
            EXPECT_GE(seconds, before);
            EXPECT_LE(seconds, after);
        }
    }
}

struct RunningCase {
    const char* label;
    const char* setup;  // run through a second connection
    int32_t expected;
};

class CurrentRunningBeaconID : public BeaconDatabaseTest,
                               public testing::WithParamInterface<RunningCase> {};

TEST_P(CurrentRunningBeaconID, AnswersFromTheKeptStatement) {
    EXPECT_EQ(store().currentRunningBeaconID(), 0);  // prepares the kept statement
    if (*GetParam().setup)
        execute(GetParam().setup);
    EXPECT_EQ(store().currentRunningBeaconID(), GetParam().expected);
    EXPECT_EQ(store().currentRunningBeaconID(), GetParam().expected) << "second call";
}

INSTANTIATE_TEST_SUITE_P(
    Table, CurrentRunningBeaconID,
    testing::Values(
        RunningCase{"emptyCache", "", 0},
        RunningCase{"oneOpen", "INSERT INTO beacon (time_started) VALUES ('1')", 1},
        RunningCase{"highestOpenAmongSeveral",
                    "INSERT INTO beacon (id, time_started, time_stopped) VALUES (4, '1', NULL), "
                    "(6, '2', NULL), (9, '3', '4')",
                    6},
        RunningCase{"allStopped",
                    "INSERT INTO beacon (time_started, time_stopped) VALUES ('1', '2'), ('3', '4')",
                    0},
        RunningCase{"queryFails", "DROP TABLE beacon", -1}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(BeaconDatabaseTest, EndBeaconStopsOnlyTheNewestOpenSessionAndItsOpenTimedSubBeacons) {
    store().startNewBeacon();  // 1, an earlier run that was killed
    store().startNewSubBeaconWithName("old timed", true);
    store().startNewBeacon();  // 2, running
    store().startNewSubBeaconWithName("timed", true);
    store().startNewSubBeaconWithName("untimed", false);
    ASSERT_EQ(store().currentRunningBeaconID(), 2);

    store().endBeacon();

    auto beacons = query("SELECT id, time_stopped FROM beacon ORDER BY id");
    EXPECT_EQ(beacons[0][1], std::nullopt);
    EXPECT_NE(beacons[1][1], std::nullopt);
    auto subs = query("SELECT name, beacon_id, time_stopped FROM sub_beacon ORDER BY id");
    EXPECT_EQ(subs[0], (SqlRow{"old timed", "1", std::nullopt}));
    EXPECT_EQ(subs[1][0], "timed");
    EXPECT_NE(subs[1][2], std::nullopt);
    EXPECT_EQ(subs[2], (SqlRow{"untimed", "2", std::nullopt}));
    EXPECT_EQ(store().currentRunningBeaconID(), 1);

    store().endSubBeaconWithName("old timed");
    EXPECT_NE(query("SELECT time_stopped FROM sub_beacon WHERE id=1")[0][0], std::nullopt);
}

TEST_F(BeaconDatabaseTest, SubBeaconWithoutSessionCarriesIdZero) {
    store().startNewSubBeaconWithName("early", true);
    EXPECT_EQ(query("SELECT beacon_id, is_session FROM sub_beacon")[0], (SqlRow{"0", "1"}));
    store().endBeacon();  // no session: stops the timed ones that carry 0
    EXPECT_NE(query("SELECT time_stopped FROM sub_beacon")[0][0], std::nullopt);
}

TEST_F(BeaconDatabaseTest, NilNameStoresNoRowAndRaisesNothing) {
    store().startNewBeacon();
    EXPECT_NO_THROW(store().startNewSubBeaconWithName(std::nullopt, false));
    EXPECT_NO_THROW(store().endSubBeaconWithName(std::nullopt));
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM sub_beacon"), "0");
}

TEST_F(BeaconDatabaseTest, NamesAreStoredWholeAndEndedByExactNameOnlyWhenTimed) {
    const std::string longName(100, 'n');
    store().startNewBeacon();
    store().startNewSubBeaconWithName(longName, false);
    store().startNewSubBeaconWithName("Clip", true);
    store().startNewSubBeaconWithName("Clip", false);
    store().startNewSubBeaconWithName("clip", true);
    store().endSubBeaconWithName("Clip");
    auto rows =
        query("SELECT name, is_session, time_stopped IS NOT NULL FROM sub_beacon ORDER BY id");
    EXPECT_EQ(rows[0], (SqlRow{longName, "0", "0"}));
    EXPECT_EQ(rows[1], (SqlRow{"Clip", "1", "1"}));
    EXPECT_EQ(rows[2], (SqlRow{"Clip", "0", "0"}));
    EXPECT_EQ(rows[3], (SqlRow{"clip", "1", "0"}));
}

TEST_F(BeaconDatabaseTest, SecondLocationReplacesTheFirstOnTheRunningSession) {
    store().startNewBeacon();
    store().updateLocationWithLatitude(1.5, 2.5);
    store().updateLocationWithLatitude(48.125, -9.75);
    EXPECT_EQ(query("SELECT latitude, longitude FROM beacon")[0], (SqlRow{"48.125", "-9.75"}));
}

TEST_F(BeaconDatabaseTest, RecordsCarryEachKeyOnlyWhenItApplies) {
    store();
    execute(
        "INSERT INTO beacon (id, time_started, time_stopped, latitude, longitude) VALUES "
        "(1, '100', '200', 48.5, 9.25), (2, '300', NULL, NULL, NULL), (3, '400', NULL, 1.0, NULL);"
        "INSERT INTO sub_beacon (beacon_id, is_session, name, time_started, time_stopped) VALUES "
        "(1, 0, 'Videos', '110', NULL), (1, 1, 'open', '120', NULL), (1, 1, 'done', '130', '140'),"
        "(99, 0, 'orphan', '1', NULL)");
    ValueArray records = store().beaconsToSend();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0],
              dict({{"i", "100"},
                    {"o", "200"},
                    {"lat", "48.5"},
                    {"lon", "9.25"},
                    {"sb", Value(ValueArray{dict({{"n", "Videos"}, {"i", "110"}}),
                                            dict({{"n", "open"}, {"i", "120"}, {"o", ""}}),
                                            dict({{"n", "done"}, {"i", "130"}, {"o", "140"}})})}}));
    EXPECT_EQ(records[1], dict({{"i", "300"}, {"o", ""}}));
    EXPECT_EQ(records[2], dict({{"i", "400"}, {"o", ""}})) << "latitude without longitude";
    EXPECT_EQ(store().subbeaconsForBeaconID(99).size(), 1u);
}

TEST_F(BeaconDatabaseTest, EmptyCacheReadsAsNothing) {
    EXPECT_TRUE(store().beaconsToSend().empty());
    EXPECT_TRUE(store().userData().empty());
    EXPECT_FALSE(store().hasUserData());
}

class PurgeTest : public BeaconDatabaseTest {
  protected:
    PurgeTest() {
        store();
        execute(
            "INSERT INTO beacon (id, time_started, time_stopped) VALUES "
            "(3, '1', '2'), (5, '3', NULL), (7, '4', NULL);"
            "INSERT INTO sub_beacon (beacon_id, is_session, name, time_started) VALUES "
            "(3, 0, 'a', '1'), (5, 0, 'b', '3'), (7, 0, 'c', '4'), (7, 1, 'd', '5'), "
            "(0, 0, 'e', '6');"
            "INSERT INTO user (gender, birth_month, birth_year) VALUES ('f', 3, 1975)");
    }
    std::vector<SqlRow> left() {
        auto rows = query("SELECT id FROM beacon ORDER BY id");
        for (auto& row : query("SELECT name FROM sub_beacon ORDER BY id")) rows.push_back(row);
        return rows;
    }
};

TEST_F(PurgeTest, WhileRunningKeepsOnlyTheRunningSessionAndItsSubBeacons) {
    store().deleteBeaconsWithBeaconRunning(true);
    EXPECT_EQ(left(), (std::vector<SqlRow>{{"7"}, {"c"}, {"d"}}));
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM user"), "1");
}

TEST_F(PurgeTest, WithoutRunningSessionEmptiesBothSessionTables) {
    store().deleteBeaconsWithBeaconRunning(false);
    EXPECT_TRUE(left().empty());
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM user"), "1");
}

TEST_F(PurgeTest, RunningFlagWithNoOpenSessionDeletesEverySession) {
    execute("UPDATE beacon SET time_stopped='9'");
    store().deleteBeaconsWithBeaconRunning(true);
    // The running id is then 0, so only a sub-beacon recorded without any session stays.
    EXPECT_EQ(left(), (std::vector<SqlRow>{{"e"}}));
}

struct UserCase {
    const char* label;
    const char* rows;  // values for INSERT INTO user (gender, birth_month, birth_year)
    bool hasUserData;
    Value userData;
};

class UserRowTest : public BeaconDatabaseTest, public testing::WithParamInterface<UserCase> {};

TEST_P(UserRowTest, CountAndReading) {
    store();
    if (*GetParam().rows)
        execute(std::string("INSERT INTO user (gender, birth_month, birth_year) VALUES ") +
                GetParam().rows);
    EXPECT_EQ(store().hasUserData(), GetParam().hasUserData);
    EXPECT_EQ(Value(store().userData()), GetParam().userData);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, UserRowTest,
    testing::Values(UserCase{"noRow", "", false, Value::dictionary()},
                    UserCase{"nothingLearnt", "('', -1, -1)", true, Value::dictionary()},
                    UserCase{"complete", "('m', 12, 1980)", true,
                             dict({{"gender", "m"}, {"birth_month", 12}, {"birth_year", 1980}})},
                    UserCase{"unparsedBirthday", "('f', 0, 0)", true, dict({{"gender", "f"}})},
                    UserCase{"monthWithoutYear", "(NULL, 3, -1)", true, dict({{"birth_month", 3}})},
                    UserCase{"twoRowsReadFirst", "('m', 1, 1990), ('f', 2, 1991)", false,
                             dict({{"gender", "m"}, {"birth_month", 1}, {"birth_year", 1990}})}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(BeaconDatabaseTest, SaveUserAlwaysAddsARowAndStoresNilGenderAsNull) {
    store().saveUserWithGender(std::nullopt, -1, -1);
    EXPECT_TRUE(store().hasUserData());
    store().saveUserWithGender("m", 3, 1975);
    EXPECT_FALSE(store().hasUserData());
    auto rows = query("SELECT gender, birth_month, birth_year FROM user ORDER BY id");
    EXPECT_EQ(rows[0], (SqlRow{std::nullopt, "-1", "-1"}));
    EXPECT_EQ(rows[1], (SqlRow{"m", "3", "1975"}));
}

TEST_F(BeaconDatabaseTest, FailedPrepareRaisesWithSQLiteTextAndLaterCallsStillWork) {
    store().startNewBeacon();
    execute("DROP TABLE sub_beacon");
    try {
        store().startNewSubBeaconWithName("x", false);
        FAIL() << "no exception";
    } catch (const NSException& e) {
        EXPECT_EQ(e.name(), NSInternalInconsistencyException);
        EXPECT_EQ(e.reason(),
                  "Error: failed to prepare statement with message 'no such table: sub_beacon'.");
    }
    try {
        store().beaconsToSend();
        FAIL() << "no exception";
    } catch (const NSException& e) {
        EXPECT_EQ(e.reason(),
                  "Error: failed to generate sql request with message 'no such table: "
                  "sub_beacon'.");
    }
    store().startNewBeacon();
    EXPECT_EQ(store().currentRunningBeaconID(), 2);
}

}  // namespace
