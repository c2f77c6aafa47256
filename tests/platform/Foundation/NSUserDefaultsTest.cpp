// CTest labels: threads

#include "platform/Foundation/NSUserDefaults.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "platform/Foundation/NSBundle.h"
#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSPathUtilities.h"
#include "platform/Foundation/PropertyList.h"
#include "tests/platform/Foundation/ScopedEnvironment.h"
#include "tests/support/TemporaryFolder.h"

namespace {

// The standard defaults of a fresh home folder.
class UserDefaultsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        env_.set("TILVEX_HOME", home_.path());
        NSSetHomeDirectory("");
        NSUserDefaults::resetStandardUserDefaults();
    }
    void TearDown() override { NSUserDefaults::resetStandardUserDefaults(); }

    std::shared_ptr<NSUserDefaults> reopened() {
        NSUserDefaults::resetStandardUserDefaults();
        return NSUserDefaults::standardUserDefaults();
    }
    std::string file() { return NSUserDefaults::standardUserDefaults()->path(); }
    void writeFile(const std::string& text) {
        NSFileManager::defaultManager().createDirectoryAtPath(home_ / "Library/Preferences", true);
        ASSERT_TRUE(NSData::writeToFile(Data(text.begin(), text.end()), file(), true));
    }

    TemporaryFolder home_;
    ScopedEnvironment env_;
};

TEST_F(UserDefaultsTest, LivesInThePreferencesOfTheHome) {
    std::string name = NSBundle::mainBundle()->bundleIdentifier();
    if (name.empty())
        name = program_invocation_short_name;
    EXPECT_EQ(file(), home_.path() + "/Library/Preferences/" + name + ".plist");
}

TEST_F(UserDefaultsTest, ValuesSurviveSynchronizeAndReopening) {
    const uint64_t userId = 0x8000000000000abcULL;  // above 2^63
    const NSDate expires = NSDate::dateWithTimeIntervalSince1970(1300000123.5);
    auto defaults = NSUserDefaults::standardUserDefaults();
    defaults->setObject(Value(userId), "KNUserId");
    defaults->setObject(Value("key-123"), "KNSessionKey");
    defaults->setObject(Value(expires), "KNSessionExpires");
    defaults->setObject(Value(Data{9, 8, 7}), "blob");
    defaults->setBool(false, "kEnableHalvornStatsCollection");
    defaults->setInteger(-17, "count");
    ASSERT_TRUE(defaults->synchronize());

    auto again = reopened();
    ASSERT_NE(again, defaults);
    EXPECT_EQ(again->objectForKey("KNUserId").unsignedValue(), userId);
    EXPECT_EQ(static_cast<uint64_t>(again->integerForKey("KNUserId")), userId);
    EXPECT_EQ(again->stringForKey("KNSessionKey"), "key-123");
    EXPECT_EQ(again->objectForKey("KNSessionExpires").date(), expires);
    EXPECT_EQ(again->objectForKey("blob").data(), (Data{9, 8, 7}));
    EXPECT_TRUE(again->objectForKey("kEnableHalvornStatsCollection").isNumber());
    EXPECT_FALSE(again->boolForKey("kEnableHalvornStatsCollection"));
    EXPECT_EQ(again->integerForKey("count"), -17);
}

TEST_F(UserDefaultsTest, ChangesReachTheFileOnlyThroughSynchronize) {
    auto defaults = NSUserDefaults::standardUserDefaults();
    defaults->setObject(Value("x"), "a");
    EXPECT_FALSE(NSFileManager::defaultManager().fileExistsAtPath(file()));
    EXPECT_TRUE(reopened()->objectForKey("a").isNull());
}

TEST_F(UserDefaultsTest, AMissingFileIsEmpty) {
    auto defaults = NSUserDefaults::standardUserDefaults();
    EXPECT_TRUE(defaults->dictionaryRepresentation().dictionaryRef().empty());
    EXPECT_TRUE(defaults->objectForKey("kEnableHalvornStatsCollection").isNull());
    EXPECT_FALSE(defaults->boolForKey("missing"));
    EXPECT_EQ(defaults->integerForKey("missing"), 0);
    EXPECT_EQ(defaults->stringForKey("missing"), std::nullopt);
}

