#include "platform/Foundation/NSKeyedArchiver.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Foundation/NSException.h"

namespace {

constexpr char kMagic[] = "bplist00";
constexpr size_t kMagicSize = 8;
constexpr size_t kTrailerSize = 32;
constexpr uint32_t kArchiveVersion = 100000;
constexpr std::string_view kArchiverName = "NSKeyedArchiver";

// Object markers of the binary property list format (high nibble; the low one is a size).
enum Marker : uint8_t {
    kSingleton = 0x00,
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

uint64_t readBigEndian(const uint8_t* p, size_t width) {
    uint64_t v = 0;
    for (size_t i = 0; i < width; ++i) v = (v << 8) | p[i];
    return v;
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

// A binary property list checked whole before use: the trailer and offset table lie inside the
// bytes, every object lies between the header and the offset table without overlapping another,
// every length fits, every reference names an object, dictionary keys are strings, and the
// objects reachable from the top form no cycle. After `open` succeeds, the accessors cannot
// leave the bytes. Objects are read in place: the bytes must outlive the reader.
class BinaryPropertyList {
  public:
    static std::optional<BinaryPropertyList> open(const uint8_t* bytes, size_t length) {
        BinaryPropertyList list(bytes, length);
        if (!list.readTrailer() || !list.readObjects() || !list.checkReferences() ||
            !list.checkAcyclic())
            return std::nullopt;
        return list;
    }

    uint64_t top() const { return top_; }

    bool is(uint64_t object, uint8_t type) const { return objects_[object].type == type; }
    uint64_t count(uint64_t object) const { return objects_[object].count; }

    // Element `i` (< count) of an array, or key `i` of a dictionary.
    uint64_t element(uint64_t container, uint64_t i) const {
        return readBigEndian(bytes_ + objects_[container].payload + i * refSize_, refSize_);
    }

    // The value under the string key `key`; nullopt when `dictionary` is none or lacks it.
    std::optional<uint64_t> value(uint64_t dictionary, std::string_view key) const {
        if (!is(dictionary, kDictionary))
            return std::nullopt;
        const uint64_t n = count(dictionary);
        for (uint64_t i = 0; i < n; ++i)
            if (equals(element(dictionary, i), key))
                return element(dictionary, n + i);
        return std::nullopt;
    }

    bool equals(uint64_t object, std::string_view text) const {
        const Object& o = objects_[object];
        if (o.count != text.size())
            return false;
        const uint8_t* p = bytes_ + o.payload;
        if (o.type == kAsciiString)
            return std::memcmp(p, text.data(), text.size()) == 0;
        if (o.type != kUtf16String)
            return false;
        for (size_t i = 0; i < text.size(); ++i)
            if (readBigEndian(p + 2 * i, 2) != static_cast<uint8_t>(text[i]))
                return false;
        return true;
    }

    std::optional<uint64_t> uid(uint64_t object) const {
        if (!is(object, kUid))
            return std::nullopt;
        return readBigEndian(bytes_ + objects_[object].payload, objects_[object].count);
    }

    const uint8_t* data(uint64_t object) const { return bytes_ + objects_[object].payload; }

  private:
    struct Object {
        uint64_t payload = 0;  // offset of the bytes after the marker (and its length)
        uint64_t count = 0;    // bytes, characters, elements or entries
        uint8_t type = 0;      // the marker's high nibble; the whole marker for singletons
    };

    // Containers nest no deeper than this; archives of ours nest four deep.
    static constexpr size_t kMaxDepth = 256;

    BinaryPropertyList(const uint8_t* bytes, size_t length) : bytes_(bytes), length_(length) {}

    bool readTrailer() {
        if (length_ < kMagicSize + 1 + 1 + kTrailerSize ||
            std::memcmp(bytes_, kMagic, kMagicSize) != 0)
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

    // A count in a marker's low nibble, or an integer object of 1, 2, 4 or 8 bytes after it.
    // `at` moves past what was read; false when it would leave the object area.
    bool readCount(uint8_t marker, uint64_t& at, uint64_t& count) const {
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
    uint64_t readObject(uint64_t i) {
        const uint64_t offset = readBigEndian(bytes_ + tableOffset_ + i * offsetSize_, offsetSize_);
        if (offset < kMagicSize || offset >= tableOffset_)
            return 0;
        const uint8_t marker = bytes_[offset];
        const uint8_t low = marker & 0x0F;
        uint64_t at = offset + 1;
        Object& o = objects_[i];
        o.type = marker & 0xF0;
        uint64_t unit = 1;  // bytes per counted element
        switch (o.type) {
            case kSingleton:
                // null, false, true, fill
                if (low != 0x0 && low != 0x8 && low != 0x9 && low != 0xF)
                    return 0;
                o.type = marker;
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
                if (low > 7)
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
        return at + o.count * unit;
    }

    bool readObjects() {
        std::vector<std::pair<uint64_t, uint64_t>> extents(objects_.size());
        for (uint64_t i = 0; i < objects_.size(); ++i) {
            const uint64_t end = readObject(i);
            if (end == 0)
                return false;
            extents[i] = {readBigEndian(bytes_ + tableOffset_ + i * offsetSize_, offsetSize_), end};
        }
        // Objects that overlap would let a small file make the reader walk the same
        // references again and again; no writer shares bytes between objects.
        std::sort(extents.begin(), extents.end());
        for (size_t i = 1; i < extents.size(); ++i)
            if (extents[i].first < extents[i - 1].second)
                return false;
        return true;
    }

    bool isContainer(uint64_t object) const {
        const uint8_t type = objects_[object].type;
        return type == kArray || type == kSet || type == kDictionary;
    }
    uint64_t referenceCount(uint64_t object) const {
        const Object& o = objects_[object];
        return o.type == kDictionary ? 2 * o.count : o.count;
    }

    bool checkReferences() const {
        for (uint64_t object = 0; object < objects_.size(); ++object) {
            if (!isContainer(object))
                continue;
            const uint64_t n = referenceCount(object);
            for (uint64_t i = 0; i < n; ++i) {
                const uint64_t target = element(object, i);
                if (target >= objects_.size())
                    return false;
                if (is(object, kDictionary) && i < count(object) && !is(target, kAsciiString) &&
                    !is(target, kUtf16String))
                    return false;
            }
        }
        return true;
    }

    // Depth-first from the top without recursion; a reference back to an object still being
    // walked is a cycle. Each container is walked once, so the work is bounded by the file.
    bool checkAcyclic() const {
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

    const uint8_t* bytes_;
    uint64_t length_;
    unsigned offsetSize_ = 0;
    unsigned refSize_ = 0;
    uint64_t top_ = 0;
    uint64_t tableOffset_ = 0;
    std::vector<Object> objects_;
};

std::optional<Value> unarchive(const uint8_t* bytes, size_t length) {
    const auto list = BinaryPropertyList::open(bytes, length);
    if (!list)
        return std::nullopt;
    const uint64_t archive = list->top();
    const auto archiver = list->value(archive, "$archiver");
    if (!archiver || !list->equals(*archiver, kArchiverName))
        return std::nullopt;
    const auto top = list->value(archive, "$top");
    const auto objects = list->value(archive, "$objects");
    if (!top || !objects || !list->is(*objects, kArray))
        return std::nullopt;

    // The object that a UID names in "$objects"; "$null" (UID 0) names none.
    auto objectFor = [&](std::optional<uint64_t> uidObject) -> std::optional<uint64_t> {
        const auto uid = uidObject ? list->uid(*uidObject) : std::nullopt;
        if (!uid || *uid == 0 || *uid >= list->count(*objects))
            return std::nullopt;
        return list->element(*objects, *uid);
    };

    const auto root = objectFor(list->value(*top, "root"));
    if (!root)
        return std::nullopt;
    const auto classEntry = objectFor(list->value(*root, "$class"));
    const auto className = classEntry ? list->value(*classEntry, "$classname") : std::nullopt;
    if (!className ||
        !(list->equals(*className, "NSArray") || list->equals(*className, "NSMutableArray")))
        return std::nullopt;
    const auto members = list->value(*root, "NS.objects");
    if (!members || !list->is(*members, kArray))
        return std::nullopt;

    const uint64_t n = list->count(*members);
    ValueArray items;
    items.reserve(n);
    for (uint64_t i = 0; i < n; ++i) {
        const auto frame = objectFor(list->element(*members, i));
        if (!frame || !list->is(*frame, kData))
            return std::nullopt;
        const uint8_t* p = list->data(*frame);
        items.emplace_back(std::make_shared<const Data>(p, p + list->count(*frame)));
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

std::optional<Value> NSKeyedUnarchiver::unarchiveObjectWithData(const Data& data) {
    return unarchive(data.data(), data.size());
}

std::optional<Value> NSKeyedUnarchiver::unarchiveObjectWithFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::unique_ptr<int, void (*)(int*)> closer(&fd, [](int* f) { ::close(*f); });
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    const auto size = static_cast<size_t>(info.st_size);
    // Read into a buffer of our own rather than mapped: faulting in a mapping of tens of
    // megabytes page by page costs several times the copy. Left uninitialised for the same
    // reason.
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[size + 1]);
    adviseHugePages(bytes.get(), size);
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::read(fd, bytes.get() + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        done += static_cast<size_t>(n);
    }
    // The frames are copied out, so nothing refers to `bytes` once this returns.
    return unarchive(bytes.get(), size);
}
