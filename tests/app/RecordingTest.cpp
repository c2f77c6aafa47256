// CTest labels: threads

// The recording road end to end: the tilvex program driven by touch scripts in a home folder of
// its own, then its files and its store read back.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <future>
#include <iomanip>
#include <string>
#include <vector>

#include "platform/CoreGraphics/CGImage.h"
#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSKeyedArchiver.h"
#include "platform/UIKit/UIImage.h"
#include "tests/app/TilvexProgram.h"
#include "tests/support/ImmutableFile.h"

namespace {

// The mean of one colour channel (0 blue, 1 green, 2 red) over a rectangle of an opaque picture.
double channelMean(const CGImageRef& image, int channel, int x0, int y0, int width, int height) {
    double sum = 0;
    for (int y = y0; y < y0 + height; ++y) {
        const uint8_t* row = image->data() + static_cast<size_t>(y) * image->bytesPerRow();
        for (int x = x0; x < x0 + width; ++x) sum += row[x * 4 + channel];
    }
    return sum / (width * height);
}

std::shared_ptr<UIImage> imageInFile(const std::string& path) {
    auto bytes = NSData::dataWithContentsOfFile(path);
    return bytes ? UIImage::initWithData(*bytes) : nullptr;
}

class RecordingTest : public ::testing::Test {
  protected:
    void SetUp() override { SKIP_UNLESS_TILVEX_IS_BUILT(); }

    bool exists(const std::string& name) const {
        return NSFileManager::defaultManager().fileExistsAtPath(phone_.document(name));
    }
    std::vector<std::string> recordingFiles() const {
        std::vector<std::string> names;
        auto all = NSFileManager::defaultManager().contentsOfDirectoryAtPath(phone_.documents());
        for (const auto& name : all.value_or(std::vector<std::string>{}))
            if (name.starts_with("Video_") || name.starts_with("Audio_") ||
                name.starts_with("Thumbnail_"))
                names.push_back(name);
        return names;
    }

    TilvexHome phone_;
};

TEST_F(RecordingTest, StoresTheFramesTheSoundTheThumbnailAndOneRow) {
    ProgramOutcome run = phone_.runScript(
        "expect button.title Record\n"
        "expect albumButton.enabled YES\n"
        "tap button\n"
        "expect button.title Stop\n"
        "expect albumButton.enabled NO\n"
        "wait 1.3\n"
        "tap title:Stop\n"
        "expect button.title Record\n"
        "expect button.titleColor 0 0 0 1\n"
        "expect albumButton.enabled YES\n");
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("Recording"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Stopped"), std::string::npos) << run.out;

    EXPECT_EQ(recordingFiles(),
              (std::vector<std::string>{"Audio_0001.caf", "Thumbnail_0001.jpg", "Video_0001"}));
    auto rows = storedRows(phone_.document("Videos.sqlite"));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].videoPath, "Video_0001");
    EXPECT_EQ(rows[0].soundPath, "Audio_0001.caf");
    EXPECT_EQ(rows[0].thumbPath, "Thumbnail_0001.jpg");
    EXPECT_EQ(rows[0].title, "0:01");
    // Recorded a moment ago (seconds since 2001-01-01).
    double now = static_cast<double>(std::time(nullptr)) - 978307200.0;
    EXPECT_NEAR(rows[0].creationDate, now, 60);

    auto frames = NSKeyedUnarchiver::unarchiveObjectWithFile(phone_.document("Video_0001"));
    ASSERT_TRUE(frames.has_value());
    const ValueArray& list = frames->arrayRef();
    // A display link at 60 refreshes a second over about 1.3 s.
    EXPECT_GT(list.size(), 20u);
    std::shared_ptr<UIImage> first;
    for (const Value& frame : list) {
        auto image = UIImage::initWithData(frame.data());
        ASSERT_TRUE(image);
        EXPECT_EQ(image->size().width, 320);
        EXPECT_EQ(image->size().height, 480);
        if (!first)
            first = image;
    }

