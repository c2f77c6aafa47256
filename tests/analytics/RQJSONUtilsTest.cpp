#include "analytics/Classes/Utils/RQJSONUtils.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace {

Value dict(std::initializer_list<std::pair<std::string, Value>> entries) {
    ValueDictionary d;
    for (const auto& [k, v] : entries) d.set(k, v);
    return Value(d);
}

struct JsonCase {
    const char* label;
    Value value;
    std::string expected;
};

class JsonWriterTable : public testing::TestWithParam<JsonCase> {};

TEST_P(JsonWriterTable, WritesExactTextThatParsesBack) {
    const JsonCase& c = GetParam();
    auto text = RQJSONUtils::jsonStringForValue(c.value, 3);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text, c.expected);
    EXPECT_TRUE(nlohmann::json::accept(*text)) << *text;
}

INSTANTIATE_TEST_SUITE_P(
    Values, JsonWriterTable,
    testing::Values(
        JsonCase{"emptyDictionary", Value::dictionary(), "{}"},
        JsonCase{"emptyArray", Value::array(), "[]"}, JsonCase{"emptyString", Value(""), "\"\""},
        JsonCase{"oneEntry", dict({{"n", "Videos"}}), "{ \"n\" : \"Videos\"}"},
        JsonCase{"twoEntriesInOrder", dict({{"i", "10"}, {"o", "20"}}),
                 "{ \"i\" : \"10\", \"o\" : \"20\"}"},
        JsonCase{"twoStrings", Value(ValueArray{"a", "b"}), "[\"a\", \"b\"]"},
        JsonCase{
            "nested",
            dict({{"i", "1"}, {"sb", Value(ValueArray{dict({{"n", "x"}, {"i", "2"}}), dict({})})}}),
            "{ \"i\" : \"1\", \"sb\" : [{ \"n\" : \"x\", \"i\" : \"2\"}, {}]}"},
        JsonCase{"escapes", Value("a\tb\nc\"d"), "\"a\\tb\\nc\\\"d\""},
        JsonCase{"backslash", Value("a\\b"), "\"a\\\\b\""},
        JsonCase{"otherEscapes", Value("\b\f\r"), "\"\\b\\f\\r\""},
        JsonCase{"controlAsUnicodeEscape", Value("\x01-\x1f"), "\"\\u0001-\\u001f\""},
        JsonCase{"nonAsciiUnchanged", Value("Gr\xc3\xbc\xc3\x9f \xf0\x9f\x8e\xa5 a/b"),
                 "\"Gr\xc3\xbc\xc3\x9f \xf0\x9f\x8e\xa5 a/b\""},
        JsonCase{"null", Value(nullptr), "null"}, JsonCase{"true", Value(true), "true"},
        JsonCase{"false", Value(false), "false"}, JsonCase{"integer", Value(5), "5"},
        JsonCase{"negativeFraction", Value(-2.5), "-2.5"}, JsonCase{"wholeDouble", Value(3.0), "3"},
        JsonCase{"largeUnsigned", Value(18446744073709551615ull), "18446744073709551615"},
        JsonCase{"mixedArray", Value(ValueArray{nullptr, true, 0.1, "x"}),
                 "[null, true, 0.1, \"x\"]"}),
    [](const testing::TestParamInfo<JsonCase>& info) { return std::string(info.param.label); });

TEST(JsonWriter, EscapedStringsReadBackToTheOriginal) {
    const std::string original = "tab\t lf\n quote\" back\\ bell\x07 \xc3\xa9";
    auto parsed = nlohmann::json::parse(RQJSONUtils::jsonStringForString(original));
    EXPECT_EQ(parsed.get<std::string>(), original);
}

TEST(JsonWriter, IndentLevelNeverChangesTheText) {
    Value v = dict({{"a", Value(ValueArray{dict({{"b", "c"}})})}});
    EXPECT_EQ(*RQJSONUtils::jsonStringForValue(v, 0), *RQJSONUtils::jsonStringForValue(v, 7));
    EXPECT_EQ(RQJSONUtils::NSDictionaryToJSONString(v.dictionaryRef()),
              "{ \"a\" : [{ \"b\" : \"c\"}]}");
}

TEST(JsonWriter, UnsupportedKindsGiveNoTextAndNullInsideContainers) {
    EXPECT_FALSE(RQJSONUtils::jsonStringForValue(Value(Data{1, 2}), 0).has_value());
    EXPECT_EQ(RQJSONUtils::jsonStringForArray(ValueArray{Value(Data{}), "x"}, 0), "[null, \"x\"]");
}

}  // namespace
