#include "platform/Foundation/NSBundle.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/PropertyList.h"
#include "tests/support/TemporaryFolder.h"

namespace {

TEST(NSBundle, MainBundleReadsTheApplicationsInfoPlist) {
    if (!std::getenv("TILVEX_RESOURCES"))
        GTEST_SKIP() << "TILVEX_RESOURCES is not set";
    auto bundle = NSBundle::mainBundle();
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->resourcePath(), std::getenv("TILVEX_RESOURCES"));
    EXPECT_EQ(bundle->bundleIdentifier(), "com.tilvex.Tilvex");
    EXPECT_EQ(bundle->objectForInfoDictionaryKey("CFBundleShortVersionString").string(), "0.1.0");
    EXPECT_EQ(bundle->objectForInfoDictionaryKey("NSMainNibFile").string(), "MainWindow");
    EXPECT_EQ(bundle->pathForResource("Info", "plist"),
              std::string(std::getenv("TILVEX_RESOURCES")) + "/Info.plist");
}

TEST(NSBundle, FindsResourcesByNameAndType) {
    TemporaryFolder dir;
    auto& files = NSFileManager::defaultManager();
    ASSERT_TRUE(files.createFileAtPath(dir / "thumb.png", nullptr));
    ASSERT_TRUE(files.createFileAtPath(dir / "README", nullptr));
    ASSERT_TRUE(files.createDirectoryAtPath(dir / "Model.momd", false));
    auto bundle = NSBundle::bundleWithPath(dir.path());
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->pathForResource("thumb", "png"), dir / "thumb.png");
    EXPECT_EQ(bundle->pathForResource("thumb", ".png"), dir / "thumb.png");
    EXPECT_EQ(bundle->pathForResource("README", ""), dir / "README");
    EXPECT_EQ(bundle->pathForResource("Model", "momd"), dir / "Model.momd");
    EXPECT_EQ(bundle->pathForResource("thumb", "jpg"), std::nullopt);
    EXPECT_EQ(bundle->pathForResource("missing", "png"), std::nullopt);
}

TEST(NSBundle, AMissingOrBrokenInfoPlistGivesAnEmptyDictionary) {
    TemporaryFolder dir;
    auto bundle = NSBundle::bundleWithPath(dir.path());
    ASSERT_TRUE(bundle);
    EXPECT_TRUE(bundle->infoDictionary().isDictionary());
    EXPECT_EQ(bundle->bundleIdentifier(), "");

    std::string broken = "<plist><dict>";
    ASSERT_TRUE(NSData::writeToFile(Data(broken.begin(), broken.end()), dir / "Info.plist", true));
    EXPECT_TRUE(NSBundle::bundleWithPath(dir.path())->objectForInfoDictionaryKey("x").isNull());

    EXPECT_FALSE(NSBundle::bundleWithPath(dir / "none"));
}

TEST(NSBundle, ReadsABinaryInfoPlist) {
    TemporaryFolder dir;
    ValueDictionary info;
    info.set("CFBundleIdentifier", Value("org.example.app"));
    ASSERT_TRUE(NSData::writeToFile(*PropertyList::writeBinary(Value(std::move(info))),
                                    dir / "Info.plist", true));
    EXPECT_EQ(NSBundle::bundleWithPath(dir.path())->bundleIdentifier(), "org.example.app");
}

}  // namespace