    // The thumbnail is the square from row 53 of the first frame: its colours follow that
    // square's, column band by column band (the test pattern has vertical colour bars).
    auto thumbnail = imageInFile(phone_.document("Thumbnail_0001.jpg"));
    ASSERT_TRUE(thumbnail);
    EXPECT_EQ(thumbnail->size().width, 320);
    EXPECT_EQ(thumbnail->size().height, 320);
    for (int band = 0; band < 4; ++band) {
        for (int channel = 0; channel < 3; ++channel) {
            double expected = channelMean(first->CGImage(), channel, band * 80, 53, 80, 320);
            double found = channelMean(thumbnail->CGImage(), channel, band * 80, 0, 80, 320);
            EXPECT_NEAR(found, expected, 24) << "band " << band << " channel " << channel;
        }
    }
}

TEST_F(RecordingTest, NumbersEachKindOfFileOnItsOwn) {
    // A sound file left by a recording that the end of the process cut off.
    NSFileManager::defaultManager().createDirectoryAtPath(phone_.documents(), true);
    std::ofstream(phone_.document("Audio_0001.caf")) << "left over";
    ProgramOutcome run = phone_.runScript(
        "tap button\nwait 0.3\ntap button\n"
        "tap button\nwait 0.3\ntap button\n");
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(recordingFiles(),
              (std::vector<std::string>{"Audio_0001.caf", "Audio_0002.caf", "Audio_0003.caf",
                                        "Thumbnail_0001.jpg", "Thumbnail_0002.jpg", "Video_0001",
                                        "Video_0002"}));
    auto rows = storedRows(phone_.document("Videos.sqlite"));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].soundPath, "Audio_0002.caf");
    EXPECT_EQ(rows[1].soundPath, "Audio_0003.caf");
    EXPECT_EQ(rows[1].videoPath, "Video_0002");
}

