// CTest labels: threads

// Export end to end: the tilvex program records, opens the player and exports the recording to
// the album and by e-mail through a touch script; then the movie, the album's copy and the
// outbox message are read back from the home folder.

#include <gtest/gtest.h>

#include <string>

#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "tests/app/TilvexProgram.h"
#include "tests/support/MailMessageReader.h"

namespace {

class ExportEndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override { SKIP_UNLESS_TILVEX_IS_BUILT(); }
    Data file(const std::string& path) const {
        return NSData::dataWithContentsOfFile(path).value_or(Data());
    }
    std::vector<std::string> folder(const std::string& path) const {
        return NSFileManager::defaultManager().contentsOfDirectoryAtPath(path).value_or(
            std::vector<std::string>{});
    }
    // A recording of about 1.5 s; the first recording opened in the player with its bars up.
    static constexpr const char* kRecord = "tap button\nwait 1.5\ntap button\n";
    static constexpr const char* kOpenPlayer =
        "tap albumButton\n"
        "wait-until table.rows 1 5\n"
        "select-row 0\n";
    TilvexHome phone_;
    TemporaryFolder scratch_;
};

TEST_F(ExportEndToEndTest, TheRecordingGoesToTheAlbumAndByMail) {
    ProgramOutcome run =
        phone_.runScript(std::string(kRecord) + kOpenPlayer +
                         "tap exportButton\n"
                         "sheet Save to Camera Roll\n"
                         "expect progressPanel.hidden NO\n"
                         "expect progressLabel.text Encoding...\n"
                         "expect progressView.progress 0\n"
                         "expect exportButton.enabled NO\n"
                         "expect bottombar.items exportButton fixedSpace playButton\n"
                         "wait-until progressLabel.text Saving... 30\n"
                         "wait-until progressView.progress 1 30\n"
                         "expect progressPanel.hidden NO\n"
                         "wait-until progressPanel.hidden YES 5\n"
                         "expect exportButton.enabled YES\n"
                         "tap exportButton\n"
                         "sheet Email\n"
                         "wait-until progressPanel.hidden YES 30\n"
                         "expect statusBar.style 0\n"
                         "mail send\n"
                         "expect statusBar.style 1\n"
                         "back\n");
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("Finished Saving"), std::string::npos) << run.out;

    const Data movie = file(phone_.document("temp.mov"));
    ASSERT_GT(movie.size(), 1000u);
    EXPECT_TRUE(file(phone_.home() + "/Media/DCIM/IMG_0001.MOV") == movie);
    const auto outbox = folder(phone_.home() + "/Mail/Outbox");
    ASSERT_EQ(outbox.size(), 1u);
    auto message = readMailMessage(phone_.home() + "/Mail/Outbox/" + outbox[0], scratch_.path());
    ASSERT_FALSE(message.is_null());
    ASSERT_EQ(message["attachments"].size(), 1u);
    EXPECT_EQ(message["attachments"][0]["filename"], "Video.mov");
    EXPECT_EQ(message["attachments"][0]["type"], "video/quicktime");
    EXPECT_TRUE(file(message["attachments"][0]["file"].get<std::string>()) == movie);
}

TEST_F(ExportEndToEndTest, SheetAndMailCommandsSayWhatTheyFound) {
    struct Case {
        const char* script;
        const char* message;
    };
    ASSERT_EQ(phone_.runScript(kRecord).status, 0);
    for (const Case& c : {
             Case{"sheet Email\n",
                  "expected an action sheet with the button Email, found no sheet"},
             Case{"mail send\n", "expected a mail composer on screen, found none"},
             Case{"tap exportButton\nsheet Print\n",
                  "expected the button Print on the action sheet to take a press, found Email, "
                  "Save to Camera Roll, Cancel"},
             Case{"tap exportButton\nsheet Email\nwait-until progressPanel.hidden YES 30\n"
                  "mail post\n",
                  "expected send, save or cancel for the mail composer, found post"},
         }) {
        ProgramOutcome run = phone_.runScript(std::string(kOpenPlayer) + c.script);
        EXPECT_EQ(run.status, 1) << c.script;
        EXPECT_NE(run.out.find(c.message), std::string::npos) << run.out;
    }
}

}  // namespace
