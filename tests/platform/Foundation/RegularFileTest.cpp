#include "platform/Foundation/RegularFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/Foundation/NSData.h"
#include "tests/support/NamedPipe.h"
#include "tests/support/TemporaryFolder.h"

namespace {

Data numbered(size_t size) {
    Data bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 13 + 5);
    return bytes;
}

TEST(RegularFileTest, ReadsAFileWholeAtAnOffsetAndInPieces) {
    TemporaryFolder folder;
    const Data bytes = numbered(1000);
    ASSERT_TRUE(NSData::writeToFile(bytes, folder / "file", false));
    auto file = RegularFile::open(folder / "file");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->size(), 1000u);
    EXPECT_EQ(file->contents(), bytes);
    uint8_t some[3];
    ASSERT_TRUE(file->read(997, some, 3));
    EXPECT_EQ(Data(some, some + 3), Data(bytes.end() - 3, bytes.end()));
    EXPECT_FALSE(file->read(998, some, 3)) << "past the end";

    Data joined;
    std::vector<size_t> pieces;
    ASSERT_TRUE(file->readPieces(300, [&](const uint8_t* p, size_t n) {
        joined.insert(joined.end(), p, p + n);
        pieces.push_back(n);
        return true;
    }));
    EXPECT_EQ(joined, bytes);
    EXPECT_EQ(pieces, (std::vector<size_t>{300, 300, 300, 100}));
    int calls = 0;
    EXPECT_FALSE(file->readPieces(300, [&](const uint8_t*, size_t) { return ++calls < 2; }));
    EXPECT_EQ(calls, 2) << "stops at the first refusal";

    // A file cut short after it was opened ends early: no piece past its end is made up.
    ASSERT_EQ(::truncate((folder / "file").c_str(), 500), 0);
    EXPECT_FALSE(file->contents());
    EXPECT_FALSE(file->readPieces(300, [](const uint8_t*, size_t) { return true; }));
}

// Anything but a regular file at the name is refused at once, as a missing file is.
TEST(RegularFileTest, RefusesWhatIsNoRegularFileWithoutWaiting) {
    TemporaryFolder folder;
    ASSERT_TRUE(NSData::writeToFile(numbered(10), folder / "file", false));
    NamedPipe pipe(folder / "pipe");
    ASSERT_TRUE(pipe);
    std::filesystem::create_symlink(folder / "file", folder / "link");
    struct Case {
        const char* name;
        int errnum;
    };
    for (const Case& c :
         {Case{"pipe", EINVAL}, Case{"link", ELOOP}, Case{"missing", ENOENT}, Case{".", EINVAL}}) {
        WaitAlarm alarm;
        NSErrorPtr error;
        EXPECT_FALSE(RegularFile::open(folder / c.name, &error)) << c.name;
        EXPECT_FALSE(alarm.rang()) << c.name << ": the open waited";
        ASSERT_TRUE(error) << c.name;
        EXPECT_EQ(error->domain(), NSPOSIXErrorDomain) << c.name;
        EXPECT_EQ(error->code(), c.errnum) << c.name;
    }
}

}  // namespace
