#pragma once
// Property lists (binary and XML) read into and written from the platform's Value.
//
// Mapping: boolean, integer, real, string, data, date, array and dictionary map to their
// property-list kinds; dictionaries keep their order both ways. A property-list integer holds
// 64 bits without a sign: one above INT64_MAX reads back as an unsigned Value, any other as a
// signed one, so an unsigned 64-bit value comes back unchanged (a negative integer comes back as
// an unsigned Value with the same bits: its integerValue() is the original number). A keyed
// archive's UID reads as the dictionary {"CF$UID": n}, and such a dictionary is written as a UID.
// Dates keep microseconds in binary lists (except that a moment within the second before the
// reference date reads back after it: libplist drops that sign) and whole seconds in XML.
// A null cannot be written.
//
// Threads: every function may be called from any thread.

#include <optional>

#include "platform/Foundation/Value.h"

inline constexpr const char* kPropertyListUIDKey = "CF$UID";

class PropertyList {
  public:
    // Parses binary or XML bytes; nullopt when they are not a property list.
    static std::optional<Value> read(const Data& bytes);
    // The value as a binary / XML property list; nullopt when it holds a null anywhere.
    static std::optional<Data> writeBinary(const Value& value);
    static std::optional<Data> writeXML(const Value& value);
};
