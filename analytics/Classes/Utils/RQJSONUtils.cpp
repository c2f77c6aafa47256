#include "analytics/Classes/Utils/RQJSONUtils.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

constexpr const char* jsonNullString = "null";
constexpr const char* jsonFalseString = "false";
constexpr const char* jsonTrueString = "true";
constexpr const char* jsonStringDelimiterString = "\"";
constexpr const char* jsonValueSeparatorString = ",";
constexpr const char* jsonKeyValueSeparatorString = ":";
constexpr const char* jsonArrayEndString = "]";
constexpr const char* jsonArrayStartString = "[";
constexpr const char* jsonObjectEndString = "}";
constexpr const char* jsonObjectStartString = "{";

// A value of a kind the writer does not know still leaves a valid document behind.
std::string textOrNull(const Value& value, int indentLevel) {
    return RQJSONUtils::jsonStringForValue(value, indentLevel).value_or(jsonNullString);
}

// Plain decimal notation, shortest text that reads back as the same double; no exponent.
std::string decimalText(double d) {
    if (!std::isfinite(d))
        return jsonNullString;
    if (d == 0)
        return "0";
    char buf[400];
    auto result = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed);
    return std::string(buf, result.ptr);
}

std::string numberText(const Value& value) {
    switch (value.type()) {
        case Value::Type::Integer:
            return std::to_string(value.integerValue());
        case Value::Type::Unsigned:
            return std::to_string(value.unsignedValue());
        default:
            return decimalText(value.doubleValue());
    }
}

}  // namespace

std::string RQJSONUtils::NSDictionaryToJSONString(const ValueDictionary& dictionary) {
    std::string out = jsonObjectStartString;
    bool first = true;
    for (const auto& [key, value] : dictionary) {
        if (!first)
            out += jsonValueSeparatorString;
        first = false;
        out += ' ';
        out += jsonStringForString(key);
        out += ' ';
        out += jsonKeyValueSeparatorString;
        out += ' ';
        out += textOrNull(value, 0);
    }
    out += jsonObjectEndString;
    return out;
}

std::optional<std::string> RQJSONUtils::jsonStringForValue(const Value& value, int indentLevel) {
    switch (value.type()) {
        case Value::Type::String:
            return jsonStringForString(value.string());
        case Value::Type::Dictionary:
            return NSDictionaryToJSONString(value.dictionaryRef());
        case Value::Type::Array:
            return jsonStringForArray(value.arrayRef(), indentLevel);
        case Value::Type::Null:
            return std::string(jsonNullString);
        case Value::Type::Boolean:
            return std::string(value.boolValue() ? jsonTrueString : jsonFalseString);
        case Value::Type::Integer:
        case Value::Type::Unsigned:
        case Value::Type::Real:
            return numberText(value);
        default:
            return std::nullopt;
    }
}

std::string RQJSONUtils::jsonStringForArray(const ValueArray& array, int indentLevel) {
    std::string out = jsonArrayStartString;
    for (size_t i = 0; i < array.size(); ++i) {
        if (i > 0) {
            out += jsonValueSeparatorString;
            out += ' ';
        }
        out += textOrNull(array[i], indentLevel);
    }
    out += jsonArrayEndString;
    return out;
}

std::string RQJSONUtils::jsonStringForString(std::string_view string) {
    std::string out = jsonStringDelimiterString;
    // Every escaped unit is ASCII, so walking the UTF-8 bytes treats each UTF-16 unit as the
    // platform does and leaves multi-byte characters (surrogate pairs included) intact.
    for (char c : string) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
                    out += escape;
                } else {
                    out += c;
                }
        }
    }
    out += jsonStringDelimiterString;
    return out;
}
