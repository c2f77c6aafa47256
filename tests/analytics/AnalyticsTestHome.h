#pragma once
// A fixture for the analytics tests: a fresh temporary home folder (with Documents/) for the
// platform, fresh user defaults, a facade and cache never started, no location fix, a manual
// clock, an analytics endpoint on loopback that refuses connections (so no upload leaves the
// machine or waits); and a second SQLite connection to read back what the cache wrote.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/RefusingLoopbackPort.h"
#include "tests/support/RunLoopTesting.h"

inline constexpr const char* kTestCode = "0123456789abcdef0123456789ABCDEF";

using SqlRow = std::vector<std::optional<std::string>>;

class AnalyticsTestHome : public testing::Test {
  protected:
    AnalyticsTestHome();
    ~AnalyticsTestHome() override;

    std::string documents() const { return (home_ / "Documents").string(); }
    std::string cacheDirectory() const { return documents() + "/halvorn"; }
    std::string cacheFile(const std::string& code = kTestCode) const {
        return cacheDirectory() + "/" + code + ".sql";
    }

    // Every row of `sql` run on the cache file through a connection of its own; NULL is nullopt.
    std::vector<SqlRow> query(const std::string& sql, const std::string& code = kTestCode) const;
    // Runs `sql` on the cache file through a connection of its own.
    void execute(const std::string& sql, const std::string& code = kTestCode) const;

    void setStatsCollection(bool enabled);

    // The debug-log messages written while `work` runs, without their date prefix.
    std::vector<std::string> debugLines(const std::function<void()>& work);
    // "http://127.0.0.1:<port>/" where nothing listens.
    std::string refusingURL() const { return refusing_.url("/"); }

    ManualClockScope time;

  private:
    std::filesystem::path home_;
    RefusingLoopbackPort refusing_;
};
