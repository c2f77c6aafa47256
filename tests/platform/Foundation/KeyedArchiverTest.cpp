#include <gtest/gtest.h>
#include <plist/plist.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include "platform/Foundation/NSException.h"
#include "platform/Foundation/NSKeyedArchiver.h"
#include "tests/support/NamedPipe.h"
#include "tests/support/TemporaryFolder.h"

namespace {

Value dataArray(const std::vector<Data>& frames) {
    ValueArray items;
    for (const Data& f : frames) items.emplace_back(f);
    return Value(std::move(items));
}

std::vector<Data> framesOf(const Value& array) {
    std::vector<Data> frames;
    for (const Value& v : array.arrayRef()) frames.push_back(v.data());
    return frames;
}

std::optional<std::vector<Data>> readBack(const Data& archive) {
    auto result = NSKeyedUnarchiver::unarchiveObjectWithData(archive);
    if (!result)
        return std::nullopt;
    return framesOf(*result);
}

struct PlistFree {
    void operator()(void* p) const { plist_free(p); }
};
using Plist = std::unique_ptr<void, PlistFree>;

Plist parse(const Data& archive) {
    plist_t p = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(archive.data()),
                   static_cast<uint32_t>(archive.size()), &p);
    return Plist(p);
}

Data serialise(plist_t p) {
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(p, &bytes, &length);
    Data out(reinterpret_cast<uint8_t*>(bytes), reinterpret_cast<uint8_t*>(bytes) + length);
    plist_to_bin_free(bytes);
    return out;
}

uint64_t uidOf(plist_t node) {
    EXPECT_EQ(plist_get_node_type(node), PLIST_UID);
    uint64_t v = 0;
    plist_get_uid_val(node, &v);
    return v;
}

std::string stringOf(plist_t node) {
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING)
        return "<not a string>";
    uint64_t length = 0;
    const char* s = plist_get_string_ptr(node, &length);
    return std::string(s, length);
}

// The dictionary's keys, sorted.
std::vector<std::string> keysOf(plist_t dict) {
    std::vector<std::string> keys;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(dict, &it);
    for (;;) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(dict, it, &key, &item);
        if (!item)
            break;
        keys.emplace_back(key);
        std::free(key);
    }
    std::free(it);
    std::sort(keys.begin(), keys.end());
    return keys;
}

// ---- Binary property lists taken apart and put together again ----

uint64_t bigEndian(const uint8_t* p, size_t width) {
    uint64_t v = 0;
    for (size_t i = 0; i < width; ++i) v = (v << 8) | p[i];
    return v;
}

