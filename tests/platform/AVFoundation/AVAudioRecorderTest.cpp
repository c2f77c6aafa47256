// CTest labels: threads

#include "platform/AVFoundation/AVAudioRecorder.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>

#include "tests/support/TemporaryFolder.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "tests/support/NoNewThreads.h"
#include "tests/support/RunLoopTesting.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

struct SoundFileFacts {
    std::string codec;
    int sampleRate = 0;
    int channels = 0;
    int64_t sampleFrames = 0;
};

SoundFileFacts readBack(const std::string& path) {
    SoundFileFacts facts;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0)
        return facts;
    if (avformat_find_stream_info(format, nullptr) >= 0 && format->nb_streams == 1) {
        AVStream* st = format->streams[0];
        facts.codec = avcodec_get_name(st->codecpar->codec_id);
        facts.sampleRate = st->codecpar->sample_rate;
        facts.channels = st->codecpar->ch_layout.nb_channels;
        facts.sampleFrames = av_rescale_q(st->duration, st->time_base, {1, facts.sampleRate});
    }
    avformat_close_input(&format);
    return facts;
}

std::vector<uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

Value phoneSettings() {
    ValueDictionary s;
    s.set(AVFormatIDKey, Value(kAudioFormatLinearPCM));
    s.set(AVSampleRateKey, Value(44100.0f));
    s.set(AVNumberOfChannelsKey, Value(2));
    s.set(AVLinearPCMBitDepthKey, Value(16));
    s.set(AVLinearPCMIsBigEndianKey, Value(false));
    s.set(AVLinearPCMIsFloatKey, Value(false));
    return Value(std::move(s));
}

class RecorderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir.empty());
        Microphone::setDeviceInput("lavfi:sine=frequency=441:sample_rate=44100");
    }
    void TearDown() override { Microphone::setDeviceInput(saved); }
    // Waits (real time) until the microphone has written at least `bytes` of samples.
    bool waitForSamples(uintmax_t bytes) {
        for (int i = 0; i < 4000; ++i) {
            if (std::filesystem::file_size(path) >= AVAudioRecorder::kSampleDataOffset + bytes)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    ManualClockScope time;
    std::string saved = Microphone::deviceInput();
    TemporaryFolder folder;
    const std::string& dir = folder.path();
    const std::string path = folder / "Audio_0001.caf";
};

TEST_F(RecorderTest, RecordsTheMicrophoneIntoACafFileAsLongAsTheRecordedTime) {
    NSErrorPtr error;
    auto recorder = AVAudioRecorder::initWithURL(path, phoneSettings(), &error);
    ASSERT_NE(recorder, nullptr) << error->localizedDescription();
    ASSERT_TRUE(recorder->prepareToRecord());
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(recorder->currentTime(), 0.0);
    ASSERT_TRUE(recorder->record());
    time.clock().advance(0.5);
    EXPECT_DOUBLE_EQ(recorder->currentTime(), 0.5);
    ASSERT_TRUE(waitForSamples(0.4 * 44100 * 4));
    recorder->stop();
    EXPECT_EQ(recorder->currentTime(), 0.0);
    EXPECT_EQ(recorder->fileError(), nullptr);

    SoundFileFacts facts = readBack(path);
    EXPECT_EQ(facts.codec, "pcm_s16le");
    EXPECT_EQ(facts.sampleRate, 44100);
    EXPECT_EQ(facts.channels, 2);
    EXPECT_EQ(facts.sampleFrames, 22050);

    // The samples start at byte 4096, right after the data chunk's header and edit count.
    std::vector<uint8_t> bytes = fileBytes(path);
    ASSERT_EQ(bytes.size(), 4096u + 22050 * 4);
    EXPECT_EQ(std::string(bytes.begin() + 4080, bytes.begin() + 4084), "data");
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "caff");
    // The microphone's tone, the same on both channels.
    auto* samples = reinterpret_cast<const int16_t*>(bytes.data() + 4096);
    int16_t peak = 0;
    for (size_t f = 0; f < 4410; ++f) {
        ASSERT_EQ(samples[2 * f], samples[2 * f + 1]) << f;
        peak = std::max<int16_t>(peak, static_cast<int16_t>(std::abs(samples[2 * f])));
    }
    EXPECT_GT(peak, 1000);
}

