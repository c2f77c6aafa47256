#pragma once
// The one reader of untrusted binary property-list bytes ("bplist00"): the keyed archive's
// reader, the property-list check in front of libplist and the store's metadata all go through
// it, so that one piece of code, covered by the fuzz targets, checks the offsets.
//
// `open` checks the list whole before anything is read: the trailer and offset table lie inside
// the bytes, every object lies between the header and the offset table, every length fits,
// every reference names an object and dictionary keys are strings. After `open` succeeds no
// accessor can leave the bytes. Objects are numbered as in the offset table and read in place:
// the bytes must outlive the reader.
//
// Objects may still share bytes and references may form cycles (libplist reads such lists); a
// reader that walks the references from the top asks `isWalkable` first.
//
// Threads: a reader is a value; any number of threads may read one at once.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class BinaryPropertyList {
  public:
    // Object kinds: the high nibble of an object's marker; for singletons the whole marker.
    enum Kind : uint8_t {
        kNull = 0x00,
        kFalse = 0x08,
        kTrue = 0x09,
        kFill = 0x0F,
        kInteger = 0x10,
        kReal = 0x20,
        kDate = 0x30,
        kData = 0x40,
        kAsciiString = 0x50,
        kUtf16String = 0x60,
        kUid = 0x80,
        kArray = 0xA0,
        kSet = 0xC0,
        kDictionary = 0xD0,
    };

    // nullopt when the bytes are not such a list or fail any of the checks above.
    static std::optional<BinaryPropertyList> open(const uint8_t* bytes, size_t length);
    // No two objects share bytes, and the objects reachable from the top form no cycle and nest
    // no deeper than 256: a walk from the top ends, and visits each object a bounded number of
    // times.
    bool isWalkable() const;

    uint64_t top() const { return top_; }
    uint64_t objectCount() const { return objects_.size(); }

    // `object` must be below objectCount(); the same for every object argument below.
    bool is(uint64_t object, Kind kind) const { return objects_[object].kind == kind; }
    bool isString(uint64_t object) const {
        return is(object, kAsciiString) || is(object, kUtf16String);
    }
    // Bytes (data, integer, real, date, UID), characters (strings), elements (array, set) or
    // entries (dictionary).
    uint64_t count(uint64_t object) const { return objects_[object].count; }
    // The bytes after the marker and its length.
    const uint8_t* payload(uint64_t object) const { return bytes_ + objects_[object].payload; }

    // Element `i` (below count) of an array or set; for a dictionary, key `i`, and value `i` at
    // count + i.
    uint64_t element(uint64_t container, uint64_t i) const;
    // The value under the string key `key`; nullopt when `dictionary` is none or lacks it.
    std::optional<uint64_t> value(uint64_t dictionary, std::string_view key) const;
    // A string object equal to `text` (ASCII text).
    bool equals(uint64_t object, std::string_view text) const;
    // A string object as UTF-8 (an unpaired UTF-16 surrogate becomes U+FFFD); nullopt for any
    // other object.
    std::optional<std::string> string(uint64_t object) const;
    // The number that a UID object holds; nullopt for any other object.
    std::optional<uint64_t> uid(uint64_t object) const;

  private:
    struct Object {
        uint64_t payload = 0;  // offset of the bytes after the marker (and its length)
        uint64_t count = 0;
        uint64_t end = 0;  // offset just past the object
        uint8_t kind = 0;
    };

    BinaryPropertyList(const uint8_t* bytes, size_t length) : bytes_(bytes), length_(length) {}
    bool readTrailer();
    bool readCount(uint8_t marker, uint64_t& at, uint64_t& count) const;
    uint64_t readObject(uint64_t i);
    bool readObjects();
    bool haveOwnBytes() const;
    bool isContainer(uint64_t object) const;
    uint64_t referenceCount(uint64_t object) const;
    bool checkReferences() const;
    bool checkAcyclic() const;
    uint64_t offsetOf(uint64_t object) const;

    const uint8_t* bytes_;
    uint64_t length_;
    unsigned offsetSize_ = 0;
    unsigned refSize_ = 0;
    uint64_t top_ = 0;
    uint64_t tableOffset_ = 0;
    std::vector<Object> objects_;
};
