#include "platform/Foundation/NSKeyedArchiver.h"

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/Foundation/BinaryPropertyList.h"
#include "platform/Foundation/NSException.h"
#include "platform/Foundation/RegularFile.h"

namespace {

constexpr char kMagic[] = "bplist00";
constexpr size_t kMagicSize = 8;
constexpr uint32_t kArchiveVersion = 100000;
constexpr std::string_view kArchiverName = "NSKeyedArchiver";

using Kind = BinaryPropertyList::Kind;
constexpr Kind kInteger = BinaryPropertyList::kInteger;
constexpr Kind kData = BinaryPropertyList::kData;
constexpr Kind kAsciiString = BinaryPropertyList::kAsciiString;
constexpr Kind kUid = BinaryPropertyList::kUid;
constexpr Kind kArray = BinaryPropertyList::kArray;
constexpr Kind kDictionary = BinaryPropertyList::kDictionary;

// The smallest of 1, 2, 4 and 8 bytes that holds `value`.
unsigned widthFor(uint64_t value) {
    if (value <= 0xFF)
        return 1;
    if (value <= 0xFFFF)
        return 2;
    if (value <= 0xFFFFFFFF)
        return 4;
    return 8;
}

uint8_t log2Of(unsigned width) {
    return width == 1 ? 0 : width == 2 ? 1 : width == 4 ? 2 : 3;
}

// Asks for huge pages behind a large buffer that is about to be written: touching fresh memory
// a small page at a time can cost more than the copy into it.
void adviseHugePages(void* buffer, size_t length) {
    constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
    if (length < 4 * kHugePage)
        return;
    const uintptr_t begin =
        (reinterpret_cast<uintptr_t>(buffer) + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(buffer) + length) & ~(kHugePage - 1);
    // Advice only: where it is refused, the buffer works the same.
    if (end > begin)
        (void)::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

// ---- Writing --------------------------------------------------------------------------------

// Object numbers of an archive of n frames. The fixed objects come first, then one UID object
// per frame (UID i + 2 names frame i in "$objects"), then the frames' data objects.
enum FixedObject : uint64_t {
    kTopObject,
    kVersionKey,
    kArchiverKey,
    kTopKey,
    kObjectsKey,
    kVersionValue,
    kArchiverValue,
    kTopDictionary,
    kRootKey,
    kRootUid,
    kObjectsArray,
    kNullString,
    kRootArray,
    kMembersKey,
    kClassKey,
    kMembersArray,
    kClassUid,
    kClassEntry,
    kClassNameKey,
    kClassesKey,
    kMutableArrayName,
    kClassesArray,
    kArrayName,
    kObjectName,
    kFixedObjects
};

// The archive's bytes. Capacity is reserved once, so writing never reallocates.
class Output {
  public:
    Output(size_t capacity, unsigned refSize) : refSize_(refSize) {
        bytes_.reserve(capacity);
        adviseHugePages(bytes_.data(), capacity);
    }

    size_t size() const { return bytes_.size(); }
    Data take() { return std::move(bytes_); }

    void byte(uint8_t b) { bytes_.push_back(b); }
    void bigEndian(uint64_t v, unsigned width) {
        for (unsigned i = width; i-- > 0;) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void append(const uint8_t* p, size_t n) { bytes_.insert(bytes_.end(), p, p + n); }

    // A marker with `count` in its low nibble, or 0xF there and the count as an integer object.
    void marker(uint8_t type, uint64_t count) {
        if (count < 15) {
            byte(static_cast<uint8_t>(type | count));
            return;
        }
        byte(type | 0x0F);
        const unsigned width = widthFor(count);
        byte(static_cast<uint8_t>(kInteger | log2Of(width)));
        bigEndian(count, width);
    }
    void ascii(std::string_view s) {
        marker(kAsciiString, s.size());
        append(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    }
    void uid(uint64_t value) {
        const unsigned width = widthFor(value);
        byte(static_cast<uint8_t>(kUid | (width - 1)));
        bigEndian(value, width);
    }
    void ref(uint64_t object) { bigEndian(object, refSize_); }
    void refs(std::initializer_list<uint64_t> objects) {
        for (uint64_t object : objects) ref(object);
    }

  private:
    unsigned refSize_;
    Data bytes_;
};

Data writeArchive(const ValueArray& items) {
    const uint64_t n = items.size();
    const uint64_t objectCount = kFixedObjects + 2 * n;
    const unsigned refSize = widthFor(objectCount - 1);
    const uint64_t firstUid = kFixedObjects;
    const uint64_t firstData = kFixedObjects + n;

    // An upper bound: per frame its bytes, a data marker with its length (10), a UID (9), a
    // reference in "$objects" and in "NS.objects", and two offsets of at most 8 bytes.
    size_t capacity = 1024;
    for (const Value& item : items) capacity += item.data().size() + 19 + 2 * refSize + 16;

    Output out(capacity, refSize);
    std::vector<uint64_t> offsets(objectCount);
    uint64_t next = 0;
    auto begin = [&] { offsets[next++] = out.size(); };

    out.append(reinterpret_cast<const uint8_t*>(kMagic), kMagicSize);

    begin();  // kTopObject
    out.marker(kDictionary, 4);
    out.refs({kVersionKey, kArchiverKey, kTopKey, kObjectsKey});
    out.refs({kVersionValue, kArchiverValue, kTopDictionary, kObjectsArray});
    for (std::string_view key : {"$version", "$archiver", "$top", "$objects"}) {
        begin();
        out.ascii(key);
    }
    begin();  // kVersionValue
    out.byte(kInteger | 2);
    out.bigEndian(kArchiveVersion, 4);
    begin();  // kArchiverValue
    out.ascii(kArchiverName);
    begin();  // kTopDictionary
    out.marker(kDictionary, 1);
    out.refs({kRootKey, kRootUid});
    begin();  // kRootKey
    out.ascii("root");
    begin();  // kRootUid
    out.uid(1);

    begin();  // kObjectsArray: "$null", the array, its frames, the array's class entry.
    out.marker(kArray, n + 3);
    out.refs({kNullString, kRootArray});
    for (uint64_t i = 0; i < n; ++i) out.ref(firstData + i);
    out.ref(kClassEntry);
    begin();  // kNullString
    out.ascii("$null");

    begin();  // kRootArray
    out.marker(kDictionary, 2);
    out.refs({kMembersKey, kClassKey, kMembersArray, kClassUid});
    begin();  // kMembersKey
    out.ascii("NS.objects");
    begin();  // kClassKey
    out.ascii("$class");
    begin();  // kMembersArray
    out.marker(kArray, n);
    for (uint64_t i = 0; i < n; ++i) out.ref(firstUid + i);
    begin();  // kClassUid
    out.uid(n + 2);

    begin();  // kClassEntry
    out.marker(kDictionary, 2);
    out.refs({kClassNameKey, kClassesKey, kMutableArrayName, kClassesArray});
    begin();  // kClassNameKey
    out.ascii("$classname");
    begin();  // kClassesKey
    out.ascii("$classes");
    begin();  // kMutableArrayName
    out.ascii("NSMutableArray");
    begin();  // kClassesArray
    out.marker(kArray, 3);
    out.refs({kMutableArrayName, kArrayName, kObjectName});
    begin();  // kArrayName
    out.ascii("NSArray");
    begin();  // kObjectName
    out.ascii("NSObject");

    for (uint64_t i = 0; i < n; ++i) {
        begin();
        out.uid(i + 2);
    }
    for (const Value& item : items) {
        const Data& frame = item.data();
        begin();
        out.marker(kData, frame.size());
        out.append(frame.data(), frame.size());
    }

    const uint64_t tableOffset = out.size();
    const unsigned offsetSize = widthFor(offsets.back());
    for (uint64_t offset : offsets) out.bigEndian(offset, offsetSize);
    for (int i = 0; i < 6; ++i) out.byte(0);
    out.byte(static_cast<uint8_t>(offsetSize));
    out.byte(static_cast<uint8_t>(refSize));
    out.bigEndian(objectCount, 8);
    out.bigEndian(kTopObject, 8);
    out.bigEndian(tableOffset, 8);
    return out.take();
}

// ---- Reading --------------------------------------------------------------------------------

bool refuse(NSErrorPtr* error, const std::string& why) {
    if (error)
        *error = NSError::make(NSCocoaErrorDomain, NSCoderReadCorruptError,
                               "The archive cannot be read: " + why);
    return false;
}

std::optional<Value> unarchive(const uint8_t* bytes, size_t length, NSErrorPtr* error) {
    auto damaged = [&] {
        refuse(error, "it is damaged or no archive of an array of data.");
        return std::nullopt;
    };
    // The walk below trusts that it ends: the list must be walkable.
    const auto list = BinaryPropertyList::open(bytes, length);
    if (!list || !list->isWalkable())
        return damaged();
    const uint64_t archive = list->top();
    const auto archiver = list->value(archive, "$archiver");
    if (!archiver || !list->equals(*archiver, kArchiverName))
        return damaged();
    const auto top = list->value(archive, "$top");
    const auto objects = list->value(archive, "$objects");
    if (!top || !objects || !list->is(*objects, kArray))
        return damaged();

    // The object that a UID names in "$objects"; "$null" (UID 0) names none.
    auto objectFor = [&](std::optional<uint64_t> uidObject) -> std::optional<uint64_t> {
        const auto uid = uidObject ? list->uid(*uidObject) : std::nullopt;
        if (!uid || *uid == 0 || *uid >= list->count(*objects))
            return std::nullopt;
        return list->element(*objects, *uid);
    };

    const auto root = objectFor(list->value(*top, "root"));
    if (!root)
        return damaged();
    const auto classEntry = objectFor(list->value(*root, "$class"));
    const auto className = classEntry ? list->value(*classEntry, "$classname") : std::nullopt;
    if (!className ||
        !(list->equals(*className, "NSArray") || list->equals(*className, "NSMutableArray")))
        return damaged();
    const auto members = list->value(*root, "NS.objects");
    if (!members || !list->is(*members, kArray))
        return damaged();

    // Each element's data object, and what they take in memory (each data object once), before
    // anything is copied.
    const uint64_t n = list->count(*members);
    std::vector<uint64_t> frames;
    frames.reserve(n);
    std::unordered_map<uint64_t, std::shared_ptr<const Data>> shared;
    uint64_t expansion = n * NSKeyedUnarchiver::kElementCost;
    for (uint64_t i = 0; i < n; ++i) {
        const auto frame = objectFor(list->element(*members, i));
        if (!frame || !list->is(*frame, kData))
            return damaged();
        frames.push_back(*frame);
        if (shared.emplace(*frame, nullptr).second)
            expansion += list->count(*frame) + NSKeyedUnarchiver::kDataObjectCost;
    }
    const uint64_t bound =
        NSKeyedUnarchiver::kExpansionFactor * length + NSKeyedUnarchiver::kExpansionAllowance;
    if (expansion > bound) {
        refuse(error, "its " + std::to_string(length) + " bytes would take " +
                          std::to_string(expansion) + " bytes of memory, more than " +
                          std::to_string(bound) + ".");
        return std::nullopt;
    }

    ValueArray items;
    items.reserve(n);
    for (uint64_t frame : frames) {
        std::shared_ptr<const Data>& data = shared[frame];
        if (!data) {
            const uint8_t* p = list->payload(frame);
            data = std::make_shared<const Data>(p, p + list->count(frame));
        }
        items.emplace_back(data);
    }
    return Value(std::move(items));
}

}  // namespace

Data NSKeyedArchiver::archivedDataWithRootObject(const Value& rootObject) {
    if (!rootObject.isArray())
        NSException::raise(NSInvalidArgumentException, "the archive's root must be an array");
    const ValueArray& items = rootObject.arrayRef();
    for (const Value& item : items)
        if (!item.isData())
            NSException::raise(NSInvalidArgumentException, "only data elements can be archived");
    return writeArchive(items);
}

std::optional<Value> NSKeyedUnarchiver::unarchiveObjectWithData(const Data& data,
                                                                NSErrorPtr* error) {
    return unarchive(data.data(), data.size(), error);
}

std::optional<Value> NSKeyedUnarchiver::unarchiveObjectWithFile(const std::string& path,
                                                                NSErrorPtr* error) {
    const auto file = RegularFile::open(path, error);
    if (!file)
        return std::nullopt;
    const auto size = static_cast<size_t>(file->size());
    // Read into a buffer of our own rather than mapped: faulting in a mapping of tens of
    // megabytes page by page costs several times the copy. Left uninitialised for the same
    // reason.
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[size + 1]);
    adviseHugePages(bytes.get(), size);
    if (!file->read(0, bytes.get(), size)) {
        if (error)
            *error = NSError::posix(errno, "Cannot read " + path);
        return std::nullopt;
    }
    // The frames are copied out, so nothing refers to `bytes` once this returns.
    return unarchive(bytes.get(), size, error);
}