// Leaving the foreground or terminating stores a running recording; while idle nothing happens.
TEST_F(RecordingTest, ARunningRecordingIsStoredWhenTheApplicationLeaves) {
    struct Case {
        const char* name;
        const char* script;
        size_t rows;
    };
    const Case cases[] = {
        {"background while idle", "background\nexpect button.title Record\n", 0},
        {"background while recording",
         "tap button\nwait 0.4\nbackground\nexpect button.title Record\n"
         "expect albumButton.enabled YES\n",
         1},
        {"quit while recording", "tap button\nwait 0.4\nquit\n", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TilvexHome phone;
        ProgramOutcome run = phone.runScript(c.script);
        ASSERT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(storedRows(phone.document("Videos.sqlite")).size(), c.rows);
    }
}

// Closing the terminal (SIGHUP) is a quit like the other two.
TEST_F(RecordingTest, ATerminationSignalStoresTheRecordingAndEndsNormally) {
    for (const char* signal : {"TERM", "INT", "HUP"}) {
        SCOPED_TRACE(signal);
        TilvexHome phone;
        // The signal comes once the recording runs (its sound file exists).
        std::string launcher = phone.folder() / "signal-when-recording.sh";
        std::ofstream(launcher) << "\"$@\" & pid=$!\n"
                                << "while [ ! -e '" << phone.document("Audio_0001.caf")
                                << "' ]; do sleep 0.05; done\n"
                                << "sleep 0.3; kill -" << signal << " $pid; wait $pid\n";
        ProgramOutcome run =
            phone.runScript("tap button\nwait 60\n", Arguments(), Launcher({"sh", launcher}));
        EXPECT_EQ(run.status, 0) << "signal " << run.signal << "\n" << run.out;
        EXPECT_EQ(storedRows(phone.document("Videos.sqlite")).size(), 1u);
    }
}

// The signal at varied moments of a recording (from the moment its sound file appears, while
// the capture thread may not have begun, to a second in), in some rounds a second signal soon
// after the first, in the middle of the stop; three programs at a time, so that they crowd the
// machine. Each stores its recording and ends with status 0; the bound kills one that hangs.
TEST_F(RecordingTest, StressATerminationSignalAtVariedMomentsOfARecording) {
    constexpr int kRounds = 8;
    constexpr int kAtOnce = 3;
    const char* const signals[] = {"TERM", "INT", "HUP"};
    for (int round = 0; round < kRounds; ++round) {
        std::vector<TilvexHome> phones(kAtOnce);
        std::vector<std::future<ProgramOutcome>> runs;
        for (int i = 0; i < kAtOnce; ++i) {
            const int n = round * kAtOnce + i;
            TilvexHome& phone = phones[static_cast<size_t>(i)];
            std::string launcher = phone.folder() / "signal-when-recording.sh";
            std::ofstream out(launcher);
            out << "\"$@\" & pid=$!\n"
                << "while [ ! -e '" << phone.document("Audio_0001.caf")
                << "' ]; do sleep 0.005; done\n"
                << "sleep 0." << std::setw(2) << std::setfill('0') << (n * 7) % 100 << "\n"
                << "kill -" << signals[n % 3] << " $pid\n";
            if (n % 2 == 1)
                out << "sleep 0.0" << n % 10 << "; kill -" << signals[(n + 1) % 3] << " $pid\n";
            out << "wait $pid\n";
            out.close();
            runs.push_back(std::async(std::launch::async, [&phone, launcher] {
                return phone.runScript("tap button\nwait 60\n", Arguments(),
                                       Launcher({"timeout", "-s", "KILL", "30", "sh", launcher}));
            }));
        }
        for (int i = 0; i < kAtOnce; ++i) {
            SCOPED_TRACE("run " + std::to_string(round * kAtOnce + i));
            const ProgramOutcome run = runs[static_cast<size_t>(i)].get();
            EXPECT_EQ(run.status, 0) << "signal " << run.signal << "\n" << run.out;
            EXPECT_EQ(storedRows(phones[static_cast<size_t>(i)].document("Videos.sqlite")).size(),
                      1u)
                << run.out;
        }
    }
}

// The analytics cache cannot be opened (its folder's name is taken by a file): the application
// says so in its log and records as usual.
TEST_F(RecordingTest, TheApplicationGoesOnWhenTheAnalyticsFail) {
    // A cache folder where nothing can be made, and that no repair can remove.
    NSFileManager::defaultManager().createDirectoryAtPath(phone_.document("halvorn"), true);
    ImmutableFile pinned(phone_.document("halvorn"));
    if (!pinned)
        GTEST_SKIP() << "this file system cannot make a file that root cannot remove";
    ProgramOutcome run = phone_.runScript("tap button\nwait 0.3\ntap button\n");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("Analytics start failed"), std::string::npos) << run.out;
    EXPECT_EQ(storedRows(phone_.document("Videos.sqlite")).size(), 1u);
}

// A camera setting that does not open is no camera: the same alert, with the reason in the log.
TEST_F(RecordingTest, ACameraThatCannotBeOpenedIsNoCamera) {
    const std::string notAVideo = phone_.folder() / "notes.txt";
    std::ofstream(notAVideo) << "no pictures here";
    for (const std::string& camera :
         {std::string("/nonexistent.mp4"), std::string("v4l2:/dev/video9"),
          std::string("lavfi:bogusfilter"), notAVideo}) {
        SCOPED_TRACE(camera);
        ProgramOutcome run = phone_.runScript(
            "expect alert.title Camera not available!\n"
            "alert Quit\n"
            "expect button.title never-reached\n",
            Arguments({"--camera", camera}));
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_NE(run.out.find("The camera is not available: The camera input \"" + camera +
                               "\" cannot be opened: "),
                  std::string::npos)
            << run.out;
    }
}

// A device that never answers: a named pipe that nothing writes to (the program meant to feed it
// has not started). The launch gives it up after its bound, with the reason logged, and takes the
// road of a missing device; and a termination signal ends the program while it still waits.
// The launcher's kill only keeps a program that hangs from hanging the test.
class SilentDeviceTest : public RecordingTest {
  protected:
    void SetUp() override {
        RecordingTest::SetUp();
        ASSERT_EQ(::mkfifo(fifo_.c_str(), 0600), 0);
    }
    const std::string fifo_ = phone_.folder() / "silent.fifo";
    static constexpr const char* kBound = "timeout -s KILL 30 ";
};

