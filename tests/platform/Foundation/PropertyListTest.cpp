#include "platform/Foundation/PropertyList.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

Value sample() {
    ValueDictionary inner;
    inner.set("zeta", Value(1));
    inner.set("alpha", Value(ValueArray{Value("x"), Value(2.5), Value(false)}));
    ValueDictionary root;
    root.set("userId", Value(uint64_t{0x8000000000000001ULL}));
    root.set("max", Value(UINT64_MAX));
    root.set("small", Value(7));
    root.set("flag", Value(true));
    root.set("name", Value("Zoë \xe2\x9c\x93"));
    root.set("bytes", Value(Data{0, 1, 2, 255}));
    root.set("when", Value(NSDate::dateWithTimeIntervalSince1970(1268000000.0)));
    root.set("nested", Value(std::move(inner)));
    root.set("empty", Value::array());
    return Value(std::move(root));
}

std::vector<std::string> keysOf(const Value& dict) {
    std::vector<std::string> keys;
    for (const auto& [k, v] : dict.dictionaryRef()) keys.push_back(k);
    return keys;
}

struct Format {
    const char* name;
    std::optional<Data> (*write)(const Value&);
};

class PropertyListRoundTrip : public ::testing::TestWithParam<Format> {};

// libplist 2.2 keeps integers as 64 unsigned bits: a negative number comes back with its bits,
// so its signed reading is the original.
TEST_P(PropertyListRoundTrip, NegativeIntegerKeepsItsSignedReading) {
    ValueDictionary root;
    root.set("negative", Value(int64_t{-42}));
    std::optional<Data> bytes = GetParam().write(Value(std::move(root)));
    ASSERT_TRUE(bytes);
    std::optional<Value> back = PropertyList::read(*bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ((*back)["negative"].integerValue(), -42);
}

TEST_P(PropertyListRoundTrip, KeepsValuesKindsAndOrder) {
    Value original = sample();
    std::optional<Data> bytes = GetParam().write(original);
    ASSERT_TRUE(bytes);
    std::optional<Value> back = PropertyList::read(*bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, original);
    EXPECT_EQ(keysOf(*back), keysOf(original));
    EXPECT_EQ(keysOf((*back)["nested"]), (std::vector<std::string>{"zeta", "alpha"}));

    EXPECT_EQ((*back)["userId"].type(), Value::Type::Unsigned);
    EXPECT_EQ((*back)["userId"].unsignedValue(), 0x8000000000000001ULL);
    EXPECT_EQ((*back)["max"].unsignedValue(), UINT64_MAX);
    EXPECT_EQ((*back)["small"].type(), Value::Type::Integer);
    EXPECT_EQ((*back)["flag"].type(), Value::Type::Boolean);
    EXPECT_EQ((*back)["when"].date().timeIntervalSince1970(), 1268000000.0);
}

INSTANTIATE_TEST_SUITE_P(Formats, PropertyListRoundTrip,
                         ::testing::Values(Format{"binary", &PropertyList::writeBinary},
                                           Format{"xml", &PropertyList::writeXML}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PropertyList, BinaryKeepsFractionsOfASecond) {
    ValueDictionary d;
    d.set("t", Value(NSDate::dateWithTimeIntervalSinceReferenceDate(-12.25)));
    auto back = PropertyList::read(*PropertyList::writeBinary(Value(std::move(d))));
    ASSERT_TRUE(back);
    EXPECT_DOUBLE_EQ((*back)["t"].date().timeIntervalSinceReferenceDate(), -12.25);
}

TEST(PropertyList, ReadsTheXmlOfOtherWriters) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<plist version=\"1.0\"><dict>"
        "<key>b</key><string>second</string><key>a</key><integer>-3</integer>"
        "<key>d</key><date>2010-03-07T14:05:00Z</date>"
        "</dict></plist>";
    auto back = PropertyList::read(Data(xml.begin(), xml.end()));
    ASSERT_TRUE(back);
    EXPECT_EQ(keysOf(*back), (std::vector<std::string>{"b", "a", "d"}));
    EXPECT_EQ((*back)["b"].string(), "second");
    EXPECT_EQ((*back)["a"].integerValue(), -3);
    EXPECT_EQ((*back)["d"].date().timeIntervalSince1970(), 1267970700.0);
}

TEST(PropertyList, UidsTravelAsCfUidDictionaries) {
    ValueDictionary uid;
    uid.set(kPropertyListUIDKey, Value(uint64_t{5}));
    ValueDictionary root;
    root.set("$top", Value(std::move(uid)));
    auto back = PropertyList::read(*PropertyList::writeBinary(Value(std::move(root))));
    ASSERT_TRUE(back);
    EXPECT_EQ((*back)["$top"][kPropertyListUIDKey].unsignedValue(), 5u);
}

TEST(PropertyList, RejectsWhatIsNoPropertyList) {
    for (std::string bad : {"", "garbage", "bplist00", "<plist><dict><key>a</key></plist>"}) {
        EXPECT_FALSE(PropertyList::read(Data(bad.begin(), bad.end()))) << bad;
    }
}

TEST(PropertyList, ANullCannotBeWritten) {
    Value array(ValueArray{Value(1), Value()});
    EXPECT_FALSE(PropertyList::writeBinary(array));
    EXPECT_FALSE(PropertyList::writeXML(array));
}

}  // namespace
