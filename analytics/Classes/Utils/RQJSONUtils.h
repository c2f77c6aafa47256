#pragma once
// Writes nested dictionaries, arrays and strings as JSON text on one line. The analytics upload
// writes each cached session record with it. Stateless; every operation is a class function.

#include <optional>
#include <string>
#include <string_view>

#include "platform/Foundation/Value.h"

class RQJSONUtils {
  public:
    RQJSONUtils() = delete;

    // `{ "key" : value, "key" : value}` in the dictionary's own key order; `{}` when empty.
    static std::string NSDictionaryToJSONString(const ValueDictionary& dictionary);

    // The JSON text of a string, dictionary, array, null, boolean or number; nullopt for any
    // other kind (data, dates). The indent level does not change the text.
    static std::optional<std::string> jsonStringForValue(const Value& value, int indentLevel);

    // `[a, b]`; `[]` when empty.
    static std::string jsonStringForArray(const ValueArray& array, int indentLevel);

    // The string in quotation marks, with quotation mark, backslash, \b \f \n \r \t escaped and
    // every other code unit below U+0020 written as \u00xx; everything else is copied as is.
    static std::string jsonStringForString(std::string_view string);
};
