#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/Foundation/NSDateFormatter.h"
#include "platform/Foundation/NSLocale.h"
#include "tests/platform/Foundation/ScopedEnvironment.h"

TEST(NSLocaleTest, CurrentLocaleFollowsTheTimeSettingsOfTheEnvironment) {
    struct Case {
        std::optional<std::string> all, time, lang;
        std::string identifier;
    };
    const std::vector<Case> cases = {
        {{}, {}, {}, "en_US"},
        {{}, {}, "de_DE.UTF-8", "de_DE"},
        {{}, "fr_FR.ISO-8859-1", "de_DE.UTF-8", "fr_FR"},
        {"it_IT@euro", "fr_FR", "de_DE", "it_IT"},
        {"", "", "en_GB.UTF-8", "en_GB"},
        {"C", "fr_FR", "de_DE", "en_US"},
        {{}, "POSIX", "de_DE", "en_US"},
        {{}, {}, "C.UTF-8", "en_US"},
    };
    for (const Case& c : cases) {
        ScopedEnvironment env;
        env.set("LC_ALL", c.all);
        env.set("LC_TIME", c.time);
        env.set("LANG", c.lang);
        EXPECT_EQ(NSLocale::currentLocale().localeIdentifier(), c.identifier)
            << c.all.value_or("-") << " " << c.time.value_or("-") << " " << c.lang.value_or("-");
    }
}

TEST(NSLocaleTest, NewFormattersReadMonthNamesInTheUsersLocale) {
    struct Case {
        std::string lang;
        std::string text;
        bool parses;
    };
    const std::vector<Case> cases = {
        {"en_US.UTF-8", "March 3, 1975", true},
        {"C", "March 3, 1975", true},
        {"de_DE.UTF-8", "M\xC3\xA4rz 3, 1975", true},
        {"de_DE.UTF-8", "March 3, 1975", false},
    };
    for (const Case& c : cases) {
        ScopedEnvironment env;
        env.set("LC_ALL", std::nullopt);
        env.set("LC_TIME", std::nullopt);
        env.set("LANG", c.lang);
        NSDateFormatter formatter;
        formatter.setDateFormat("MMMM d, yyyy");
        auto date = formatter.dateFromString(c.text);
        EXPECT_EQ(date.has_value(), c.parses) << c.lang << ": " << c.text;
        if (date) {
            formatter.setDateFormat("M/y");
            EXPECT_EQ(formatter.stringFromDate(*date), "3/1975") << c.lang;
        }
    }
}
