#include "platform/Foundation/Value.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <type_traits>

bool ValueDictionary::contains(std::string_view key) const {
    return find(key) != nullptr;
}

const Value* ValueDictionary::find(std::string_view key) const {
    for (const auto& [k, v] : entries_)
        if (k == key)
            return &v;
    return nullptr;
}

Value* ValueDictionary::find(std::string_view key) {
    for (auto& [k, v] : entries_)
        if (k == key)
            return &v;
    return nullptr;
}

void ValueDictionary::set(std::string key, Value value) {
    if (Value* existing = find(key)) {
        *existing = std::move(value);
        return;
    }
    entries_.emplace_back(std::move(key), std::move(value));
}

void ValueDictionary::remove(std::string_view key) {
    std::erase_if(entries_, [&](const Entry& e) { return e.first == key; });
}

bool Value::isNumber() const {
    auto t = type();
    return t == Type::Boolean || t == Type::Integer || t == Type::Unsigned || t == Type::Real;
}

bool Value::isNegative() const {
    return (type() == Type::Integer && std::get<int64_t>(v_) < 0) ||
           (type() == Type::Real && std::get<double>(v_) < 0);
}

bool Value::boolValue() const {
    switch (type()) {
        case Type::Boolean:
            return std::get<bool>(v_);
        case Type::Integer:
            return std::get<int64_t>(v_) != 0;
        case Type::Unsigned:
            return std::get<uint64_t>(v_) != 0;
        case Type::Real:
            return std::get<double>(v_) != 0.0;
        default:
            return false;
    }
}

namespace {

// A real number as an integer type: truncated toward zero, limited to the type's range, and 0 for
// NaN (a plain conversion of a value out of range is undefined).
template <class Int>
Int truncatedInRange(double value) {
    if (std::isnan(value))
        return 0;
    static_assert(std::is_same_v<Int, int64_t> || std::is_same_v<Int, uint64_t>);
    // The limits as doubles: -2^63 or 0, and 2^63 or 2^64 (one past the highest), all exact.
    constexpr double lowest = static_cast<double>(std::numeric_limits<Int>::min());
    constexpr double pastHighest =
        std::is_signed_v<Int> ? 9223372036854775808.0 : 18446744073709551616.0;
    if (value <= lowest)
        return std::numeric_limits<Int>::min();
    if (value >= pastHighest)
        return std::numeric_limits<Int>::max();
    return static_cast<Int>(value);
}

}  // namespace

int64_t Value::integerValue() const {
    switch (type()) {
        case Type::Boolean:
            return std::get<bool>(v_) ? 1 : 0;
        case Type::Integer:
            return std::get<int64_t>(v_);
        case Type::Unsigned:
            return static_cast<int64_t>(std::get<uint64_t>(v_));
        case Type::Real:
            return truncatedInRange<int64_t>(std::get<double>(v_));
        default:
            return 0;
    }
}

uint64_t Value::unsignedValue() const {
    switch (type()) {
        case Type::Unsigned:
            return std::get<uint64_t>(v_);
        case Type::Real:
            return truncatedInRange<uint64_t>(std::get<double>(v_));
        default:
            return static_cast<uint64_t>(integerValue());
    }
}

double Value::doubleValue() const {
    switch (type()) {
        case Type::Real:
            return std::get<double>(v_);
        case Type::Unsigned:
            return static_cast<double>(std::get<uint64_t>(v_));
        default:
            return static_cast<double>(integerValue());
    }
}

const std::string& Value::string() const {
    static const std::string empty;
    auto* s = std::get_if<std::string>(&v_);
    return s ? *s : empty;
}

const Data& Value::data() const {
    static const Data empty;
    auto* d = std::get_if<std::shared_ptr<const Data>>(&v_);
    return d && *d ? **d : empty;
}

NSDate Value::date() const {
    auto* d = std::get_if<NSDate>(&v_);
    return d ? *d : NSDate();
}

ValueArray& Value::arrayRef() const {
    return *std::get<std::shared_ptr<ValueArray>>(v_);
}

ValueDictionary& Value::dictionaryRef() const {
    return *std::get<std::shared_ptr<ValueDictionary>>(v_);
}

Value Value::operator[](std::string_view key) const {
    if (!isDictionary())
        return Value();
    const Value* v = dictionaryRef().find(key);
    return v ? *v : Value();
}

bool Value::operator==(const Value& other) const {
    if (isNumber() && other.isNumber()) {
        if (type() == Type::Real || other.type() == Type::Real)
            return doubleValue() == other.doubleValue();
        if (type() == Type::Unsigned || other.type() == Type::Unsigned)
            return unsignedValue() == other.unsignedValue() && !isNegative() && !other.isNegative();
        return integerValue() == other.integerValue();
    }
    if (type() != other.type())
        return false;
    switch (type()) {
        case Type::Null:
            return true;
        case Type::String:
            return string() == other.string();
        case Type::Data:
            return data() == other.data();
        case Type::Date:
            return date() == other.date();
        case Type::Array: {
            const auto& a = arrayRef();
            const auto& b = other.arrayRef();
            if (&a == &b)
                return true;
            if (a.size() != b.size())
                return false;
            for (size_t i = 0; i < a.size(); ++i)
                if (!(a[i] == b[i]))
                    return false;
            return true;
        }
        case Type::Dictionary: {
            const auto& a = dictionaryRef();
            const auto& b = other.dictionaryRef();
            if (&a == &b)
                return true;
            if (a.size() != b.size())
                return false;
            for (const auto& [k, v] : a) {
                const Value* w = b.find(k);
                if (!w || !(v == *w))
                    return false;
            }
            return true;
        }
        default:
            return false;
    }
}

Value Value::deepCopy() const {
    if (isArray()) {
        ValueArray out;
        for (const Value& item : arrayRef()) out.push_back(item.deepCopy());
        return Value(std::move(out));
    }
    if (isDictionary()) {
        ValueDictionary out;
        for (const auto& [key, item] : dictionaryRef()) out.set(key, item.deepCopy());
        return Value(std::move(out));
    }
    return *this;
}

std::string Value::description() const {
    switch (type()) {
        case Type::Null:
            return "(null)";
        case Type::Boolean:
            return boolValue() ? "1" : "0";
        case Type::Integer:
            return std::to_string(integerValue());
        case Type::Unsigned:
            return std::to_string(unsignedValue());
        case Type::Real: {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%g", doubleValue());
            return buf;
        }
        case Type::String:
            return string();
        case Type::Data:
            return "<" + std::to_string(data().size()) + " bytes>";
        case Type::Date:
            return date().description();
        case Type::Array: {
            std::string out = "(";
            bool first = true;
            for (const auto& v : arrayRef()) {
                out += first ? "" : ", ";
                out += v.description();
                first = false;
            }
            return out + ")";
        }
        case Type::Dictionary: {
            std::string out = "{";
            for (const auto& [k, v] : dictionaryRef()) out += k + " = " + v.description() + "; ";
            return out + "}";
        }
    }
    return {};
}
