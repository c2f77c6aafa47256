#pragma once
// The dynamic value of the platform: null, boolean, number, string, data, date, array, dictionary.
// Scalars, strings, data and dates are values; arrays and dictionaries have reference semantics
// (copies of a Value share one container), and dictionaries keep their insertion order.
//
// Threads: several threads may read a Value at once (copy it, compare it, describe it, look
// into it) while none changes it. Scalars, strings, data and dates never change once made. An
// array or a dictionary is shared by every copy, so a change through arrayRef() or
// dictionaryRef() while another thread reads any copy of it is a data race; so is assigning
// to a Value that another thread reads. A value handed to a thread that may change it, or that
// reads it while the giver goes on changing it, goes as a deepCopy(): the keepers that serve
// several threads (NSUserDefaults, UIPasteboard) copy in and out this way.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/Foundation/NSDate.h"

using Data = std::vector<uint8_t>;

class Value;
using ValueArray = std::vector<Value>;

class ValueDictionary {
  public:
    using Entry = std::pair<std::string, Value>;

    // Defined below Value: clang needs the complete entry type for these.
    size_t size() const;
    bool empty() const;
    bool contains(std::string_view key) const;
    // nullptr when the key is absent.
    const Value* find(std::string_view key) const;
    Value* find(std::string_view key);
    // A new key goes to the end; an existing key keeps its place and takes the new value.
    void set(std::string key, Value value);
    void remove(std::string_view key);
    std::vector<Entry>::const_iterator begin() const;
    std::vector<Entry>::const_iterator end() const;

  private:
    std::vector<Entry> entries_;
};

class Value {
  public:
    enum class Type {
        Null,
        Boolean,
        Integer,
        Unsigned,
        Real,
        String,
        Data,
        Date,
        Array,
        Dictionary
    };

    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b) : v_(b) {}
    Value(int i) : v_(int64_t{i}) {}
    Value(long i) : v_(int64_t{i}) {}
    Value(long long i) : v_(int64_t{i}) {}
    Value(unsigned u) : v_(uint64_t{u}) {}
    Value(unsigned long u) : v_(uint64_t{u}) {}
    Value(unsigned long long u) : v_(uint64_t{u}) {}
    Value(double d) : v_(d) {}
    Value(float f) : v_(double{f}) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(const char* s) : v_(std::string(s)) {}
    Value(std::string_view s) : v_(std::string(s)) {}
    Value(Data d) : v_(std::make_shared<const Data>(std::move(d))) {}
    Value(std::shared_ptr<const Data> d) : v_(std::move(d)) {}
    Value(NSDate d) : v_(d) {}
    Value(ValueArray a) : v_(std::make_shared<ValueArray>(std::move(a))) {}
    Value(ValueDictionary d) : v_(std::make_shared<ValueDictionary>(std::move(d))) {}

    static Value array() { return Value(ValueArray{}); }
    static Value dictionary() { return Value(ValueDictionary{}); }

    Type type() const { return static_cast<Type>(v_.index()); }
    bool isNull() const { return type() == Type::Null; }
    bool isNumber() const;  // boolean, integer, unsigned or real
    bool isString() const { return type() == Type::String; }
    bool isData() const { return type() == Type::Data; }
    bool isDate() const { return type() == Type::Date; }
    bool isArray() const { return type() == Type::Array; }
    bool isDictionary() const { return type() == Type::Dictionary; }

    // Numeric readings convert between the number kinds; other types read as 0 / false.
    bool boolValue() const;
    int64_t integerValue() const;
    uint64_t unsignedValue() const;
    double doubleValue() const;

    // Empty string, empty data or the reference date when the value is of another type.
    const std::string& string() const;
    const Data& data() const;
    NSDate date() const;

    // The shared container; throws std::bad_variant_access when the value is of another type.
    ValueArray& arrayRef() const;
    ValueDictionary& dictionaryRef() const;

    // Dictionary member, or null when absent or when this is not a dictionary.
    Value operator[](std::string_view key) const;

    // Deep equality; numbers compare by value across kinds.
    bool operator==(const Value& other) const;

    // A copy that shares no array or dictionary with this value (for keepers of snapshots).
    Value deepCopy() const;

    // A short human-readable form, for logs and messages.
    std::string description() const;

  private:
    bool isNegative() const;
    std::variant<std::monostate, bool, int64_t, uint64_t, double, std::string,
                 std::shared_ptr<const Data>, NSDate, std::shared_ptr<ValueArray>,
                 std::shared_ptr<ValueDictionary>>
        v_;
};

inline size_t ValueDictionary::size() const {
    return entries_.size();
}
inline bool ValueDictionary::empty() const {
    return entries_.empty();
}
inline std::vector<ValueDictionary::Entry>::const_iterator ValueDictionary::begin() const {
    return entries_.begin();
}
inline std::vector<ValueDictionary::Entry>::const_iterator ValueDictionary::end() const {
    return entries_.end();
}
