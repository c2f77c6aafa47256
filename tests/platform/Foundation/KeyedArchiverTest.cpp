#include <gtest/gtest.h>
#include <plist/plist.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>

#include "platform/Foundation/NSException.h"
#include "platform/Foundation/NSKeyedArchiver.h"

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

plist_t parse(const Data& archive) {
    plist_t p = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(archive.data()),
                   static_cast<uint32_t>(archive.size()), &p);
    return p;
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

const std::vector<Data> kFrames = {{0xff, 0xd8, 0x00, 0x01, 0xff, 0xd9}, {}, {0x00}, {1, 2, 3}};

}  // namespace

TEST(KeyedArchiverTest, RoundTripKeepsLengthOrderAndBytes) {
    const std::vector<std::vector<Data>> cases = {
        {},
        {{0xff, 0xd8, 0xff, 0xd9}},
        kFrames,
        // Equal frames must stay separate elements even if the writer shares their bytes.
        {{7, 7, 7}, {7, 7, 7}, {8}, {7, 7, 7}},
        {Data(70000, 0x5a), Data(3, 0)},
    };
    for (const auto& frames : cases) {
        auto back = NSKeyedUnarchiver::unarchiveObjectWithData(
            NSKeyedArchiver::archivedDataWithRootObject(dataArray(frames)));
        ASSERT_TRUE(back.has_value()) << frames.size() << " frames";
        ASSERT_TRUE(back->isArray());
        EXPECT_EQ(framesOf(*back), frames);
    }
}

TEST(KeyedArchiverTest, WritesThePlatformLayout) {
    const Data archive = NSKeyedArchiver::archivedDataWithRootObject(dataArray(kFrames));
    ASSERT_GE(archive.size(), 8u);
    EXPECT_EQ(std::string(archive.begin(), archive.begin() + 8), "bplist00");
    plist_t p = parse(archive);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(stringOf(plist_dict_get_item(p, "$archiver")), "NSKeyedArchiver");
    uint64_t version = 0;
    plist_get_uint_val(plist_dict_get_item(p, "$version"), &version);
    EXPECT_EQ(version, 100000u);
    EXPECT_EQ(uidOf(plist_dict_get_item(plist_dict_get_item(p, "$top"), "root")), 1u);

    plist_t objects = plist_dict_get_item(p, "$objects");
    const uint32_t n = static_cast<uint32_t>(kFrames.size());
    ASSERT_EQ(plist_array_get_size(objects), n + 3);
    EXPECT_EQ(stringOf(plist_array_get_item(objects, 0)), "$null");
    plist_t array = plist_array_get_item(objects, 1);
    plist_t members = plist_dict_get_item(array, "NS.objects");
    ASSERT_EQ(plist_array_get_size(members), n);
    for (uint32_t i = 0; i < n; ++i) {
        uint64_t uid = uidOf(plist_array_get_item(members, i));
        plist_t frame = plist_array_get_item(objects, static_cast<uint32_t>(uid));
        ASSERT_EQ(plist_get_node_type(frame), PLIST_DATA);
        uint64_t length = 0;
        const char* bytes = plist_get_data_ptr(frame, &length);
        EXPECT_EQ(Data(bytes, bytes + length), kFrames[i]);
        EXPECT_EQ(uid, i + 2);
    }
    plist_t classEntry = plist_array_get_item(
        objects, static_cast<uint32_t>(uidOf(plist_dict_get_item(array, "$class"))));
    EXPECT_EQ(stringOf(plist_dict_get_item(classEntry, "$classname")), "NSMutableArray");
    plist_t classes = plist_dict_get_item(classEntry, "$classes");
    ASSERT_EQ(plist_array_get_size(classes), 3u);
    EXPECT_EQ(stringOf(plist_array_get_item(classes, 0)), "NSMutableArray");
    EXPECT_EQ(stringOf(plist_array_get_item(classes, 1)), "NSArray");
    EXPECT_EQ(stringOf(plist_array_get_item(classes, 2)), "NSObject");
    plist_free(p);
}

TEST(KeyedArchiverTest, RefusesRootsAndElementsItCannotArchive) {
    ValueArray mixed{Value(Data{1}), Value(3)};
    const std::vector<Value> bad = {Value("frame"), Value(Data{1}), Value(), Value(mixed)};
    for (const Value& v : bad) {
        EXPECT_THROW(NSKeyedArchiver::archivedDataWithRootObject(v), NSException)
            << v.description();
    }
}

// Each case edits the parsed form of a good archive of two frames; the result must be refused,
// or read as an array when `accepted` says so.
struct Edit {
    const char* name;
    std::function<void(plist_t archive, plist_t objects)> apply;
    bool accepted;
};

class KeyedUnarchiverEditTest : public ::testing::TestWithParam<Edit> {};

TEST_P(KeyedUnarchiverEditTest, ChecksEveryReference) {
    Data good = NSKeyedArchiver::archivedDataWithRootObject(dataArray({{1, 2}, {3}}));
    plist_t p = parse(good);
    GetParam().apply(p, plist_dict_get_item(p, "$objects"));
    auto result = NSKeyedUnarchiver::unarchiveObjectWithData(serialise(p));
    plist_free(p);
    if (GetParam().accepted) {
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(framesOf(*result), (std::vector<Data>{{1, 2}, {3}}));
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
        Edit{"ClassNameMissing",
             [](plist_t, plist_t o) { plist_dict_remove_item(classEntry(o), "$classname"); },
             false},
        Edit{"OtherArchiver",
             [](plist_t a, plist_t) {
                 plist_dict_set_item(a, "$archiver", plist_new_string("NSArchiver"));
             },
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

TEST(KeyedArchiverTest, DamagedBytesAreRefusedWithoutCrashing) {
    const Data good = NSKeyedArchiver::archivedDataWithRootObject(dataArray(kFrames));
    for (size_t length = 0; length < good.size(); ++length) {
        Data cut(good.begin(), good.begin() + static_cast<long>(length));
        EXPECT_FALSE(NSKeyedUnarchiver::unarchiveObjectWithData(cut).has_value()) << length;
    }
    // Flipped bytes may happen to leave a readable archive; they must never crash.
    std::mt19937 random(1234);
    for (int round = 0; round < 2000; ++round) {
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
    EXPECT_FALSE(NSKeyedUnarchiver::unarchiveObjectWithData(Data(xml.begin(), xml.end())));
}

TEST(KeyedArchiverTest, ReadsWholeFiles) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("keyed-archiver-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const Data archive = NSKeyedArchiver::archivedDataWithRootObject(dataArray(kFrames));
    const auto path = (dir / "Video_0001").string();
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(archive.data()),
                  static_cast<std::streamsize>(archive.size()));
    }
    auto back = NSKeyedUnarchiver::unarchiveObjectWithFile(path);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(framesOf(*back), kFrames);
    EXPECT_FALSE(NSKeyedUnarchiver::unarchiveObjectWithFile((dir / "missing").string()));
    EXPECT_FALSE(NSKeyedUnarchiver::unarchiveObjectWithFile(dir.string()));
    std::filesystem::remove_all(dir);
}
