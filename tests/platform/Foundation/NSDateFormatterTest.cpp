#include "platform/Foundation/NSDateFormatter.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/platform/Foundation/ScopedEnvironment.h"

namespace {

// 2010-03-07 14:05:00 in Tokyo (UTC+9, no daylight saving).
const NSDate kTokyoAfternoon = NSDate::dateWithTimeIntervalSince1970(1267938300.0);

NSTimeZone zone(const std::string& name) {
    return *NSTimeZone::timeZoneWithName(name);
}

TEST(NSDateFormatter, PatternLocaleAndZoneDecideTheText) {
    struct Case {
        const char* pattern;
        const char* locale;
        const char* zone;
        const char* text;
    };
    const Case cases[] = {
        {"yyyy/MM/dd HH:mm", "en_US", "Asia/Tokyo", "2010/03/07 14:05"},
        {"yyyy/MM/dd HH:mm", "en_US", "UTC", "2010/03/07 05:05"},
        {"yyyy/MM/dd HH:mm", "en_US", "America/Los_Angeles", "2010/03/06 21:05"},
        {"yyyy/MM/dd HH:mm", "ar_EG", "Asia/Tokyo",
         "\u0662\u0660\u0661\u0660/\u0660\u0663/"
         "\u0660\u0667 \u0661\u0664:\u0660\u0665"},
        {"MMMM d, yyyy", "en_US", "Asia/Tokyo", "March 7, 2010"},
        {"MMMM d, yyyy", "de_DE", "Asia/Tokyo", "M\u00e4rz 7, 2010"},
        {"h:mm a", "en_US", "Asia/Tokyo", "2:05 PM"},
    };
    for (const Case& c : cases) {
        NSDateFormatter f;
        f.setDateFormat(c.pattern);
        f.setLocale(NSLocale(c.locale));
        f.setTimeZone(zone(c.zone));
        EXPECT_EQ(f.stringFromDate(kTokyoAfternoon), c.text) << c.pattern << " " << c.locale;
    }
}

TEST(NSDateFormatter, APatternSetAfterAStyleWins) {
    NSDateFormatter f;
    f.setLocale(NSLocale("en_US"));
    f.setTimeZone(zone("Asia/Tokyo"));
    EXPECT_EQ(f.stringFromDate(kTokyoAfternoon), "");  // neither style nor pattern
    f.setDateStyle(NSDateFormatterLongStyle);
    EXPECT_EQ(f.stringFromDate(kTokyoAfternoon), "March 7, 2010");
    f.setDateFormat("yyyy/MM/dd HH:mm");
    f.setFormatterBehavior(NSDateFormatterBehavior10_4);
    EXPECT_EQ(f.stringFromDate(kTokyoAfternoon), "2010/03/07 14:05");
    f.setDateStyle(NSDateFormatterShortStyle);
    EXPECT_EQ(f.stringFromDate(kTokyoAfternoon), "3/7/10");
}

TEST(NSDateFormatter, TheDefaultZoneIsTheProcessTZAtCreation) {
    ScopedEnvironment env;
    env.set("TZ", "Asia/Tokyo");
    NSDateFormatter tokyo;
    env.set("TZ", ":UTC");
    NSDateFormatter utc;
    for (NSDateFormatter* f : {&tokyo, &utc}) {
        f->setDateFormat("HH:mm");
        f->setLocale(NSLocale("en_US"));
    }
    EXPECT_EQ(tokyo.stringFromDate(kTokyoAfternoon), "14:05");
    EXPECT_EQ(utc.stringFromDate(kTokyoAfternoon), "05:05");
    EXPECT_EQ(utc.timeZone().name(), "UTC");
}

TEST(NSTimeZone, KnowsOnlyRealZones) {
    EXPECT_TRUE(NSTimeZone::timeZoneWithName("Europe/Paris"));
    EXPECT_TRUE(NSTimeZone::timeZoneWithName("GMT+01:00"));
    EXPECT_FALSE(NSTimeZone::timeZoneWithName("Nowhere/Special"));
    EXPECT_FALSE(NSTimeZone::timeZoneWithName(""));
}

TEST(NSDateFormatter, ParsesTheWholeTextOrNothing) {
    NSDateFormatter f;
    f.setDateFormat("MMMM d, yyyy");
    f.setLocale(NSLocale("en_US"));
    f.setTimeZone(zone("UTC"));
    auto date = f.dateFromString("March 7, 2010");
    ASSERT_TRUE(date);
    EXPECT_EQ(date->timeIntervalSince1970(), 1267920000.0);

    f.setLocale(NSLocale("fr_FR"));
    auto french = f.dateFromString("mars 7, 2010");
    ASSERT_TRUE(french);
    EXPECT_EQ(*french, *date);

    for (const char* bad : {"", "March 7", "March 7, 2010 extra", "Smarch 7, 2010"})
        EXPECT_FALSE(f.dateFromString(bad)) << bad;
}

}  // namespace