TEST_F(SilentDeviceTest, ACameraThatNeverAnswersIsNoCamera) {
    ProgramOutcome run = phone_.runScript(
        "expect alert.title Camera not available!\nalert Quit\nexpect button.title never-reached\n",
        Arguments({"--camera", fifo_}), Launcher(kBound));
    EXPECT_EQ(run.status, 0) << "signal " << run.signal << "\n" << run.out;
    EXPECT_NE(run.out.find("The camera is not available: The camera input \"" + fifo_ +
                           "\" cannot be opened: it did not answer within 5 s"),
              std::string::npos)
        << run.out;
}

TEST_F(SilentDeviceTest, AMicrophoneThatNeverAnswersStartsNoRecording) {
    ProgramOutcome run = phone_.runScript(
        "tap button\nexpect button.title Record\nexpect albumButton.enabled YES\n"
        "expect alert.title Error\n"
        "expect alert.text The sound recorder cannot record: The microphone input \"" +
            fifo_ + "\" cannot be opened: it did not answer within 5 s\nalert OK\n",
        Arguments({"--microphone", fifo_}), Launcher(kBound));
    EXPECT_EQ(run.status, 0) << "signal " << run.signal << "\n" << run.out;
    EXPECT_TRUE(recordingFiles().empty());
}

TEST_F(SilentDeviceTest, ATerminationSignalEndsTheLaunchThatWaitsForTheCamera) {
    for (const char* signal : {"TERM", "INT", "HUP"}) {
        SCOPED_TRACE(signal);
        TilvexHome phone;
        // The store is made at launch just before the screen asks for the camera.
        std::string launcher = phone.folder() / "signal-at-launch.sh";
        std::ofstream(launcher) << "\"$@\" & pid=$!\n"
                                << "while [ ! -e '" << phone.document("Videos.sqlite")
                                << "' ]; do sleep 0.01; done\n"
                                << "kill -" << signal << " $pid; wait $pid\n";
        ProgramOutcome run =
            phone.runScript("wait 60\n", Arguments({"--camera", fifo_}),
                            Launcher({"timeout", "-s", "KILL", "30", "sh", launcher}));
        EXPECT_EQ(run.status, 0) << "signal " << run.signal << "\n" << run.out;
        EXPECT_NE(run.out.find("cannot be opened: the program is ending"), std::string::npos)
            << run.out;
    }
}

// A camera on a named pipe that a program writes a stream into: the pipe's stream can be read
// from its start once only, so the camera that the launch checks is the one the screen shows,
// and what is recorded is its picture.
TEST_F(SilentDeviceTest, ACameraOnANamedPipeIsOpenedOnceAndRecorded) {
    std::string launcher = phone_.folder() / "feed.sh";
    std::ofstream(launcher) << "ffmpeg -loglevel error -f lavfi -i color=c=red:s=320x480:r=30 "
                            << "-t 20 -pix_fmt yuv420p -f yuv4mpegpipe - > '" << fifo_
                            << "' 2>/dev/null & feeder=$!\n"
                            << "\"$@\"; status=$?\nkill $feeder\nexit $status\n";
    ProgramOutcome run = phone_.runScript("wait 1\ntap button\nwait 0.5\ntap button\nquit\n",
                                          Arguments("--camera " + fifo_),
                                          Launcher(std::string(kBound) + "sh " + launcher));
    ASSERT_EQ(run.status, 0) << "signal " << run.signal << "\n" << run.out;
    EXPECT_EQ(run.out.find("cannot be opened"), std::string::npos) << run.out;
    auto frames = NSKeyedUnarchiver::unarchiveObjectWithFile(phone_.document("Video_0001"));
    ASSERT_TRUE(frames && !frames->arrayRef().empty()) << run.out;
    auto first = UIImage::initWithData(frames->arrayRef().front().data());
    ASSERT_TRUE(first);
    EXPECT_GT(channelMean(first->CGImage(), 2, 0, 100, 320, 200), 150) << "the camera's red";
    EXPECT_LT(channelMean(first->CGImage(), 1, 0, 100, 320, 200), 100) << "the camera's red";
}

