// CTest labels: threads

// Export end to end: the tilvex program records, opens the player and exports the recording to
// the album and by e-mail through a touch script; then the movie, the album's copy and the
// outbox message are read back from the home folder.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>

extern "C" {
#include <libavformat/avformat.h>
}

#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "tests/app/StoredRecordings.h"
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

struct LengthCase {
    const char* seconds;  // the wait between Record and Stop
    friend std::ostream& operator<<(std::ostream& out, const LengthCase& c) {
        return out << c.seconds << " s";
    }
};

class ExportEndToEndLengthTest : public ExportEndToEndTest,
                                 public ::testing::WithParamInterface<LengthCase> {};

// The first stream's length in seconds and its frame count, as libavformat reads them.
std::pair<double, int64_t> firstStreamOf(const std::string& movie) {
    AVFormatContext* in = nullptr;
    if (avformat_open_input(&in, movie.c_str(), nullptr, nullptr) != 0)
        return {0, 0};
    std::pair<double, int64_t> video{0, 0};
    if (avformat_find_stream_info(in, nullptr) >= 0 && in->nb_streams > 0) {
        const AVStream* stream = in->streams[0];
        video = {static_cast<double>(stream->duration) * av_q2d(stream->time_base),
                 stream->nb_frames};
    }
    avformat_close_input(&in);
    return video;
}

TEST_P(ExportEndToEndLengthTest, TheRecordingGoesToTheAlbumAndByMail) {
    const std::string record =
        std::string("tap button\nwait ") + GetParam().seconds + "\ntap button\n";
    ProgramOutcome run =
        phone_.runScript(record + kOpenPlayer +
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
    EXPECT_EQ(run.out.find("abandoned"), std::string::npos) << run.out;

    const Data movie = file(phone_.document("temp.mov"));
    ASSERT_GT(movie.size(), 1000u);
    // The video lasts as long as the recording's sound, within a picture.
    const auto rows = storedRows(phone_.document("Videos.sqlite"));
    ASSERT_EQ(rows.size(), 1u);
    const double recorded = firstStreamOf(phone_.document(rows[0].soundPath)).first;
    const auto [seconds, pictures] = firstStreamOf(phone_.document("temp.mov"));
    EXPECT_GT(pictures, 0);
    EXPECT_NEAR(seconds, recorded, 0.05);
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

INSTANTIATE_TEST_SUITE_P(Lengths, ExportEndToEndLengthTest,
                         ::testing::Values(LengthCase{"1.5"}, LengthCase{"0.6"}));

TEST_F(ExportEndToEndTest, QuittingDuringAnExportLogsThatItWasAbandoned) {
    StoredRecordings::storeALongRecording(phone_.home());
    struct Case {
        const char* when;
        const char* wait;  // from the choice to the quit
    };
    // The export waits 1.0 s, then encodes the long recording for seconds.
    for (const Case& c : {Case{"within the delay", "0.3"}, Case{"while encoding", "1.5"}}) {
        ProgramOutcome run = phone_.runScript(std::string(kOpenPlayer) +
                                              "tap exportButton\n"
                                              "sheet Save to Camera Roll\n"
                                              "wait " +
                                              c.wait +
                                              "\n"
                                              "expect progressPanel.hidden NO\n"
                                              "quit\n");
        EXPECT_EQ(run.status, 0) << c.when << "\n" << run.out;
        const std::string line =
            "Export abandoned: the application ended before the movie was written\n";
        const size_t said = run.out.find(line);
        EXPECT_NE(said, std::string::npos) << c.when << "\n" << run.out;
        EXPECT_EQ(run.out.find(line, said + 1), std::string::npos) << c.when << ": one line";
        EXPECT_TRUE(folder(phone_.home() + "/Media/DCIM").empty()) << c.when;
    }
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