TEST_F(UserDefaultsTest, ABrokenFileIsEmptyAndKeptUntilSynchronize) {
    const std::string broken = "<plist><dict><key>oops";
    writeFile(broken);
    auto defaults = reopened();
    EXPECT_TRUE(defaults->dictionaryRepresentation().dictionaryRef().empty());
    defaults->setObject(Value("v"), "k");
    EXPECT_EQ(NSData::dataWithContentsOfFile(file()), Data(broken.begin(), broken.end()));

    ASSERT_TRUE(defaults->synchronize());
    auto back = PropertyList::read(*NSData::dataWithContentsOfFile(file()));
    ASSERT_TRUE(back);
    EXPECT_EQ((*back)["k"].string(), "v");
}

// A damaged file: the defaults start empty, the log names the file, and the next save keeps the
// file aside, byte for byte, before writing the new one; a second damaged file takes a new name.
TEST_F(UserDefaultsTest, ADamagedFileIsLoggedAndKeptAsideByTheNextSave) {
    auto binary = PropertyList::writeBinary(Value::dictionary());
    auto list = PropertyList::writeXML(Value(ValueArray{Value("a")}));
    struct Case {
        const char* name;
        std::string contents;
        const char* logged;
    };
    const Case cases[] = {
        {"text", "these are not the defaults you are looking for", "not a property list"},
        {"empty", "", "not a property list"},
        {"cut-off binary list", std::string(binary->begin(), binary->end() - 5),
         "not a property list"},
        {"array at the root", std::string(list->begin(), list->end()),
         "without a dictionary at its root"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = file();
        auto& files = NSFileManager::defaultManager();
        files.removeItemAtPath(path + ".damaged");
        files.removeItemAtPath(path + ".damaged-2");

        // Already kept once: the older copy stays where it is.
        const std::string older = "an older damaged copy";
        writeFile(c.contents);
        ASSERT_TRUE(NSData::writeToFile(Data(older.begin(), older.end()), path + ".damaged", true));
        ::testing::internal::CaptureStderr();
        auto defaults = reopened();
        const std::string log = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(log.find(path), std::string::npos) << log;
        EXPECT_NE(log.find(c.logged), std::string::npos) << log;
        EXPECT_TRUE(defaults->dictionaryRepresentation().dictionaryRef().empty());

        defaults->setObject(Value("v"), "k");
        ASSERT_TRUE(defaults->synchronize());
        EXPECT_EQ(NSData::dataWithContentsOfFile(path + ".damaged-2"),
                  Data(c.contents.begin(), c.contents.end()));
        EXPECT_EQ(NSData::dataWithContentsOfFile(path + ".damaged"),
                  Data(older.begin(), older.end()));
        EXPECT_EQ(reopened()->stringForKey("k"), "v");

        // Kept once only: a later save just writes, and a good file is never moved aside.
        files.removeItemAtPath(path + ".damaged-2");
        defaults->setObject(Value("w"), "k");
        ASSERT_TRUE(defaults->synchronize());
        ASSERT_TRUE(reopened()->synchronize());
        EXPECT_FALSE(files.fileExistsAtPath(path + ".damaged-2"));
        EXPECT_EQ(reopened()->stringForKey("k"), "w");
    }
}

// When the damaged file cannot be moved aside, nothing is written over it. A name that is just
// short enough has no room for the suffix, which stops the move even for the superuser.
TEST_F(UserDefaultsTest, ADamagedFileThatCannotBeKeptAsideIsNotOverwritten) {
    const std::string path = home_ / (std::string(NAME_MAX - 6, 'p') + ".plist");
    const std::string broken = "not a list";
    ASSERT_TRUE(NSData::writeToFile(Data(broken.begin(), broken.end()), path, false));
    NSUserDefaults defaults(path);
    defaults.setObject(Value("v"), "k");

    ::testing::internal::CaptureStderr();
    const bool saved = defaults.synchronize();
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(saved);
    EXPECT_NE(log.find("could not keep the damaged " + path), std::string::npos) << log;
    EXPECT_EQ(NSData::dataWithContentsOfFile(path), Data(broken.begin(), broken.end()));
    EXPECT_EQ(defaults.stringForKey("k"), "v") << "the values stay in memory";
}

TEST_F(UserDefaultsTest, AFileWhoseRootIsNoDictionaryIsEmpty) {
    auto bytes = PropertyList::writeXML(Value(ValueArray{Value(1)}));
    writeFile(std::string(bytes->begin(), bytes->end()));
    EXPECT_TRUE(reopened()->dictionaryRepresentation().dictionaryRef().empty());
}

TEST_F(UserDefaultsTest, RemovingAndSettingNullDropTheKey) {
    auto defaults = NSUserDefaults::standardUserDefaults();
    defaults->setObject(Value(1), "a");
    defaults->setObject(Value(2), "b");
    defaults->removeObjectForKey("a");
    defaults->setObject(Value(), "b");
    EXPECT_TRUE(defaults->objectForKey("a").isNull());
    EXPECT_TRUE(defaults->objectForKey("b").isNull());
    ASSERT_TRUE(defaults->synchronize());
    EXPECT_TRUE(reopened()->dictionaryRepresentation().dictionaryRef().empty());
}

TEST_F(UserDefaultsTest, ContainersAreCopiedInAndOut) {
    auto defaults = NSUserDefaults::standardUserDefaults();
    Value list(ValueArray{Value(1)});
    defaults->setObject(list, "list");
    list.arrayRef().push_back(Value(2));
    Value read = defaults->objectForKey("list");
    read.arrayRef().push_back(Value(3));
    EXPECT_EQ(defaults->objectForKey("list"), Value(ValueArray{Value(1)}));
}

TEST_F(UserDefaultsTest, ReadersConvertBetweenKinds) {
    struct Case {
        Value stored;
        bool asBool;
        int64_t asInteger;
        std::optional<std::string> asString;
    };
    const Case cases[] = {
        {Value(true), true, 1, std::nullopt}, {Value(0), false, 0, "0"},
        {Value(42), true, 42, "42"},          {Value("YES"), true, 0, "YES"},
        {Value("true"), true, 0, "true"},     {Value("12abc"), true, 12, "12abc"},
        {Value("no"), false, 0, "no"},        {Value(Data{1}), false, 0, std::nullopt},
    };
    auto defaults = NSUserDefaults::standardUserDefaults();
    for (const Case& c : cases) {
        defaults->setObject(c.stored, "k");
        EXPECT_EQ(defaults->boolForKey("k"), c.asBool) << c.stored.description();
        EXPECT_EQ(defaults->integerForKey("k"), c.asInteger) << c.stored.description();
        EXPECT_EQ(defaults->stringForKey("k"), c.asString) << c.stored.description();
    }
}

TEST_F(UserDefaultsTest, ThreadsMaySetAndSynchronizeTogether) {
    auto defaults = NSUserDefaults::standardUserDefaults();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([defaults, t] {
            for (int i = 0; i < 50; ++i) {
                defaults->setInteger(i, "t" + std::to_string(t) + "-" + std::to_string(i));
                if (i % 10 == 0)
                    defaults->synchronize();
            }
        });
    }
    for (auto& t : threads) t.join();
    ASSERT_TRUE(defaults->synchronize());
    auto again = reopened();
    EXPECT_EQ(again->dictionaryRepresentation().dictionaryRef().size(), 200u);
    EXPECT_EQ(again->integerForKey("t3-49"), 49);
}

TEST_F(UserDefaultsTest, ResetFollowsANewHome) {
    NSUserDefaults::standardUserDefaults()->setObject(Value("first"), "k");
    ASSERT_TRUE(NSUserDefaults::standardUserDefaults()->synchronize());
    TemporaryFolder other;
    NSSetHomeDirectory(other.path());
    auto defaults = reopened();
    NSSetHomeDirectory("");
    EXPECT_EQ(defaults->path().rfind(other.path(), 0), 0u);
    EXPECT_TRUE(defaults->objectForKey("k").isNull());
}

}  // namespace
