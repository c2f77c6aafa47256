#include "platform/Foundation/PropertyList.h"

#include <plist/plist.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

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

uint64_t bigEndian(const uint8_t* p, size_t bytes) {
    uint64_t v = 0;
    for (size_t i = 0; i < bytes; ++i) v = v << 8 | p[i];
    return v;
}

// libplist aborts the process (an assertion) on a dictionary key of a binary list that is no
// string or holds a NUL character, as damaged bytes may have it; such lists are refused here.
// Other lists, and every other kind of damage, are left to libplist.
bool binaryKeysAreStrings(const Data& b) {
    constexpr size_t kHeader = 8, kTrailer = 32;
    if (b.size() < kHeader + kTrailer || std::memcmp(b.data(), "bplist00", kHeader) != 0)
        return true;
    const uint8_t* trailer = b.data() + b.size() - kTrailer;
    const size_t offsetSize = trailer[6], refSize = trailer[7];
    const uint64_t count = bigEndian(trailer + 8, 8), table = bigEndian(trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || table > b.size() ||
        count > (b.size() - table) / offsetSize)
        return false;
    auto object = [&](uint64_t ref, size_t* at) {
        if (ref >= count)
            return false;
        *at = bigEndian(b.data() + table + ref * offsetSize, offsetSize);
        return *at < table;
    };
    // An object's count: the marker's low nibble, or an integer object after it when that is 0xF.
    auto length = [&](size_t at, uint64_t* n, size_t* start) {
        if ((b[at] & 0x0F) != 0x0F) {
            *n = b[at] & 0x0F;
            *start = at + 1;
            return true;
        }
        if (at + 1 >= b.size() || (b[at + 1] & 0xF0) != 0x10 || (b[at + 1] & 0x0F) > 3)
            return false;
        const size_t bytes = size_t{1} << (b[at + 1] & 0x0F);
        if (at + 2 + bytes > b.size())
            return false;
        *n = bigEndian(&b[at + 2], bytes);
        *start = at + 2 + bytes;
        return true;
    };
    for (uint64_t i = 0; i < count; ++i) {
        size_t at = 0, refs = 0;
        uint64_t entries = 0;
        if (!object(i, &at))
            return false;
        if ((b[at] & 0xF0) != 0xD0)
            continue;
        if (!length(at, &entries, &refs) || refs > b.size() ||
            entries > (b.size() - refs) / refSize)
            return false;
        for (uint64_t k = 0; k < entries; ++k) {
            size_t key = 0, chars = 0;
            uint64_t n = 0;
            if (!object(bigEndian(&b[refs + k * refSize], refSize), &key) ||
                !length(key, &n, &chars))
                return false;
            const uint8_t kind = b[key] & 0xF0;
            const size_t unit = kind == 0x50 ? 1 : kind == 0x60 ? 2 : 0;
            if (unit == 0 || chars > b.size() || n > (b.size() - chars) / unit)
                return false;
            for (uint64_t c = 0; c < n; ++c)
                if (b[chars + c * unit] == 0 && (unit == 1 || b[chars + c * unit + 1] == 0))
                    return false;
        }
    }
    return true;
}

}  // namespace

std::optional<Value> PropertyList::read(const Data& bytes) {
    if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max() ||
        !binaryKeysAreStrings(bytes))
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
