// Inputs that once broke a fuzz target, read again the way the target reads them.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/Foundation/NSUserDefaults.h"
#include "platform/Foundation/PropertyList.h"
#include "tests/support/FuzzFixtures.h"

namespace {

class UserDefaultsFuzzFinding : public ::testing::TestWithParam<std::string> {};

TEST_P(UserDefaultsFuzzFinding, TheFileReadsAsADictionary) {
    NSUserDefaults defaults(GetParam());
    Value all = defaults.dictionaryRepresentation();
    ASSERT_TRUE(all.isDictionary());
    for (const auto& [key, value] : all.dictionaryRef()) {
        EXPECT_EQ(defaults.objectForKey(key), value) << key;
        // Every reading of every value is defined (the sanitizer build checks it).
        (void)defaults.boolForKey(key);
        (void)defaults.integerForKey(key);
        (void)defaults.stringForKey(key);
    }
    // What was read can be saved again, and the saved file holds every key.
    std::optional<Data> binary = PropertyList::writeBinary(all);
    ASSERT_TRUE(binary);
    ASSERT_TRUE(PropertyList::writeXML(all));
    std::optional<Value> again = PropertyList::read(*binary);
    ASSERT_TRUE(again && again->isDictionary());
    EXPECT_EQ(again->dictionaryRef().size(), all.dictionaryRef().size());
}

INSTANTIATE_TEST_SUITE_P(Fixtures, UserDefaultsFuzzFinding,
                         ::testing::ValuesIn(fuzzFixtures("user_defaults")),
                         [](const auto& info) { return fuzzFixtureName(info.param); });

// libplist aborts the process on a string holding NUL read as a C string, and on a dictionary
// key that holds NUL or is no string: such strings are read, such files count as empty.
TEST(UserDefaultsFuzzFindings, NulCharactersInStringsAndKeys) {
    NSUserDefaults values(fuzzFixture("user_defaults", "nul-in-value.plist"));
    // libplist itself ends an ASCII string at its NUL; a UTF-16 one is read whole.
    EXPECT_EQ(values.stringForKey("ascii"), "a");
    EXPECT_EQ(values.stringForKey("utf16"), std::string("\xC3\xA9\0b", 4));
    EXPECT_EQ(values.integerForKey("count"), 3);

    for (const char* file : {"nul-in-key.plist", "damaged-key.plist"}) {
        NSUserDefaults keys(fuzzFixture("user_defaults", file));
        EXPECT_TRUE(keys.dictionaryRepresentation().dictionaryRef().empty()) << file;
    }
}

// A date past the 32-bit seconds libplist holds is saved at the nearest end of that range.
TEST(UserDefaultsFuzzFindings, DateBeyondTheStoredRange) {
    for (double t : {1e12, -1e12}) {
        ValueDictionary d;
        d.set("when", Value(NSDate::dateWithTimeIntervalSinceReferenceDate(t)));
        std::optional<Data> bytes = PropertyList::writeBinary(Value(std::move(d)));
        ASSERT_TRUE(bytes) << t;
        std::optional<Value> back = PropertyList::read(*bytes);
        ASSERT_TRUE(back) << t;
        EXPECT_EQ((*back)["when"].date().timeIntervalSinceReferenceDate(),
                  t > 0 ? 2147483647.0 : -2147483648.0);
    }
}

}  // namespace
