// The records of recordings stopped but never saved, as the launch reads them back: a record is
// input like any other, so one that does not read back, names what is no recording of its own or
// names files that are gone restores nothing and removes nothing but itself.

#include "app/RecordingStore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/NSString-PathAdditions.h"
#include "platform/Foundation/NSFileManager.h"
#include "tests/app/StoredRecordings.h"
#include "tests/app/TilvexProgram.h"

namespace {

class RecordingStoreTest : public ::testing::Test {
  protected:
    // A recording's three files, its row never saved.
    std::shared_ptr<Video> unsavedRecording() {
        auto video = store.add(NSDate::dateWithTimeIntervalSinceReferenceDate(300000000.25), 10,
                               2.0, time.clock());
        store.context()->deleteObject(video);
        EXPECT_TRUE(store.context()->save(nullptr));
        return video;
    }
    std::string path(const std::string& name) const { return store.documents() + "/" + name; }
    size_t savedRows() const { return storedRows(path("Videos.sqlite")).size(); }

    ManualClockScope time;
    StoredRecordings store;
};

TEST_F(RecordingStoreTest, AWholeRecordIsRestoredWithItsValuesAndGoes) {
    auto video = unsavedRecording();
    ASSERT_TRUE(RecordingStore::writeIntent(*video));
    RecordingStore::restoreUnsavedRecordings(store.context());
    auto rows = storedRows(path("Videos.sqlite"));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].videoPath, video->videoPath());
    EXPECT_EQ(rows[0].soundPath, video->soundPath());
    EXPECT_EQ(rows[0].thumbPath, video->thumbPath());
    EXPECT_EQ(rows[0].title, "0:02");
    EXPECT_EQ(rows[0].creationDate, 300000000.25);
    EXPECT_FALSE(store.exists(video->videoPath() + ".pending"));
}

TEST_F(RecordingStoreTest, ARecordThatDoesNotHoldAWholeRecordingRestoresNothing) {
    auto video = unsavedRecording();
    const std::string names = "videoPath " + video->videoPath() + "\nsoundPath " +
                              video->soundPath() + "\nthumbPath " + video->thumbPath() + "\n";
    const std::string record = video->videoPath() + ".pending";
    const struct {
        const char* name;
        std::string text;
        bool stays;  // left for a person to look at
    } cases[] = {
        {"a title of another form", names + "title 1:75\ncreationDate 1\n", true},
        {"a date that is no number", names + "title 0:02\ncreationDate nan\n", true},
        {"a date past any double", names + "title 0:02\ncreationDate 1e400\n", true},
        {"a value missing", names + "title 0:02\n", true},
        {"a value twice", names + "title 0:02\ntitle 0:03\ncreationDate 1\n", true},
        {"a key of its own", names + "title 0:02\ncreationDate 1\nowner me\n", true},
        {"too long", names + "title 0:02\ncreationDate 1\n" + std::string(5000, '#'), true},
        {"another archive than its name",
         "videoPath Video_0042\nsoundPath " + video->soundPath() + "\nthumbPath " +
             video->thumbPath() + "\ntitle 0:02\ncreationDate 1\n",
         true},
        {"the store as its thumbnail",
         "videoPath " + video->videoPath() + "\nsoundPath " + video->soundPath() +
             "\nthumbPath Videos.sqlite\ntitle 0:02\ncreationDate 1\n",
         false},
        {"a path outside Documents",
         "videoPath " + video->videoPath() + "\nsoundPath ../x\nthumbPath " + video->thumbPath() +
             "\ntitle 0:02\ncreationDate 1\n",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(path(record), std::ios::binary | std::ios::trunc) << c.text;
        RecordingStore::restoreUnsavedRecordings(store.context());
        EXPECT_EQ(savedRows(), 0u);
        EXPECT_EQ(store.exists(record), c.stays);
        for (const auto& name : {video->videoPath(), video->soundPath(), video->thumbPath(),
                                 std::string("Videos.sqlite")})
            EXPECT_TRUE(store.exists(name)) << name;
    }
}

TEST_F(RecordingStoreTest, ARecordOfAStoredRowOrOfFilesGoneGoesAndRestoresNothing) {
    auto& files = NSFileManager::defaultManager();
    // The end came after the commit, before the record went: the row is there.
    auto stored = store.add(NSDate::date(), 10, 1.0, time.clock());
    ASSERT_TRUE(RecordingStore::writeIntent(*stored));
    // A person removed the thumbnail.
    auto gone = unsavedRecording();
    ASSERT_TRUE(RecordingStore::writeIntent(*gone));
    ASSERT_TRUE(files.removeItemAtPath(PathAdditions::appendPath(gone->thumbPath())));
    // Not a record at all.
    ASSERT_TRUE(files.createDirectoryAtPath(path("Video_0009.pending/inside"), true));

    RecordingStore::restoreUnsavedRecordings(store.context());
    EXPECT_EQ(savedRows(), 1u);
    EXPECT_FALSE(store.exists(stored->videoPath() + ".pending"));
    EXPECT_FALSE(store.exists(gone->videoPath() + ".pending"));
    EXPECT_TRUE(store.exists(gone->videoPath())) << "the rest of a recording is kept";
    EXPECT_TRUE(store.exists("Video_0009.pending/inside"));
}

}  // namespace
