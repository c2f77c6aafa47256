#include "platform/Foundation/Value.h"

#include <gtest/gtest.h>

#include <limits>

#include "platform/Foundation/NSString.h"

namespace {

TEST(Value, ArraysAndDictionariesAreShared) {
    Value d = Value::dictionary();
    Value copy = d;
    copy.dictionaryRef().set("k", 1);
    EXPECT_EQ(d["k"].integerValue(), 1);
    Value a = Value::array();
    Value b = a;
    b.arrayRef().push_back("x");
    EXPECT_EQ(a.arrayRef().size(), 1u);
}

TEST(Value, DictionaryKeepsInsertionOrderAndReplacesInPlace) {
    ValueDictionary d;
    d.set("z", 1);
    d.set("a", 2);
    d.set("z", 3);
    std::vector<std::string> keys;
    for (const auto& [k, v] : d) keys.push_back(k);
    EXPECT_EQ(keys, (std::vector<std::string>{"z", "a"}));
    EXPECT_EQ(d.find("z")->integerValue(), 3);
    d.remove("z");
    EXPECT_FALSE(d.contains("z"));
}

TEST(Value, NumbersKeepTheirFullRangeAndCompareByValue) {
    uint64_t big = 0xF000000000000001ull;
    EXPECT_EQ(Value(big).unsignedValue(), big);
    EXPECT_EQ(Value(-5).integerValue(), -5);
    EXPECT_EQ(Value(3), Value(3.0));
    EXPECT_FALSE(Value(big) == Value(static_cast<int64_t>(big)));
    EXPECT_TRUE(Value(true).boolValue());
    EXPECT_EQ(Value("3").integerValue(), 0) << "strings are not numbers";
}

// Real numbers read as integers are truncated and held to the integer's range, never converted
// out of range (a stored preference can hold any real number).
TEST(Value, RealsReadAsIntegersStayInRange) {
    struct Case {
        double real;
        int64_t integer;
        uint64_t unsignedInteger;
    };
    const int64_t min = std::numeric_limits<int64_t>::min();
    const int64_t max = std::numeric_limits<int64_t>::max();
    const uint64_t umax = std::numeric_limits<uint64_t>::max();
    const Case cases[] = {
        {3.7, 3, 3},
        {-3.7, -3, 0},
        {9.22337e+18, 9223370000000000000, 9223370000000000000ull},
        {9223372036854775808.0, max, 9223372036854775808ull},
        {-9223372036854775808.0, min, 0},
        {1e300, max, umax},
        {-1e300, min, 0},
        {18446744073709551616.0, max, umax},
        {std::numeric_limits<double>::quiet_NaN(), 0, 0},
        {std::numeric_limits<double>::infinity(), max, umax},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.real);
        EXPECT_EQ(Value(c.real).integerValue(), c.integer);
        EXPECT_EQ(Value(c.real).unsignedValue(), c.unsignedInteger);
    }
}

TEST(StringHelpers, Utf16LengthCountsCodeUnits) {
    struct Case {
        const char* text;
        size_t units;
    };
    for (Case c : {Case{"", 0}, Case{"abc", 3}, Case{"\xc3\xa9", 1}, Case{"\xe2\x82\xac", 1},
                   Case{"\xf0\x9f\x98\x80", 2}, Case{"\xff", 1}})
        EXPECT_EQ(utf16Length(c.text), c.units) << c.text;
}

TEST(StringHelpers, IllFormedUTF8BecomesReplacementCharacters) {
    const std::string fffd = "\xEF\xBF\xBD";
    struct Case {
        std::string text;
        std::string replaced;
    };
    const Case cases[] = {
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"caf\xC3( bad", "caf" + fffd + "( bad"},         // a sequence cut short
        {"\x80x", fffd + "x"},                            // a stray continuation byte
        {"\xC0\xAF", fffd + fffd},                        // an overlong "/"
        {"\xED\xA0\x80", fffd + fffd + fffd},             // a surrogate
        {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},  // past U+10FFFF
        {"\xF0\x9F\x98", fffd},                           // an emoji's end missing
        {std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const Case& c : cases) EXPECT_EQ(stringByReplacingInvalidUTF8(c.text), c.replaced);
}

TEST(StringHelpers, PathComponents) {
    EXPECT_EQ(lastPathComponent("/a/b/Video_0001"), "Video_0001");
    EXPECT_EQ(lastPathComponent("name"), "name");
    EXPECT_EQ(lastPathComponent("/a/b/"), "b");
    EXPECT_EQ(stringByAppendingPathComponent("/a/", "b"), "/a/b");
    EXPECT_EQ(stringWithFormat("%s_%04d", "Video", 12), "Video_0012");
}

}  // namespace