TEST_F(RecorderTest, WithoutAMicrophonePreparingFailsAndLeavesNoFile) {
    Microphone::setDeviceInput("none");
    auto recorder = AVAudioRecorder::initWithURL(path, phoneSettings());
    ASSERT_NE(recorder, nullptr);
    NSErrorPtr error;
    EXPECT_FALSE(recorder->prepareToRecord(&error));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->localizedDescription(), "The phone has no microphone.");
    EXPECT_FALSE(recorder->record());
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_FALSE(std::filesystem::exists(path));
}

// The microphone's thread starts with the recording: one that cannot start fails `record`, and
// the recorder records nothing.
TEST_F(RecorderTest, AMicrophoneThatCannotStartFailsToRecord) {
    auto recorder = AVAudioRecorder::initWithURL(path, phoneSettings());
    ASSERT_NE(recorder, nullptr);
    ASSERT_TRUE(recorder->prepareToRecord());
    NSErrorPtr error;
    {
        NoNewThreads noThreads;
        EXPECT_FALSE(recorder->record(&error));
    }
    ASSERT_NE(error, nullptr);
    EXPECT_NE(error->localizedDescription().find("no thread can start"), std::string::npos)
        << error->localizedDescription();
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(recorder->currentTime(), 0.0);
}

TEST_F(RecorderTest, AFileThatCannotBeCreatedFailsToPrepare) {
    auto recorder = AVAudioRecorder::initWithURL(dir + "/missing/Audio.caf", phoneSettings());
    ASSERT_NE(recorder, nullptr);
    NSErrorPtr error;
    EXPECT_FALSE(recorder->prepareToRecord(&error));
    ASSERT_NE(error, nullptr);
    EXPECT_NE(error->localizedDescription().find("No such file or directory"), std::string::npos);
}

// The file on a small file system of its own with no room beyond the header: the recording's
// samples cannot be written, and the recorder says so rather than passing the file as whole.
TEST_F(RecorderTest, AFileThatCannotBeWrittenWholeIsReportedAfterTheStop) {
    const std::string disk = folder / "disk";
    std::filesystem::create_directory(disk);
    if (::mount("tilvex-test", disk.c_str(), "tmpfs", 0, "size=1m,mode=0755") != 0)
        GTEST_SKIP() << "no small file system can be mounted here: " << std::strerror(errno);
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{disk};
    auto recorder = AVAudioRecorder::initWithURL(disk + "/Audio_0001.caf", phoneSettings());
    ASSERT_NE(recorder, nullptr);
    ASSERT_TRUE(recorder->prepareToRecord());
    struct statvfs free {};
    ASSERT_EQ(::statvfs(disk.c_str(), &free), 0);
    std::ofstream(disk + "/filler") << std::string(free.f_bavail * free.f_frsize, 'x');
    ASSERT_TRUE(recorder->record());
    time.clock().advance(1.0);
    recorder->stop();
    ASSERT_NE(recorder->fileError(), nullptr);
    EXPECT_NE(recorder->fileError()->localizedDescription().find("No space left on device"),
              std::string::npos)
        << recorder->fileError()->localizedDescription();

    // Prepared afresh on a disk with room, the next recording is whole again.
    std::filesystem::remove(disk + "/filler");
    ASSERT_TRUE(recorder->record());
    time.clock().advance(0.1);
    recorder->stop();
    EXPECT_EQ(recorder->fileError(), nullptr);
}

TEST_F(RecorderTest, SettingsOtherThanTheMicrophonesFormatAreRefused) {
    struct Case {
        const char* key;
        Value value;
    };
    for (const Case& c :
         {Case{AVFormatIDKey, Value(0x61616320u)}, Case{AVSampleRateKey, Value(22050.0)},
          Case{AVNumberOfChannelsKey, Value(1)}, Case{AVLinearPCMBitDepthKey, Value(24)},
          Case{AVLinearPCMIsBigEndianKey, Value(true)}, Case{AVLinearPCMIsFloatKey, Value(true)}}) {
        Value settings = phoneSettings();
        settings.dictionaryRef().set(c.key, c.value);
        NSErrorPtr error;
        EXPECT_EQ(AVAudioRecorder::initWithURL(path, settings, &error), nullptr) << c.key;
        EXPECT_NE(error, nullptr) << c.key;
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
