#include "platform/Foundation/BinaryPropertyList.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

constexpr char kMagic[] = "bplist00";
constexpr size_t kMagicSize = 8;
constexpr size_t kTrailerSize = 32;

// Containers nest no deeper than this; keyed archives of ours nest four deep.
constexpr size_t kMaxDepth = 256;

uint64_t readBigEndian(const uint8_t* p, size_t width) {
    uint64_t v = 0;
    for (size_t i = 0; i < width; ++i) v = (v << 8) | p[i];
    return v;
}

void appendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::optional<BinaryPropertyList> BinaryPropertyList::open(const uint8_t* bytes, size_t length) {
    BinaryPropertyList list(bytes, length);
    if (!list.readTrailer() || !list.readObjects() || !list.checkReferences())
        return std::nullopt;
    return list;
}

bool BinaryPropertyList::isWalkable() const {
    return haveOwnBytes() && checkAcyclic();
}

uint64_t BinaryPropertyList::element(uint64_t container, uint64_t i) const {
    return readBigEndian(payload(container) + i * refSize_, refSize_);
}

std::optional<uint64_t> BinaryPropertyList::value(uint64_t dictionary, std::string_view key) const {
    if (!is(dictionary, kDictionary))
        return std::nullopt;
    const uint64_t n = count(dictionary);
    for (uint64_t i = 0; i < n; ++i)
        if (equals(element(dictionary, i), key))
            return element(dictionary, n + i);
    return std::nullopt;
}

bool BinaryPropertyList::equals(uint64_t object, std::string_view text) const {
    if (count(object) != text.size())
        return false;
    const uint8_t* p = payload(object);
    if (is(object, kAsciiString))
        return std::memcmp(p, text.data(), text.size()) == 0;
    if (!is(object, kUtf16String))
        return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (readBigEndian(p + 2 * i, 2) != static_cast<uint8_t>(text[i]))
            return false;
    return true;
}