void putBigEndian(Data& out, uint64_t v, unsigned width) {
    for (unsigned i = width; i-- > 0;) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

unsigned widthFor(uint64_t value) {
    return value <= 0xFF ? 1 : value <= 0xFFFF ? 2 : value <= 0xFFFFFFFF ? 4 : 8;
}

// The trailer's fields, counted from the end of the bytes.
constexpr size_t kOffsetSizeAt = 26, kRefSizeAt = 25, kCountAt = 24, kTopAt = 16, kTableAt = 8;

uint64_t trailerField(const Data& bytes, size_t fromEnd) {
    const size_t width = fromEnd > kCountAt ? 1 : 8;
    return bigEndian(bytes.data() + bytes.size() - fromEnd, width);
}

void setTrailerField(Data& bytes, size_t fromEnd, uint64_t value) {
    const size_t width = fromEnd > kCountAt ? 1 : 8;
    for (size_t i = 0; i < width; ++i)
        bytes[bytes.size() - fromEnd + i] = static_cast<uint8_t>(value >> (8 * (width - 1 - i)));
}

uint64_t offsetOf(const Data& bytes, uint64_t object) {
    const unsigned width = static_cast<unsigned>(trailerField(bytes, kOffsetSizeAt));
    return bigEndian(bytes.data() + trailerField(bytes, kTableAt) + object * width, width);
}

void setOffset(Data& bytes, uint64_t object, uint64_t offset) {
    const unsigned width = static_cast<unsigned>(trailerField(bytes, kOffsetSizeAt));
    const uint64_t at = trailerField(bytes, kTableAt) + object * width;
    for (unsigned i = 0; i < width; ++i)
        bytes[at + i] = static_cast<uint8_t>(offset >> (8 * (width - 1 - i)));
}

// A well-formed binary property list as its objects: containers as their marker (with its count)
// and references, anything else as its bytes. Put together again with other widths, in another
// order, or after an edit.
struct ObjectTable {
    struct Object {
        Data head;
        std::vector<uint64_t> refs;
    };
    std::vector<Object> objects;
    uint64_t top = 0;

    static ObjectTable of(const Data& bytes) {
        ObjectTable table;
        const uint64_t count = trailerField(bytes, kCountAt);
        const unsigned refSize = static_cast<unsigned>(trailerField(bytes, kRefSizeAt));
        const uint64_t tableOffset = trailerField(bytes, kTableAt);
        table.top = trailerField(bytes, kTopAt);
        std::vector<uint64_t> starts;
        for (uint64_t i = 0; i < count; ++i) starts.push_back(offsetOf(bytes, i));
        std::vector<uint64_t> sorted = starts;
        std::sort(sorted.begin(), sorted.end());
        for (uint64_t start : starts) {
            const auto next = std::upper_bound(sorted.begin(), sorted.end(), start);
            const uint64_t end = next == sorted.end() ? tableOffset : *next;
            Object object;
            const uint8_t marker = bytes[start];
            const uint8_t type = marker & 0xF0;
            if (type != 0xA0 && type != 0xC0 && type != 0xD0) {
                object.head.assign(bytes.begin() + static_cast<long>(start),
                                   bytes.begin() + static_cast<long>(end));
            } else {
                uint64_t at = start + 1;
                uint64_t n = marker & 0x0F;
                if (n == 0x0F) {
                    const size_t width = size_t{1} << (bytes[at] & 0x0F);
                    n = bigEndian(&bytes[at + 1], width);
                    at += 1 + width;
                }
                object.head.assign(bytes.begin() + static_cast<long>(start),
                                   bytes.begin() + static_cast<long>(at));
                if (type == 0xD0)
                    n *= 2;
                for (uint64_t i = 0; i < n; ++i)
                    object.refs.push_back(bigEndian(&bytes[at + i * refSize], refSize));
            }
            table.objects.push_back(std::move(object));
        }
        return table;
    }

    // Widths below what the table needs are raised to it.
    Data bytes(unsigned refSize = 1, unsigned offsetSize = 1, bool reversed = false) const {
        refSize = std::max(refSize, widthFor(objects.size() - 1));
        Data out{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
        std::vector<uint64_t> offsets(objects.size());
        for (size_t k = 0; k < objects.size(); ++k) {
            const size_t i = reversed ? objects.size() - 1 - k : k;
            offsets[i] = out.size();
            out.insert(out.end(), objects[i].head.begin(), objects[i].head.end());
            for (uint64_t ref : objects[i].refs) putBigEndian(out, ref, refSize);
        }
        const uint64_t tableOffset = out.size();
        offsetSize = std::max(offsetSize, widthFor(tableOffset));
        for (uint64_t offset : offsets) putBigEndian(out, offset, offsetSize);
        out.insert(out.end(), 6, 0);
        out.push_back(static_cast<uint8_t>(offsetSize));
        out.push_back(static_cast<uint8_t>(refSize));
        putBigEndian(out, objects.size(), 8);
        putBigEndian(out, top, 8);
        putBigEndian(out, tableOffset, 8);
        return out;
    }

    // The object that is the ASCII string `text` (shorter than 15 characters).
    uint64_t string(const std::string& text) const {
        Data head{static_cast<uint8_t>(0x50 | text.size())};
        head.insert(head.end(), text.begin(), text.end());
        for (uint64_t i = 0; i < objects.size(); ++i)
            if (objects[i].head == head)
                return i;
        ADD_FAILURE() << "no string " << text;
        return 0;
    }

    // The value under `key` of the dictionary `dict`.
    uint64_t value(uint64_t dict, const std::string& key) const {
        const auto& refs = objects[dict].refs;
        const uint64_t k = string(key);
        for (size_t i = 0; i < refs.size() / 2; ++i)
            if (refs[i] == k)
                return refs[refs.size() / 2 + i];
        ADD_FAILURE() << "no key " << key;
        return 0;
    }

    // Well-known objects of an archive.
    uint64_t objectsArray() const { return value(top, "$objects"); }
    uint64_t archived(uint64_t uid) const { return objects[objectsArray()].refs[uid]; }
    uint64_t rootArray() const { return archived(1); }
    uint64_t members() const { return value(rootArray(), "NS.objects"); }
    uint64_t classes() const { return value(archived(classUid()), "$classes"); }
    uint64_t classUid() const {
        const Data& head = objects[value(rootArray(), "$class")].head;
        return bigEndian(head.data() + 1, head.size() - 1);
    }
};

// The first frame's bytes happen to be a whole object: the string "$null".
const std::vector<Data> kFrames = {{0x55, '$', 'n', 'u', 'l', 'l'}, {}, {0x00}, {1, 2, 3}};

std::vector<Data> numberedFrames(size_t count, size_t size) {
    std::vector<Data> frames;
    for (size_t i = 0; i < count; ++i) frames.emplace_back(size, static_cast<uint8_t>(i * 7 + 1));
    return frames;
}

}  // namespace

// ---- What the archiver writes ----

struct Shape {
    const char* name;
    std::vector<Data> frames;
};

class ArchiveShapeTest : public ::testing::TestWithParam<Shape> {};

TEST_P(ArchiveShapeTest, RoundTripKeepsLengthOrderAndBytes) {
    const auto& frames = GetParam().frames;
    EXPECT_EQ(readBack(NSKeyedArchiver::archivedDataWithRootObject(dataArray(frames))), frames);
}

// libplist reads our bytes into exactly the platform's archive, with the smallest widths.
TEST_P(ArchiveShapeTest, WritesThePlatformLayout) {
    const auto& frames = GetParam().frames;
    const Data archive = NSKeyedArchiver::archivedDataWithRootObject(dataArray(frames));
    ASSERT_GE(archive.size(), 40u);
    EXPECT_EQ(std::string(archive.begin(), archive.begin() + 8), "bplist00");
    const uint64_t count = trailerField(archive, kCountAt);
    uint64_t lastOffset = 0;
    for (uint64_t i = 0; i < count; ++i) lastOffset = std::max(lastOffset, offsetOf(archive, i));
    EXPECT_EQ(trailerField(archive, kRefSizeAt), widthFor(count - 1));
    EXPECT_EQ(trailerField(archive, kOffsetSizeAt), widthFor(lastOffset));

    Plist owner = parse(archive);
    plist_t p = owner.get();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(keysOf(p), (std::vector<std::string>{"$archiver", "$objects", "$top", "$version"}));
    EXPECT_EQ(stringOf(plist_dict_get_item(p, "$archiver")), "NSKeyedArchiver");
    plist_t version = plist_dict_get_item(p, "$version");
    ASSERT_EQ(plist_get_node_type(version), PLIST_UINT);
    uint64_t versionValue = 0;
    plist_get_uint_val(version, &versionValue);
    EXPECT_EQ(versionValue, 100000u);
    plist_t top = plist_dict_get_item(p, "$top");
    EXPECT_EQ(keysOf(top), std::vector<std::string>{"root"});
    EXPECT_EQ(uidOf(plist_dict_get_item(top, "root")), 1u);

    plist_t objects = plist_dict_get_item(p, "$objects");
    const auto n = static_cast<uint32_t>(frames.size());
    ASSERT_EQ(plist_array_get_size(objects), n + 3);
    EXPECT_EQ(stringOf(plist_array_get_item(objects, 0)), "$null");
    plist_t array = plist_array_get_item(objects, 1);
    EXPECT_EQ(keysOf(array), (std::vector<std::string>{"$class", "NS.objects"}));
    plist_t members = plist_dict_get_item(array, "NS.objects");
    ASSERT_EQ(plist_array_get_size(members), n);
    for (uint32_t i = 0; i < n; ++i) {
        ASSERT_EQ(uidOf(plist_array_get_item(members, i)), i + 2u);
        plist_t frame = plist_array_get_item(objects, i + 2);
        ASSERT_EQ(plist_get_node_type(frame), PLIST_DATA);
        uint64_t length = 0;
        const char* bytes = plist_get_data_ptr(frame, &length);
        ASSERT_EQ(Data(bytes, bytes + length), frames[i]) << "frame " << i;
    }
    EXPECT_EQ(uidOf(plist_dict_get_item(array, "$class")), n + 2u);
    plist_t classEntry = plist_array_get_item(objects, n + 2);
    EXPECT_EQ(keysOf(classEntry), (std::vector<std::string>{"$classes", "$classname"}));
    EXPECT_EQ(stringOf(plist_dict_get_item(classEntry, "$classname")), "NSMutableArray");
    plist_t classes = plist_dict_get_item(classEntry, "$classes");
    ASSERT_EQ(plist_array_get_size(classes), 3u);
    EXPECT_EQ(stringOf(plist_array_get_item(classes, 0)), "NSMutableArray");
    EXPECT_EQ(stringOf(plist_array_get_item(classes, 1)), "NSArray");
    EXPECT_EQ(stringOf(plist_array_get_item(classes, 2)), "NSObject");
}

INSTANTIATE_TEST_SUITE_P(
    Archives, ArchiveShapeTest,
    ::testing::Values(Shape{"Empty", {}}, Shape{"OneFrame", {{0xff, 0xd8, 0xff, 0xd9}}},
                      Shape{"Small", kFrames},
                      // Equal frames stay separate elements.
                      Shape{"EqualFrames", {{7, 7, 7}, {7, 7, 7}, {8}, {7, 7, 7}}},
                      // Data lengths on both sides of each width of their length.
                      Shape{"LengthMarkers",
                            {Data(14, 1), Data(15, 2), Data(255, 3), Data(256, 4), Data(65535, 5),
                             Data(65536, 6)}},
                      // Two-byte references and UIDs.
                      Shape{"HundredsOfFrames", numberedFrames(300, 5)},
                      // Four-byte references and offsets.
                      Shape{"TensOfThousandsOfFrames", numberedFrames(33000, 1)}),
    [](const ::testing::TestParamInfo<Shape>& info) { return std::string(info.param.name); });

TEST(KeyedArchiverTest, RefusesRootsAndElementsItCannotArchive) {
    ValueArray mixed{Value(Data{1}), Value(3)};
    const std::vector<Value> bad = {Value("frame"), Value(Data{1}), Value(), Value(mixed)};
    for (const Value& v : bad) {
        EXPECT_THROW(NSKeyedArchiver::archivedDataWithRootObject(v), NSException)
            << v.description();
    }
}

// ---- Archives that libplist writes ----

struct ForeignArchive {
    const char* name;
    std::vector<Data> frames;
    const char* className = "NSMutableArray";
    bool classBeforeFrames = false;
    bool framesReversed = false;
    bool withClasses = true;
    bool otherKeys = false;  // other key order and keys we do not read
};

// The archive of `a.frames` as a libplist tree, laid out as `a` says.
Plist libplistArchive(const ForeignArchive& a) {
    const uint64_t n = a.frames.size();
    const uint64_t classUid = a.classBeforeFrames ? 2 : n + 2;
    const uint64_t firstFrame = a.classBeforeFrames ? 3 : 2;
    auto frameUid = [&](uint64_t i) { return firstFrame + (a.framesReversed ? n - 1 - i : i); };

    plist_t members = plist_new_array();
    for (uint64_t i = 0; i < n; ++i) plist_array_append_item(members, plist_new_uid(frameUid(i)));
    plist_t root = plist_new_dict();
    if (a.otherKeys)
        plist_dict_set_item(root, "$class", plist_new_uid(classUid));
    plist_dict_set_item(root, "NS.objects", members);
    plist_dict_set_item(root, "$class", plist_new_uid(classUid));

    plist_t classEntry = plist_new_dict();
    if (a.withClasses) {
        plist_t classes = plist_new_array();
        plist_array_append_item(classes, plist_new_string(a.className));
        plist_array_append_item(classes, plist_new_string("NSObject"));
        plist_dict_set_item(classEntry, "$classes", classes);
    }
    plist_dict_set_item(classEntry, "$classname", plist_new_string(a.className));

    std::vector<plist_t> slots(n + 3);
    slots[0] = plist_new_string("$null");
    slots[1] = root;
    slots[classUid] = classEntry;
    for (uint64_t i = 0; i < n; ++i)
        slots[frameUid(i)] =
            plist_new_data(reinterpret_cast<const char*>(a.frames[i].data()), a.frames[i].size());
    plist_t objects = plist_new_array();
    for (plist_t slot : slots) plist_array_append_item(objects, slot);

    plist_t top = plist_new_dict();
    plist_dict_set_item(top, "root", plist_new_uid(1));
    Plist archive(plist_new_dict());
    if (a.otherKeys) {
        plist_dict_set_item(archive.get(), "$objects", objects);
        plist_dict_set_item(archive.get(), "$top", top);
        plist_dict_set_item(archive.get(), "note", plist_new_string("written elsewhere"));
        plist_dict_set_item(archive.get(), "$archiver", plist_new_string("NSKeyedArchiver"));
    } else {
        plist_dict_set_item(archive.get(), "$archiver", plist_new_string("NSKeyedArchiver"));
        plist_dict_set_item(archive.get(), "$version", plist_new_uint(100000));
        plist_dict_set_item(archive.get(), "$top", top);
        plist_dict_set_item(archive.get(), "$objects", objects);
    }
    return archive;
}

class ForeignArchiveTest : public ::testing::TestWithParam<ForeignArchive> {};

// As libplist writes it, and rewritten with wider references and offsets and with its objects
// stored back to front.
TEST_P(ForeignArchiveTest, ReadsBack) {
    const ForeignArchive& a = GetParam();
    const Data written = serialise(libplistArchive(a).get());
    ASSERT_FALSE(written.empty());
    const ObjectTable table = ObjectTable::of(written);
    struct Variant {
        const char* name;
        Data bytes;
    };
    const std::vector<Variant> variants = {
        {"as written", written},
        {"8-byte references and offsets", table.bytes(8, 8)},
        {"2-byte references, 4-byte offsets", table.bytes(2, 4)},
        {"3-byte references and offsets", table.bytes(3, 3)},
        {"objects stored back to front", table.bytes(1, 1, true)},
    };
    for (const Variant& v : variants) {
        EXPECT_EQ(readBack(v.bytes), a.frames) << v.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Archives, ForeignArchiveTest,
    ::testing::Values(
        ForeignArchive{"PlatformOrder", {{1, 2}, {3}, {}, {1, 2}}},
        ForeignArchive{"ClassBeforeFrames", kFrames, "NSMutableArray", true},
        ForeignArchive{"FramesStoredInReverse", kFrames, "NSMutableArray", false, true},
        ForeignArchive{"NSArrayWithoutClassList", kFrames, "NSArray", true, false, false},
        ForeignArchive{"OtherKeysAndOrder", kFrames, "NSMutableArray", false, false, true, true},
        ForeignArchive{"Empty", {}},
        ForeignArchive{"HundredsOfFrames", numberedFrames(300, 3), "NSArray", false, true},
        ForeignArchive{"LargeFrames", numberedFrames(3, 70000)}),
    [](const ::testing::TestParamInfo<ForeignArchive>& info) {
        return std::string(info.param.name);
    });

// ---- What the unarchiver refuses ----

// Each case edits the parsed form of a good archive of two frames; the result must be refused,
// or read as an array when `accepted` says so.
struct Edit {
    const char* name;
    std::function<void(plist_t archive, plist_t objects)> apply;
    bool accepted;
};

class KeyedUnarchiverEditTest : public ::testing::TestWithParam<Edit> {};

TEST_P(KeyedUnarchiverEditTest, ChecksEveryReference) {
    Plist p = parse(NSKeyedArchiver::archivedDataWithRootObject(dataArray({{1, 2}, {3}})));
    ASSERT_NE(p, nullptr);
    GetParam().apply(p.get(), plist_dict_get_item(p.get(), "$objects"));
    auto result = readBack(serialise(p.get()));
    if (GetParam().accepted) {
        EXPECT_EQ(result, (std::vector<Data>{{1, 2}, {3}}));
    } else {
        EXPECT_FALSE(result.has_value());
    }
}

plist_t arrayObject(plist_t objects) {
    return plist_array_get_item(objects, 1);
}
plist_t classEntry(plist_t objects) {
    return plist_array_get_item(objects, 4);
}

INSTANTIATE_TEST_SUITE_P(
    Archives, KeyedUnarchiverEditTest,
    ::testing::Values(
        Edit{"NSArrayRoot",
             [](plist_t, plist_t o) {
                 plist_dict_set_item(classEntry(o), "$classname", plist_new_string("NSArray"));
             },
             true},
        Edit{"OtherClass",
             [](plist_t, plist_t o) {
                 plist_dict_set_item(classEntry(o), "$classname", plist_new_string("NSDictionary"));
             },
             false},
        Edit{"ClassNameNotString",
             [](plist_t, plist_t o) {
                 plist_dict_set_item(classEntry(o), "$classname", plist_new_data("NSArray", 7));
             },
             false},
        Edit{"ClassNameMissing",
             [](plist_t, plist_t o) { plist_dict_remove_item(classEntry(o), "$classname"); },
             false},
        Edit{"OtherArchiver",
             [](plist_t a, plist_t) {
                 plist_dict_set_item(a, "$archiver", plist_new_string("NSArchiver"));
             },
             false},
        Edit{"ArchiverMissing", [](plist_t a, plist_t) { plist_dict_remove_item(a, "$archiver"); },
             false},
        Edit{"TopMissing", [](plist_t a, plist_t) { plist_dict_remove_item(a, "$top"); }, false},
        Edit{"ObjectsNotArray",
             [](plist_t a, plist_t) { plist_dict_set_item(a, "$objects", plist_new_dict()); },
             false},
        Edit{"RootNotUid",
             [](plist_t a, plist_t) {
                 plist_dict_set_item(plist_dict_get_item(a, "$top"), "root", plist_new_uint(1));
             },
             false},
        Edit{"RootOutOfRange",
             [](plist_t a, plist_t) {
                 plist_dict_set_item(plist_dict_get_item(a, "$top"), "root", plist_new_uid(99));
             },
             false},
        Edit{"RootIsNull",
             [](plist_t a, plist_t) {
                 plist_dict_set_item(plist_dict_get_item(a, "$top"), "root", plist_new_uid(0));
             },
             false},
        Edit{"RootIsData",
             [](plist_t a, plist_t) {
                 plist_dict_set_item(plist_dict_get_item(a, "$top"), "root", plist_new_uid(2));
             },
             false},
        Edit{"ClassOutOfRange",
             [](plist_t, plist_t o) {
                 plist_dict_set_item(arrayObject(o), "$class", plist_new_uid(1u << 31));
             },
             false},
        Edit{"ClassIsString",
             [](plist_t, plist_t o) {
                 plist_dict_set_item(arrayObject(o), "$class", plist_new_uid(0));
             },
             false},
        Edit{"MembersMissing",
             [](plist_t, plist_t o) { plist_dict_remove_item(arrayObject(o), "NS.objects"); },
             false},
        Edit{"MemberOutOfRange",
             [](plist_t, plist_t o) {
                 plist_array_set_item(plist_dict_get_item(arrayObject(o), "NS.objects"),
                                      plist_new_uid(5), 1);
             },
             false},
        Edit{"MemberIsNull",
             [](plist_t, plist_t o) {
                 plist_array_set_item(plist_dict_get_item(arrayObject(o), "NS.objects"),
                                      plist_new_uid(0), 0);
             },
             false},
        Edit{"MemberIsItself",
             [](plist_t, plist_t o) {
                 plist_array_set_item(plist_dict_get_item(arrayObject(o), "NS.objects"),
                                      plist_new_uid(1), 0);
             },
             false},
        Edit{"MemberNotUid",
             [](plist_t, plist_t o) {
                 plist_array_set_item(plist_dict_get_item(arrayObject(o), "NS.objects"),
                                      plist_new_data("x", 1), 0);
             },
             false},
        Edit{"MemberIsString",
             [](plist_t, plist_t o) { plist_array_set_item(o, plist_new_string("frame"), 3); },
             false}),
    [](const ::testing::TestParamInfo<Edit>& info) { return std::string(info.param.name); });

// Each case damages the bytes of a good archive of `kFrames`, in its trailer and offset table or
// in its objects; the result must be refused.
struct Damage {
    const char* name;
    std::function<void(Data& bytes)> apply;
};

// A damage made on the archive's objects, which are then put together again.
std::function<void(Data&)> onObjects(std::function<void(ObjectTable&)> edit) {
    return [edit](Data& bytes) {
        ObjectTable table = ObjectTable::of(bytes);
        edit(table);
        bytes = table.bytes();
    };
}

class DamagedArchiveTest : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedArchiveTest, IsRefused) {
    Data bytes = NSKeyedArchiver::archivedDataWithRootObject(dataArray(kFrames));
    // The untouched archive survives the rebuild, so a refusal is the damage's doing.
    ASSERT_EQ(readBack(ObjectTable::of(bytes).bytes()), kFrames);
    GetParam().apply(bytes);
    EXPECT_FALSE(readBack(bytes).has_value());
}

constexpr uint64_t kHuge = ~uint64_t{0};

INSTANTIATE_TEST_SUITE_P(
    Archives, DamagedArchiveTest,
    ::testing::Values(
        Damage{"OtherMagic", [](Data& b) { b[7] = '1'; }},
        Damage{"OffsetSizeZero", [](Data& b) { setTrailerField(b, kOffsetSizeAt, 0); }},
        Damage{"OffsetSizeNine", [](Data& b) { setTrailerField(b, kOffsetSizeAt, 9); }},
        Damage{"RefSizeZero", [](Data& b) { setTrailerField(b, kRefSizeAt, 0); }},
        Damage{"RefSizeNine", [](Data& b) { setTrailerField(b, kRefSizeAt, 9); }},
        Damage{"NoObjects", [](Data& b) { setTrailerField(b, kCountAt, 0); }},
        Damage{"MoreObjectsThanTheFileHolds",
               [](Data& b) { setTrailerField(b, kCountAt, uint64_t{1} << 40); }},
        Damage{"ObjectCountAllOnes", [](Data& b) { setTrailerField(b, kCountAt, kHuge); }},
        Damage{"TopOutOfRange",
               [](Data& b) { setTrailerField(b, kTopAt, trailerField(b, kCountAt)); }},
        Damage{"TopAllOnes", [](Data& b) { setTrailerField(b, kTopAt, kHuge); }},
        Damage{"TopIsNotTheArchive", [](Data& b) { setTrailerField(b, kTopAt, 1); }},
        Damage{"TableInHeader", [](Data& b) { setTrailerField(b, kTableAt, 4); }},
        Damage{"TableInTrailer", [](Data& b) { setTrailerField(b, kTableAt, b.size() - 20); }},
        Damage{"TablePastTheEnd", [](Data& b) { setTrailerField(b, kTableAt, b.size()); }},
        Damage{"TableAllOnes", [](Data& b) { setTrailerField(b, kTableAt, kHuge); }},
        Damage{"OffsetIntoHeader", [](Data& b) { setOffset(b, 3, 2); }},
        Damage{"OffsetIntoTable", [](Data& b) { setOffset(b, 3, trailerField(b, kTableAt)); }},
        Damage{"TwoObjectsAtOneOffset", [](Data& b) { setOffset(b, 3, offsetOf(b, 2)); }},
        Damage{"ObjectInsideAnother", [](Data& b) { setOffset(b, 2, offsetOf(b, 0) + 1); }},
        Damage{"ObjectInsideAFrame",
               [](Data& b) {
                   const ObjectTable t = ObjectTable::of(b);
                   setOffset(b, t.string("$null"), offsetOf(b, t.archived(2)) + 1);
               }},
        Damage{"DataLongerThanTheFile", onObjects([](ObjectTable& t) {
                   Data& head = t.objects[t.archived(2)].head;
                   head = {0x4F, 0x13, 0, 0, 0, 0, 0x7F, 0xFF, 0xFF, 0xFF};
               })},
        Damage{"DataLengthAllOnes", onObjects([](ObjectTable& t) {
                   t.objects[t.archived(3)].head = {0x4F, 0x13, 0xFF, 0xFF, 0xFF,
                                                    0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
               })},
        Damage{"DataLengthNotAnInteger", onObjects([](ObjectTable& t) {
                   t.objects[t.archived(3)].head = {0x4F, 0x21, 0, 0, 0, 0, 0, 0, 0, 0};
               })},
        Damage{"ArrayLongerThanTheFile", onObjects([](ObjectTable& t) {
                   t.objects[t.members()].head = {0xAF, 0x12, 0x10, 0, 0, 0};
               })},
        Damage{"DictionaryLongerThanTheFile", onObjects([](ObjectTable& t) {
                   t.objects[t.top].head = {0xDF, 0x10, 0xF0};
               })},
        Damage{"ReferenceOutOfRange", onObjects([](ObjectTable& t) {
                   t.objects[t.members()].refs[1] = t.objects.size();
               })},
        Damage{"KeyNotAString", onObjects([](ObjectTable& t) {
                   auto& refs = t.objects[t.rootArray()].refs;
                   refs[0] = refs[3];  // a UID in place of "NS.objects"
               })},
        Damage{"UidOutOfRange", onObjects([](ObjectTable& t) {
                   t.objects[t.objects[t.members()].refs[2]].head = {0x83, 0xFF, 0xFF, 0xFF, 0xFF};
               })},
        Damage{"UidWiderThanEightBytes", onObjects([](ObjectTable& t) {
                   t.objects[t.objects[t.members()].refs[0]].head = Data(10, 0);
                   t.objects[t.objects[t.members()].refs[0]].head[0] = 0x88;
               })},
        Damage{"UnknownMarker",
               onObjects([](ObjectTable& t) { t.objects[t.string("$null")].head = {0x70}; })},
        Damage{"UnknownSingleton",
               onObjects([](ObjectTable& t) { t.objects[t.string("$null")].head = {0x05}; })},
        Damage{"ArrayContainsItself", onObjects([](ObjectTable& t) {
                   const uint64_t classes = t.classes();
                   t.objects[classes].refs.push_back(classes);
                   t.objects[classes].head[0]++;
               })},
        Damage{"CycleThroughTheTop", onObjects([](ObjectTable& t) {
                   t.objects[t.classes()].refs.push_back(t.top);
                   t.objects[t.classes()].head[0]++;
               })},
        Damage{"NestedTooDeep", onObjects([](ObjectTable& t) {
                   // A chain of a thousand one-element arrays under the class list.
                   uint64_t inner = t.string("NSArray");
                   for (int i = 0; i < 1000; ++i) {
                       t.objects.push_back({{0xA1}, {inner}});
                       inner = t.objects.size() - 1;
                   }
                   t.objects[t.classes()].refs.push_back(inner);
                   t.objects[t.classes()].head[0]++;
               })}),
    [](const ::testing::TestParamInfo<Damage>& info) { return std::string(info.param.name); });

// A shared object is no cycle: two elements may name the same data object.
TEST(KeyedUnarchiverTest, ReadsObjectsReferencedTwice) {
    ObjectTable table =
        ObjectTable::of(NSKeyedArchiver::archivedDataWithRootObject(dataArray(kFrames)));
    const uint64_t objects = table.objectsArray();
    table.objects[objects].refs[3] = table.objects[objects].refs[2];
    EXPECT_EQ(readBack(table.bytes()),
              (std::vector<Data>{kFrames[0], kFrames[0], kFrames[2], kFrames[3]}));
}

// An archive of one frame of `size` bytes whose array names that frame `count` times.
Data oneFrameNamed(size_t count, size_t size) {
    ObjectTable table =
        ObjectTable::of(NSKeyedArchiver::archivedDataWithRootObject(dataArray({Data(size, 7)})));
    ObjectTable::Object& members = table.objects[table.members()];
    members.refs.assign(count, members.refs[0]);
    members.head = {0xAF, 0x12};
    putBigEndian(members.head, count, 4);
    return table.bytes();
}

// Elements that name one object share it: a small file never becomes a copy per element.
TEST(KeyedUnarchiverTest, ElementsNamingOneObjectShareIt) {
    const Data archive = oneFrameNamed(2000, 64 * 1024);
    auto result = NSKeyedUnarchiver::unarchiveObjectWithData(archive);
    ASSERT_TRUE(result.has_value());
    const ValueArray& items = result->arrayRef();
    ASSERT_EQ(items.size(), 2000u);
    EXPECT_EQ(items[0].data(), Data(64 * 1024, 7));
    for (const Value& item : items) ASSERT_EQ(&item.data(), &items[0].data());
}

// What an archive may take in memory is bounded by its size: one of many elements naming a
// single byte is refused with a reason, before anything is copied out.
TEST(KeyedUnarchiverTest, RefusesAnArchiveThatWouldSwellPastItsBound) {
    using U = NSKeyedUnarchiver;
    // Each element costs kElementCost and at most one byte of the file (plus the bound's share).
    const size_t count = U::kExpansionAllowance / (U::kElementCost - U::kExpansionFactor) + 1000;
    const Data archive = oneFrameNamed(count, 1);
    ASSERT_GT(count * U::kElementCost,
              U::kExpansionFactor * archive.size() + U::kExpansionAllowance);
    NSErrorPtr error;
    EXPECT_FALSE(U::unarchiveObjectWithData(archive, &error).has_value());
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
    EXPECT_EQ(error->code(), NSCoderReadCorruptError);
    EXPECT_NE(error->localizedDescription().find("bytes of memory, more than"), std::string::npos)
        << error->localizedDescription();

    // Just inside the bound, the same shape reads.
    const size_t fewer = U::kExpansionAllowance / (U::kElementCost + 1) - 1000;
    auto inside = U::unarchiveObjectWithData(oneFrameNamed(fewer, 1));
    ASSERT_TRUE(inside.has_value());
    EXPECT_EQ(inside->arrayRef().size(), fewer);
}

TEST(KeyedUnarchiverTest, TruncatedOrFlippedBytesNeverCrash) {
    const Data good = NSKeyedArchiver::archivedDataWithRootObject(dataArray(kFrames));
    for (size_t length = 0; length < good.size(); ++length) {
        Data cut(good.begin(), good.begin() + static_cast<long>(length));
        EXPECT_FALSE(readBack(cut).has_value()) << length;
    }
    // Flipped bytes may happen to leave a readable archive; they must never crash.
    std::mt19937 random(1234);
    for (int round = 0; round < 5000; ++round) {
        Data bad = good;
        for (int flips = 0; flips < 3; ++flips)
            bad[random() % bad.size()] ^= static_cast<uint8_t>(1 + random() % 255);
        auto result = NSKeyedUnarchiver::unarchiveObjectWithData(bad);
        if (result) {
            EXPECT_TRUE(result->isArray());
        }
    }
    const std::string xml =
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>$archiver</key>"
        "<string>NSKeyedArchiver</string></dict></plist>";
    EXPECT_FALSE(readBack(Data(xml.begin(), xml.end())).has_value());
}

// The frames must not point into the bytes they were read from.
TEST(KeyedUnarchiverTest, FramesOutliveTheBytes) {
    auto bytes = std::make_unique<Data>(
        NSKeyedArchiver::archivedDataWithRootObject(dataArray(numberedFrames(3, 100))));
    auto result = NSKeyedUnarchiver::unarchiveObjectWithData(*bytes);
    std::fill(bytes->begin(), bytes->end(), uint8_t{0});
    bytes.reset();
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(framesOf(*result), numberedFrames(3, 100));
}

TEST(KeyedUnarchiverTest, ReadsWholeFiles) {
    TemporaryFolder folder;
    auto write = [&](const std::string& name, const Data& bytes) {
        std::ofstream out(folder / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return folder / name;
    };
    const auto frames = numberedFrames(5, 3000);
    auto back = NSKeyedUnarchiver::unarchiveObjectWithFile(
        write("Video_0001", NSKeyedArchiver::archivedDataWithRootObject(dataArray(frames))));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(framesOf(*back), frames);
    EXPECT_FALSE(NSKeyedUnarchiver::unarchiveObjectWithFile(write("Video_0002", {})));
    EXPECT_FALSE(NSKeyedUnarchiver::unarchiveObjectWithFile(write("Video_0003", {1, 2, 3})));
    EXPECT_FALSE(NSKeyedUnarchiver::unarchiveObjectWithFile(folder / "missing"));
    EXPECT_FALSE(NSKeyedUnarchiver::unarchiveObjectWithFile(folder.path()));
}

// A named pipe or a link at the archive's name is no archive, and is refused without waiting for
// a writer that never comes.
TEST(KeyedUnarchiverTest, RefusesANamedPipeOrALinkWithoutWaiting) {
    TemporaryFolder folder;
    NamedPipe pipe(folder / "Video_0001");
    ASSERT_TRUE(pipe);
    const Data archive = NSKeyedArchiver::archivedDataWithRootObject(dataArray(kFrames));
    std::ofstream(folder / "real", std::ios::binary)
        .write(reinterpret_cast<const char*>(archive.data()),
               static_cast<std::streamsize>(archive.size()));
    ASSERT_EQ(::symlink((folder / "real").c_str(), (folder / "Video_0002").c_str()), 0);
    for (const char* name : {"Video_0001", "Video_0002"}) {
        WaitAlarm alarm;
        ASSERT_TRUE(alarm);
        NSErrorPtr error;
        EXPECT_FALSE(NSKeyedUnarchiver::unarchiveObjectWithFile(folder / name, &error)) << name;
        EXPECT_FALSE(alarm.rang()) << name << ": the open waited";
        EXPECT_NE(error, nullptr) << name;
    }
    EXPECT_TRUE(NSKeyedUnarchiver::unarchiveObjectWithFile(folder / "real"));
}
