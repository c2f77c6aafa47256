// CTest labels: threads

// A camera or microphone on a named pipe whose writer delivers a little and then stalls with the
// pipe held open, mid-recording: every way out (Stop, a quit, a termination signal) still ends
// within its bound and stores the recording with what was captured; past the silence bound the
// log names the device. A launcher feeds the pipe and bounds the program, so that one that hangs
// is killed (status 137) instead of hanging the test.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "platform/AVFoundation/AVAudioRecorder.h"
#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSKeyedArchiver.h"
#include "tests/app/TilvexProgram.h"

namespace {

struct StallCase {
    const char* name;
    const char* device;  // "camera" or "microphone"
    const char* feed;    // shell command whose output goes into the pipe before it stalls
    const char* script;
    double signalAfter;  // seconds after the sound file appears to send SIGTERM; 0: none
    const char* title;   // of the stored row
    bool silentLong;     // the stall outlasts the silence bound: the log names the device
};
void PrintTo(const StallCase& c, std::ostream* out) {
    *out << c.name;
}

// 2 s of a tone, mono, as the microphone's "s16le:" input takes it.
constexpr const char* kTwoSecondsOfTone =
    "ffmpeg -loglevel error -f lavfi -i sine=frequency=440:sample_rate=44100 -t 2 -ac 1 -f s16le -";
// Red pictures as a yuv4mpeg stream, for one or two seconds.
constexpr const char* kOneSecondOfRed =
    "ffmpeg -loglevel error -f lavfi -i color=c=red:s=320x480:r=30 -t 1 -pix_fmt yuv420p "
    "-f yuv4mpegpipe -";
constexpr const char* kTwoSecondsOfRed =
    "ffmpeg -loglevel error -f lavfi -i color=c=red:s=320x480:r=30 -t 2 -pix_fmt yuv420p "
    "-f yuv4mpegpipe -";

class StalledDeviceTest : public ::testing::TestWithParam<StallCase> {
  protected:
    void SetUp() override {
        SKIP_UNLESS_TILVEX_IS_BUILT();
        ASSERT_EQ(::mkfifo(fifo_.c_str(), 0600), 0);
    }
    // Whether the sound file holds some sound in its first second: what came before the stall.
    bool soundAtTheStart(const std::string& name) const {
        auto bytes = NSData::dataWithContentsOfFile(phone_.document(name));
        const size_t start = AVAudioRecorder::kSampleDataOffset;
        if (!bytes || bytes->size() < start + 44100 * 4)
            return false;
        for (size_t i = start; i < start + 44100 * 4; ++i)
            if ((*bytes)[i] != 0)
                return true;
        return false;
    }

    TilvexHome phone_;
    const std::string fifo_ = phone_.folder() / "device.fifo";
};

TEST_P(StalledDeviceTest, EveryWayOutStoresWhatWasCaptured) {
    const StallCase& c = GetParam();
    const std::string launcher = phone_.folder() / "stall.sh";
    std::ofstream out(launcher);
    // The feeder holds the pipe open after its data, as a stalled writer does.
    out << "sh -c '" << c.feed << "; exec sleep 120' > '" << fifo_ << "' & feeder=$!\n"
        << "timeout -s KILL 40 \"$@\" & pid=$!\n";
    if (c.signalAfter > 0)
        out << "while [ ! -e '" << phone_.document("Audio_0001.caf") << "' ]; do sleep 0.02; done\n"
            << "sleep " << c.signalAfter << "; kill -TERM $pid\n";
    out << "wait $pid; status=$?\nkill $feeder\nexit $status\n";
    out.close();
    // The microphone's pipe carries raw samples; the camera's a stream that names its format.
    const bool microphone = std::string(c.device) == "microphone";
    const std::string input = (microphone ? "s16le:" : "") + fifo_;
    ProgramOutcome run =
        phone_.runScript(c.script, Arguments(std::string("--") + c.device + " " + input),
                         Launcher("sh " + launcher));

    EXPECT_EQ(run.status, 0) << run.out;
    auto rows = storedRows(phone_.document("Videos.sqlite"));
    ASSERT_EQ(rows.size(), 1u) << run.out;
    EXPECT_EQ(rows[0].title, c.title);
    auto frames = NSKeyedUnarchiver::unarchiveObjectWithFile(phone_.document(rows[0].videoPath));
    ASSERT_TRUE(frames.has_value());
    EXPECT_FALSE(frames->arrayRef().empty());
    EXPECT_TRUE(
        NSFileManager::defaultManager().fileExistsAtPath(phone_.document(rows[0].thumbPath)));
    if (microphone) {
        EXPECT_TRUE(soundAtTheStart(rows[0].soundPath)) << "the sound before the stall is kept";
    }
    const std::string silent = std::string("The ") + c.device + " stopped answering: its input";
    EXPECT_EQ(run.out.find(silent) != std::string::npos, c.silentLong) << run.out;
}

INSTANTIATE_TEST_SUITE_P(
    Stalls, StalledDeviceTest,
    ::testing::Values(
        StallCase{"MicrophoneStopWhileItWaits", "microphone", kTwoSecondsOfTone,
                  "tap button\nwait 3.2\ntap button\nexpect button.title Record\nquit\n", 0, "0:03",
                  false},
        StallCase{"MicrophoneStopPastTheBound", "microphone", kTwoSecondsOfTone,
                  "tap button\nwait 8.2\ntap button\nexpect button.title Record\nquit\n", 0, "0:08",
                  true},
        StallCase{"MicrophoneTerminationSignal", "microphone", kTwoSecondsOfTone,
                  "tap button\nwait 60\n", 3.2, "0:03", false},
        StallCase{"CameraStopAndQuitWhileItWaits", "camera", kTwoSecondsOfRed,
                  "wait 0.5\ntap button\nwait 3.2\ntap button\nexpect button.title Record\nquit\n",
                  0, "0:03", false},
        StallCase{"CameraStopAndQuitPastTheBound", "camera", kOneSecondOfRed,
                  "wait 0.5\ntap button\nwait 7.2\ntap button\nexpect button.title Record\nquit\n",
                  0, "0:07", true},
        StallCase{"CameraTerminationSignal", "camera", kTwoSecondsOfRed,
                  "wait 0.5\ntap button\nwait 60\n", 3.2, "0:03", false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