std::optional<std::string> BinaryPropertyList::string(uint64_t object) const {
    const uint8_t* p = payload(object);
    const uint64_t n = count(object);
    if (is(object, kAsciiString))
        return std::string(reinterpret_cast<const char*>(p), n);
    if (!is(object, kUtf16String))
        return std::nullopt;
    std::string text;
    for (uint64_t i = 0; i < n; ++i) {
        uint32_t unit = static_cast<uint32_t>(readBigEndian(p + 2 * i, 2));
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < n) {
            const auto low = static_cast<uint32_t>(readBigEndian(p + 2 * (i + 1), 2));
            if (low >= 0xDC00 && low < 0xE000) {
                appendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        appendUtf8(text, unit >= 0xD800 && unit < 0xE000 ? 0xFFFD : unit);
    }
    return text;
}

std::optional<uint64_t> BinaryPropertyList::uid(uint64_t object) const {
    if (!is(object, kUid))
        return std::nullopt;
    return readBigEndian(payload(object), count(object));
}

uint64_t BinaryPropertyList::offsetOf(uint64_t object) const {
    return readBigEndian(bytes_ + tableOffset_ + object * offsetSize_, offsetSize_);
}

bool BinaryPropertyList::readTrailer() {
    if (length_ < kMagicSize + 1 + 1 + kTrailerSize || std::memcmp(bytes_, kMagic, kMagicSize) != 0)
        return false;
    const uint8_t* trailer = bytes_ + length_ - kTrailerSize;
    offsetSize_ = trailer[6];
    refSize_ = trailer[7];
    const uint64_t objectCount = readBigEndian(trailer + 8, 8);
    top_ = readBigEndian(trailer + 16, 8);
    tableOffset_ = readBigEndian(trailer + 24, 8);
    // Any width up to 8 bytes: libplist writes 3-byte offsets where they suffice.
    auto validWidth = [](unsigned w) { return w >= 1 && w <= 8; };
    if (!validWidth(offsetSize_) || !validWidth(refSize_))
        return false;
    const uint64_t tableEnd = length_ - kTrailerSize;
    if (tableOffset_ <= kMagicSize || tableOffset_ > tableEnd)
        return false;
    // Every object takes at least one byte before the table, and one offset in it.
    if (objectCount == 0 || objectCount > (tableEnd - tableOffset_) / offsetSize_ ||
        objectCount > tableOffset_ - kMagicSize)
        return false;
    if (top_ >= objectCount)
        return false;
    objects_.resize(objectCount);
    return true;
}

// A count in a marker's low nibble, or an integer object of 1, 2, 4 or 8 bytes after it. `at`
// moves past what was read; false when it would leave the object area.
bool BinaryPropertyList::readCount(uint8_t marker, uint64_t& at, uint64_t& count) const {
    count = marker & 0x0F;
    if (count != 0x0F)
        return true;
    if (at >= tableOffset_ || (bytes_[at] & 0xF0) != kInteger || (bytes_[at] & 0x0F) > 3)
        return false;
    const uint64_t width = uint64_t{1} << (bytes_[at] & 0x0F);
    ++at;
    if (width > tableOffset_ - at)
        return false;
    count = readBigEndian(bytes_ + at, width);
    at += width;
    return true;
}

// Parses object `i`'s marker and length; returns where it ends, or 0 when it is malformed.
uint64_t BinaryPropertyList::readObject(uint64_t i) {
    const uint64_t offset = offsetOf(i);
    if (offset < kMagicSize || offset >= tableOffset_)
        return 0;
    const uint8_t marker = bytes_[offset];
    const uint8_t low = marker & 0x0F;
    uint64_t at = offset + 1;
    Object& o = objects_[i];
    o.kind = marker & 0xF0;
    uint64_t unit = 1;  // bytes per counted element
    switch (o.kind) {
        case kNull:
            // null, false, true, fill
            if (low != 0x0 && low != 0x8 && low != 0x9 && low != 0xF)
                return 0;
            o.kind = marker;
            break;
        case kInteger:
            if (low > 4)
                return 0;
            o.count = uint64_t{1} << low;
            break;
        case kReal:
            if (low != 2 && low != 3)
                return 0;
            o.count = uint64_t{1} << low;
            break;
        case kDate:
            if (low != 3)
                return 0;
            o.count = 8;
            break;
        case kUid:
            // 1, 2, 4 or 8 bytes, as every writer makes them (and libplist reads only those).
            if (low != 0 && low != 1 && low != 3 && low != 7)
                return 0;
            o.count = low + 1u;
            break;
        case kData:
        case kAsciiString:
            if (!readCount(marker, at, o.count))
                return 0;
            break;
        case kUtf16String:
            if (!readCount(marker, at, o.count))
                return 0;
            unit = 2;
            break;
        case kArray:
        case kSet:
            if (!readCount(marker, at, o.count))
                return 0;
            unit = refSize_;
            break;
        case kDictionary:
            if (!readCount(marker, at, o.count))
                return 0;
            unit = 2 * uint64_t{refSize_};
            break;
        default:
            return 0;
    }
    o.payload = at;
    if (o.count > (tableOffset_ - at) / unit)
        return 0;
    o.end = at + o.count * unit;
    return o.end;
}

bool BinaryPropertyList::readObjects() {
    for (uint64_t i = 0; i < objects_.size(); ++i)
        if (readObject(i) == 0)
            return false;
    return true;
}

// Objects that overlap would let a small file make a reader walk the same references again and
// again; no writer shares bytes between objects.
bool BinaryPropertyList::haveOwnBytes() const {
    std::vector<std::pair<uint64_t, uint64_t>> extents(objects_.size());
    for (uint64_t i = 0; i < objects_.size(); ++i) {
        extents[i] = {offsetOf(i), objects_[i].end};
    }
    std::sort(extents.begin(), extents.end());
    for (size_t i = 1; i < extents.size(); ++i)
        if (extents[i].first < extents[i - 1].second)
            return false;
    return true;
}

bool BinaryPropertyList::isContainer(uint64_t object) const {
    return is(object, kArray) || is(object, kSet) || is(object, kDictionary);
}

uint64_t BinaryPropertyList::referenceCount(uint64_t object) const {
    return is(object, kDictionary) ? 2 * count(object) : count(object);
}

bool BinaryPropertyList::checkReferences() const {
    for (uint64_t object = 0; object < objects_.size(); ++object) {
        if (!isContainer(object))
            continue;
        const uint64_t n = referenceCount(object);
        for (uint64_t i = 0; i < n; ++i) {
            const uint64_t target = element(object, i);
            if (target >= objects_.size())
                return false;
            if (is(object, kDictionary) && i < count(object) && !isString(target))
                return false;
        }
    }
    return true;
}

// Depth-first from the top without recursion; a reference back to an object still being walked
// is a cycle. Each container is walked once, so the work is bounded by the file.
bool BinaryPropertyList::checkAcyclic() const {
    enum : uint8_t { kUnseen, kWalking, kDone };
    std::vector<uint8_t> state(objects_.size(), kUnseen);
    std::vector<std::pair<uint64_t, uint64_t>> stack;  // container, next reference
    state[top_] = kWalking;
    stack.emplace_back(top_, 0);
    while (!stack.empty()) {
        auto& [object, next] = stack.back();
        if (!isContainer(object) || next == referenceCount(object)) {
            state[object] = kDone;
            stack.pop_back();
            continue;
        }
        const uint64_t target = element(object, next++);
        if (state[target] == kWalking)
            return false;
        if (state[target] == kDone)
            continue;
        if (stack.size() >= kMaxDepth)
            return false;
        state[target] = kWalking;
        stack.emplace_back(target, 0);
    }
    return true;
}
