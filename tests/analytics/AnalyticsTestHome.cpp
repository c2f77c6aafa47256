#include "tests/analytics/AnalyticsTestHome.h"

#include <sqlite3.h>
#include <stdlib.h>

#include <regex>
#include <sstream>

#include "analytics/Classes/Interfaces/Beacon.h"
#include "platform/CoreLocation/CLLocationManager.h"
#include "platform/Device/DeviceSettings.h"
#include "platform/Foundation/NSPathUtilities.h"
#include "platform/Foundation/NSUserDefaults.h"

AnalyticsTestHome::AnalyticsTestHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "analytics-XXXXXX").string();
    home_ = mkdtemp(pattern.data());
    std::filesystem::create_directory(home_ / "Documents");
    NSSetHomeDirectory(home_.string());
    NSUserDefaults::resetStandardUserDefaults();
    Beacon::resetForTesting();
    CLLocationManager::resetDeviceLocation();
    DeviceSettings settings = DeviceSettings::fromEnvironment();
    settings.analyticsURL = refusingURL();
    DeviceSettings::install(settings);
}

AnalyticsTestHome::~AnalyticsTestHome() {
    DeviceSettings::uninstall();
    Beacon::resetForTesting();
    CLLocationManager::resetDeviceLocation();
    NSUserDefaults::resetStandardUserDefaults();
    NSSetHomeDirectory("");
    std::error_code ec;
    std::filesystem::remove_all(home_, ec);
}

std::vector<SqlRow> AnalyticsTestHome::query(const std::string& sql,
                                             const std::string& code) const {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(cacheFile(code).c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
              SQLITE_OK);
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    std::vector<SqlRow> rows;
    while (statement && sqlite3_step(statement) == SQLITE_ROW) {
        SqlRow row;
        for (int i = 0; i < sqlite3_column_count(statement); ++i) {
            auto text = sqlite3_column_text(statement, i);
            row.push_back(text ? std::optional<std::string>(reinterpret_cast<const char*>(text))
                               : std::nullopt);
        }
        rows.push_back(row);
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

void AnalyticsTestHome::execute(const std::string& sql, const std::string& code) const {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(cacheFile(code).c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

void AnalyticsTestHome::setStatsCollection(bool enabled) {
    NSUserDefaults::standardUserDefaults()->setBool(enabled, "kEnableHalvornStatsCollection");
}

std::vector<std::string> AnalyticsTestHome::debugLines(const std::function<void()>& work) {
    testing::internal::CaptureStdout();
    work();
    std::istringstream out(testing::internal::GetCapturedStdout());
    static const std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \+0000 libRQAnalytics: (.*))");
    std::vector<std::string> messages;
    for (std::string text; std::getline(out, text);) {
        std::smatch match;
        EXPECT_TRUE(std::regex_match(text, match, line)) << text;
        messages.push_back(match.size() > 1 ? match[1].str() : text);
    }
    return messages;
}
