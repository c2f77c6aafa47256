#include "platform/Foundation/PropertyList.h"

#include <plist/plist.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>

#include "platform/Foundation/BinaryPropertyList.h"

namespace {

struct PlistDeleter {
    void operator()(void* node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

Value fromPlist(plist_t node);

Value dictionaryFromPlist(plist_t node) {
    ValueDictionary dict;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(node, &it);
    for (;;) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, it, &key, &item);
        if (!item)
            break;
        dict.set(key ? key : "", fromPlist(item));
        std::free(key);
    }
    std::free(it);
    return Value(std::move(dict));
}

Value arrayFromPlist(plist_t node) {
    ValueArray array;
    uint32_t n = plist_array_get_size(node);
    array.reserve(n);
    for (uint32_t i = 0; i < n; ++i) array.push_back(fromPlist(plist_array_get_item(node, i)));
    return Value(std::move(array));
}

Value fromPlist(plist_t node) {
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            uint8_t b = 0;
            plist_get_bool_val(node, &b);
            return Value(b != 0);
        }
        case PLIST_UINT: {
            uint64_t u = 0;
            plist_get_uint_val(node, &u);
            if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
                return Value(u);
            return Value(static_cast<int64_t>(u));
        }
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            return Value(d);
        }
        case PLIST_STRING:
        case PLIST_KEY: {
            // By pointer and length: a string may hold NUL characters, on which
            // plist_get_string_val aborts the process.
            uint64_t length = 0;
            const char* s = plist_get_string_ptr(node, &length);
            return Value(s ? std::string(s, length) : std::string());
        }
        case PLIST_DATA: {
            char* bytes = nullptr;
            uint64_t length = 0;
            plist_get_data_val(node, &bytes, &length);
            Data d(bytes, bytes + length);
            std::free(bytes);
            return Value(std::move(d));
        }
        case PLIST_DATE: {
            int32_t sec = 0, usec = 0;
            plist_get_date_val(node, &sec, &usec);
            // libplist truncates the seconds toward zero and hands out the fraction unsigned.
            double t = sec < 0 ? sec - usec / 1e6 : sec + usec / 1e6;
            return Value(NSDate::dateWithTimeIntervalSinceReferenceDate(t));
        }
        case PLIST_UID: {
            uint64_t u = 0;
            plist_get_uid_val(node, &u);
            ValueDictionary uid;
            uid.set(kPropertyListUIDKey, Value(u));
            return Value(std::move(uid));
        }
        case PLIST_ARRAY:
            return arrayFromPlist(node);
        case PLIST_DICT:
            return dictionaryFromPlist(node);
        case PLIST_NONE:
            break;
    }
    return Value();
}

bool isUID(const Value& v) {
    if (!v.isDictionary() || v.dictionaryRef().size() != 1)
        return false;
    const Value* n = v.dictionaryRef().find(kPropertyListUIDKey);
    return n && (n->type() == Value::Type::Integer || n->type() == Value::Type::Unsigned);
}

// nullptr when the value (or a member) has no property-list form.
plist_t toPlist(const Value& v) {
    switch (v.type()) {
        case Value::Type::Null:
            return nullptr;
        case Value::Type::Boolean:
            return plist_new_bool(v.boolValue() ? 1 : 0);
        case Value::Type::Integer:
        case Value::Type::Unsigned:
            return plist_new_uint(v.unsignedValue());
        case Value::Type::Real:
            return plist_new_real(v.doubleValue());
        case Value::Type::String:
            return plist_new_string(v.string().c_str());
        case Value::Type::Data: {
            const Data& d = v.data();
            return plist_new_data(reinterpret_cast<const char*>(d.data()), d.size());
        }
        case Value::Type::Date: {
            // libplist holds a date as 32-bit seconds; a date beyond that range (a damaged
            // file's, say) is kept at its nearest end.
            double t = v.date().timeIntervalSinceReferenceDate();
            t = std::isnan(t) ? 0.0
                              : std::clamp(t, double{std::numeric_limits<int32_t>::min()},
                                           double{std::numeric_limits<int32_t>::max()});
            double sec = std::floor(t);
            auto usec = static_cast<int32_t>(std::lround((t - sec) * 1e6));
            if (usec == 1000000) {
                sec += 1;
                usec = 0;
            }
            return plist_new_date(static_cast<int32_t>(sec), usec);
        }
        case Value::Type::Array: {
            PlistPtr array(plist_new_array());
            for (const Value& item : v.arrayRef()) {
                plist_t node = toPlist(item);
                if (!node)
                    return nullptr;
                plist_array_append_item(array.get(), node);
            }
            return array.release();
        }
        case Value::Type::Dictionary: {
            if (isUID(v))
                return plist_new_uid(v[kPropertyListUIDKey].unsignedValue());
            PlistPtr dict(plist_new_dict());
            for (const auto& [key, item] : v.dictionaryRef()) {
                plist_t node = toPlist(item);
                if (!node)
                    return nullptr;
                plist_dict_set_item(dict.get(), key.c_str(), node);
            }
            return dict.release();
        }
    }
    return nullptr;
}

// A dictionary key with a NUL character makes libplist abort the process (an assertion).
bool holdsNul(const BinaryPropertyList& list, uint64_t string) {
    const uint8_t* p = list.payload(string);
    const uint64_t n = list.count(string);
    if (list.is(string, BinaryPropertyList::kAsciiString))
        return std::memchr(p, 0, n) != nullptr;
    for (uint64_t i = 0; i < n; ++i)
        if (p[2 * i] == 0 && p[2 * i + 1] == 0)
            return true;
    return false;
}

// Binary bytes reach libplist only once the reader has checked them whole, and without keys
// that hold a NUL.
bool readableBinary(const Data& bytes) {
    constexpr std::string_view kMagic = "bplist00";
    if (bytes.size() < kMagic.size() ||
        std::memcmp(bytes.data(), kMagic.data(), kMagic.size()) != 0)
        return true;  // not binary: libplist reads XML itself
    const auto list = BinaryPropertyList::open(bytes.data(), bytes.size());
    if (!list)
        return false;
    for (uint64_t object = 0; object < list->objectCount(); ++object) {
        if (!list->is(object, BinaryPropertyList::kDictionary))
            continue;
        for (uint64_t k = 0; k < list->count(object); ++k)
            if (holdsNul(*list, list->element(object, k)))
                return false;
    }
    return true;
}

}  // namespace

std::optional<Value> PropertyList::read(const Data& bytes) {
    if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max() ||
        !readableBinary(bytes))
        return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<uint32_t>(bytes.size()), &root);
    if (!root)
        return std::nullopt;
    PlistPtr owner(root);
    return fromPlist(root);
}

std::optional<Data> PropertyList::writeBinary(const Value& value) {
    PlistPtr root(toPlist(value));
    if (!root)
        return std::nullopt;
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root.get(), &bytes, &length);
    if (!bytes)
        return std::nullopt;
    Data out(bytes, bytes + length);
    plist_to_bin_free(bytes);
    return out;
}

std::optional<Data> PropertyList::writeXML(const Value& value) {
    PlistPtr root(toPlist(value));
    if (!root)
        return std::nullopt;
    char* text = nullptr;
    uint32_t length = 0;
    plist_to_xml(root.get(), &text, &length);
    if (!text)
        return std::nullopt;
    Data out(text, text + length);
    plist_to_xml_free(text);
    return out;
}