TEST_F(RecordingTest, WithoutACameraTheAlertsQuitEndsTheProgram) {
    ProgramOutcome quit = phone_.runScript(
        "expect alert.title Camera not available!\n"
        "alert Quit\n"
        "expect button.title never-reached\n",
        Arguments("--camera none"));
    EXPECT_EQ(quit.status, 0) << quit.out;

    // The overlay never shows, so its button cannot be tapped: the script fails and says where.
    ProgramOutcome tap = phone_.runScript("tap button\n", Arguments("--camera none"));
    EXPECT_EQ(tap.status, 1);
    EXPECT_NE(
        tap.out.find("script-2.txt:1: expected a control or bar item button on screen, found none"),
        std::string::npos)
        << tap.out;
}

TEST_F(RecordingTest, WithoutAMicrophoneNoRecordingStarts) {
    ProgramOutcome run = phone_.runScript(
        "tap button\n"
        "expect button.title Record\n"
        "expect albumButton.enabled YES\n"
        "expect alert.title Error\n"
        "alert OK\n",
        Arguments("--microphone none"));
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(recordingFiles().empty());
    EXPECT_TRUE(storedRows(phone_.document("Videos.sqlite")).empty());
}

TEST_F(RecordingTest, AStoreThatCannotBeOpenedEndsTheProgram) {
    NSFileManager::defaultManager().createDirectoryAtPath(phone_.documents(), true);
    std::ofstream(phone_.document("Videos.sqlite")) << std::string(4096, 'x');
    ProgramOutcome run = phone_.runScript("quit\n");
    EXPECT_EQ(run.signal, SIGABRT) << run.out;
    EXPECT_NE(run.out.find("Unresolved error "), std::string::npos) << run.out;
    EXPECT_EQ(NSData::dataWithContentsOfFile(phone_.document("Videos.sqlite")), Data(4096, 'x'))
        << "the file is left as it was";
}

// A camera whose picture is black but for a red band above row 53 and a blue one below row
// 372: the thumbnail, the square from row 53, shows neither (rows near its edges are left out
// of the check, since JPEG blurs colours across blocks of 16 rows).
TEST_F(RecordingTest, TheThumbnailIsTheSquareBelowRow53OfTheFirstFrame) {
    ProgramOutcome run = phone_.runScript(
        // The camera's first picture must be on the screen before the first grab.
        "wait 2\ntap button\nwait 0.5\ntap button\n",
        Arguments("--camera lavfi:color=c=black:s=320x480:r=30,"
                  "drawbox=y=0:w=320:h=53:c=red:t=fill,drawbox=y=373:w=320:h=53:c=blue:t=fill"));
    ASSERT_EQ(run.status, 0) << run.out;
    auto frames = NSKeyedUnarchiver::unarchiveObjectWithFile(phone_.document("Video_0001"));
    ASSERT_TRUE(frames && !frames->arrayRef().empty());
    auto first = UIImage::initWithData(frames->arrayRef().front().data());
    auto thumbnail = imageInFile(phone_.document("Thumbnail_0001.jpg"));
    ASSERT_TRUE(first && thumbnail);
    auto brightest = [](const UIImage& image, int y0) {
        double most = 0;
        for (int channel = 0; channel < 3; ++channel)
            most = std::max(most, channelMean(image.CGImage(), channel, 0, y0, 320, 16));
        return most;
    };
    EXPECT_GT(brightest(*first, 16), 150) << "the red band is on the screen";
    EXPECT_GT(brightest(*first, 390), 150) << "the blue band is on the screen";
    for (int y0 : {16, 150, 288})
        EXPECT_LT(brightest(*thumbnail, y0), 40) << "thumbnail rows from " << y0;
}

TEST_F(RecordingTest, AFailedExpectationNamesTheLineAndWhatWasFound) {
    ProgramOutcome run = phone_.runScript("# a comment\n\nexpect button.title Stop\n");
    EXPECT_EQ(run.status, 1) << "signal " << run.signal << "\n" << run.out;
    EXPECT_NE(run.out.find("script-1.txt:3: expected button.title to read \"Stop\", found "
                           "\"Record\""),
              std::string::npos)
        << run.out;
}

}  // namespace
