// CTest labels: threads

#include "platform/AVFoundation/AVAudioPlayer.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include "tests/support/TemporaryFolder.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <vector>

#include "platform/AVFoundation/AVAudioRecorder.h"
#include "platform/AVFoundation/AVAudioSession.h"
#include "tests/support/NamedPipe.h"
#include "tests/support/RunLoopTesting.h"

namespace {

class Listener : public AVAudioPlayerDelegate {
  public:
    explicit Listener(bool responds) : responds(responds) {}
    bool respondsToAudioPlayerDidFinishPlaying() const override { return responds; }
    void audioPlayerDidFinishPlaying(AVAudioPlayer& player, bool successfully) override {
        finishes.push_back(successfully);
        timeAtFinish = player.currentTime();
        if (onFinish)
            onFinish();
    }
    bool responds;
    std::vector<bool> finishes;
    NSTimeInterval timeAtFinish = -1;
    std::function<void()> onFinish;
};

// A 10 s recording of the recorder, played under the manual clock.
class PlayerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir.empty());
        Microphone::setDeviceInput("lavfi:sine");
        auto recorder = AVAudioRecorder::initWithURL(path, Value());
        ASSERT_TRUE(recorder->record());
        time.clock().advance(10.0);
        recorder->stop();
        player = AVAudioPlayer::initWithContentsOfURL(path);
        ASSERT_NE(player, nullptr);
        player->setDelegate(listener);
        ASSERT_TRUE(player->prepareToPlay());
    }
    void TearDown() override { Microphone::setDeviceInput(saved); }
    ManualClockScope time;
    std::string saved = Microphone::deviceInput();
    TemporaryFolder folder;
    const std::string& dir = folder.path();
    const std::string path = folder / "Audio_0001.caf";
    std::shared_ptr<Listener> listener = std::make_shared<Listener>(true);
    std::shared_ptr<AVAudioPlayer> player;
};

TEST_F(PlayerTest, DurationComesFromTheFilesSampleCount) {
    EXPECT_DOUBLE_EQ(player->duration(), 10.0);
    EXPECT_EQ(player->url(), path);
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(player->currentTime(), 0.0);
}

TEST_F(PlayerTest, TimeRunsOnTheClockOnlyWhilePlaying) {
    ASSERT_TRUE(player->play());
    time.advance(4.0);
    EXPECT_TRUE(player->isPlaying());
    EXPECT_DOUBLE_EQ(player->currentTime(), 4.0);
    player->pause();
    time.advance(3.0);
    EXPECT_DOUBLE_EQ(player->currentTime(), 4.0);
    player->play();
    time.advance(1.0);
    EXPECT_DOUBLE_EQ(player->currentTime(), 5.0);
    player->stop();
    EXPECT_FALSE(player->isPlaying());
    time.advance(20.0);
    EXPECT_DOUBLE_EQ(player->currentTime(), 5.0);
    EXPECT_TRUE(listener->finishes.empty());
}

TEST_F(PlayerTest, TheEndOfTheSoundIsReportedOnceAndRewinds) {
    player->play();
    time.advance(9.99);
    EXPECT_TRUE(listener->finishes.empty());
    time.advance(0.02);
    EXPECT_EQ(listener->finishes, std::vector<bool>{true});
    EXPECT_EQ(listener->timeAtFinish, 0.0);
    EXPECT_FALSE(player->isPlaying());
    time.advance(20.0);
    EXPECT_EQ(listener->finishes.size(), 1u);
    // The next play starts from the beginning.
    player->play();
    time.advance(1.0);
    EXPECT_DOUBLE_EQ(player->currentTime(), 1.0);
}

// The player keeps time by the monotonic clock: a step of the wall clock, forward past the end or
// back, neither moves the sound's time nor ends it early or late.
TEST_F(PlayerTest, AStepOfTheWallClockMovesNeitherTheTimeNorTheEnd) {
    player->play();
    time.advance(4.0);
    for (double step : {3600.0, -7200.0}) {
        time.clock().stepWall(step);
        time.runDue();
        EXPECT_DOUBLE_EQ(player->currentTime(), 4.0) << step;
        EXPECT_TRUE(listener->finishes.empty()) << step;
    }
    time.advance(5.99);
    EXPECT_TRUE(listener->finishes.empty());
    time.advance(0.02);
    EXPECT_EQ(listener->finishes, std::vector<bool>{true});
}

TEST_F(PlayerTest, ASeekMovesTheTimeAndTheEnd) {
    player->play();
    time.advance(1.0);
    player->setCurrentTime(8.0);
    time.advance(1.5);
    EXPECT_DOUBLE_EQ(player->currentTime(), 9.5);
    EXPECT_TRUE(listener->finishes.empty());
    time.advance(0.6);
    EXPECT_EQ(listener->finishes.size(), 1u);

    player->setCurrentTime(-1.0);
    EXPECT_EQ(player->currentTime(), 0.0);
    player->setCurrentTime(99.0);
    EXPECT_EQ(player->currentTime(), 10.0);
    player->setCurrentTime(4.56);  // while paused: the time moves, the clock does not move it
    time.advance(1.0);
    EXPECT_DOUBLE_EQ(player->currentTime(), 4.56);
}

TEST_F(PlayerTest, ADelegateThatDoesNotRespondIsNotTold) {
    auto silent = std::make_shared<Listener>(false);
    player->setDelegate(silent);
    player->play();
    time.advance(11.0);
    EXPECT_TRUE(silent->finishes.empty());
    EXPECT_FALSE(player->isPlaying());
}

TEST_F(PlayerTest, TheDelegateMayReleaseThePlayerWhenTold) {
    std::weak_ptr<AVAudioPlayer> watch = player;
    listener->onFinish = [&] { player.reset(); };
    watch.lock()->play();
    time.advance(11.0);
    EXPECT_EQ(listener->finishes.size(), 1u);
    EXPECT_TRUE(watch.expired());
}

TEST_F(PlayerTest, APlayerReleasedWhilePlayingSendsNothing) {
    player->play();
    player.reset();
    time.advance(11.0);
    EXPECT_TRUE(listener->finishes.empty());
}

TEST(PlayerOpenTest, FilesWithoutSoundCannotBePlayed) {
    TemporaryFolder folder;
    std::string text = folder / "notes.caf";
    std::ofstream(text) << "not a sound";
    for (const std::string& path : {text, folder / "missing.caf"}) {
        NSErrorPtr error;
        EXPECT_EQ(AVAudioPlayer::initWithContentsOfURL(path, &error), nullptr) << path;
        EXPECT_NE(error, nullptr) << path;
    }
}

// Each case damages a copy of the recorder's 10 s file; the player must refuse it, whatever its
// header claims, or (`accepted`) play it for `seconds`.
struct SoundDamage {
    const char* name;
    std::function<void(const std::string& path)> apply;
    double seconds = -1;  // accepted, with this length
    friend std::ostream& operator<<(std::ostream& out, const SoundDamage& d) {
        return out << d.name;
    }
};

// Writes `value` as a big-endian field of `width` bytes at `offset`.
void patch(const std::string& path, long offset, uint64_t value, int width) {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(offset);
    for (int i = width - 1; i >= 0; --i) file.put(static_cast<char>(value >> (8 * i)));
    ASSERT_TRUE(file);
}

uint64_t bitsOf(double value) {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Where the recorder's header keeps what the description says, and the data chunk's size.
constexpr long kRateAt = 20, kFlagsAt = 32, kBytesPerFrameAt = 36, kChannelsAt = 44, kBitsAt = 48;
constexpr long kDataSizeAt = AVAudioRecorder::kSampleDataOffset - 12;
constexpr uint64_t kTenSecondsOfData = 441000 * 4 + 4;

class SoundDamageTest : public PlayerTest, public ::testing::WithParamInterface<SoundDamage> {};

TEST_P(SoundDamageTest, IsRefusedOrPlaysForItsTrueLength) {
    const std::string copy = folder / "copy.caf";
    std::filesystem::copy_file(path, copy);
    GetParam().apply(copy);
    NSErrorPtr error;
    WaitAlarm alarm;
    auto damaged = AVAudioPlayer::initWithContentsOfURL(copy, &error);
    EXPECT_FALSE(alarm.rang()) << "the player waited on the file";
    if (GetParam().seconds >= 0) {
        ASSERT_TRUE(damaged) << error->localizedDescription();
        EXPECT_DOUBLE_EQ(damaged->duration(), GetParam().seconds);
        return;
    }
    EXPECT_FALSE(damaged) << "a length of " << damaged->duration() << " s believed";
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), AVFoundationErrorDomain);
    EXPECT_NE(error->localizedDescription().find(copy + " cannot be played: "), std::string::npos)
        << error->localizedDescription();
}

INSTANTIATE_TEST_SUITE_P(
    Files, SoundDamageTest,
    ::testing::Values(
        SoundDamage{"AsRecorded", [](const std::string&) {}, 10.0},
        SoundDamage{"Claims100Hz",
                    [](const std::string& p) { patch(p, kRateAt, bitsOf(100.0), 8); }},
        SoundDamage{"Claims1Hz", [](const std::string& p) { patch(p, kRateAt, bitsOf(1.0), 8); }},
        SoundDamage{"ClaimsMono",
                    [](const std::string& p) {
                        patch(p, kChannelsAt, 1, 4);
                        patch(p, kBytesPerFrameAt, 2, 4);
                    }},
        SoundDamage{"Claims8Bits", [](const std::string& p) { patch(p, kBitsAt, 8, 4); }},
        SoundDamage{"ClaimsFloats", [](const std::string& p) { patch(p, kFlagsAt, 3, 4); }},
        SoundDamage{"ClaimsBigEndian", [](const std::string& p) { patch(p, kFlagsAt, 0, 4); }},
        SoundDamage{
            "ClaimsMoreDataThanItHolds",
            [](const std::string& p) { patch(p, kDataSizeAt, kTenSecondsOfData + 44100 * 4, 8); }},
        SoundDamage{
            "HoldsMoreDataThanItClaims",
            [](const std::string& p) { patch(p, kDataSizeAt, kTenSecondsOfData - 400, 8); }},
        SoundDamage{"CutOffInTheMiddleOfAFrame",
                    [](const std::string& p) {
                        std::filesystem::resize_file(p, std::filesystem::file_size(p) - 2);
                        patch(p, kDataSizeAt, kTenSecondsOfData - 2, 8);
                    }},
        SoundDamage{"CutOffInItsHeader",
                    [](const std::string& p) { std::filesystem::resize_file(p, 2000); }},
        SoundDamage{"DataOfUnknownSizeRunsToTheEnd",
                    [](const std::string& p) { patch(p, kDataSizeAt, ~uint64_t{0}, 8); }, 10.0},
        SoundDamage{"ANamedPipe",
                    [](const std::string& p) {
                        std::filesystem::remove(p);
                        ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0);
                    }},
        SoundDamage{"ALinkToARecording",
                    [](const std::string& p) {
                        std::filesystem::remove(p);
                        std::filesystem::create_symlink(
                            std::filesystem::path(p).parent_path() / "Audio_0001.caf", p);
                    }}),
    [](const auto& info) { return std::string(info.param.name); });

// The speaker's output as a log of what the player asks of it.
class LoggingOutput : public Speaker::Output {
  public:
    uint64_t start(std::shared_ptr<const Speaker::Samples> sound, size_t from) override {
        samples = std::move(sound);
        log.push_back("start " + std::to_string(from));
        return ++voices;
    }
    void stop(uint64_t voice) override { log.push_back("stop " + std::to_string(voice)); }
    std::shared_ptr<const Speaker::Samples> samples;
    std::vector<std::string> log;
    uint64_t voices = 0;
};

TEST_F(PlayerTest, TheSpeakerSoundsFromThePlayersTimeAndFallsSilentWithIt) {
    auto output = std::make_shared<LoggingOutput>();
    Speaker::attach(output);
    player->play();
    time.advance(2.0);
    player->setCurrentTime(5.0);
    time.advance(1.0);
    player->pause();
    player->setCurrentTime(7.5);  // paused: nothing sounds
    player->play();
    time.advance(3.0);  // to the end
    player->play();
    player->stop();
    player->play();
    Speaker::attach(nullptr);
    player.reset();  // released while sounding
    EXPECT_EQ(output->log, (std::vector<std::string>{"start 0", "stop 1", "start 220500", "stop 2",
                                                     "start 330750", "stop 3", "start 0", "stop 4",
                                                     "start 0", "stop 5"}));
    ASSERT_TRUE(output->samples);
    EXPECT_EQ(output->samples->size(), 10u * Speaker::kSampleRate * Speaker::kChannels);
}

TEST_F(PlayerTest, WithoutAnOutputThePlayerKeepsTimeSilently) {
    auto output = std::make_shared<LoggingOutput>();
    Speaker::attach(output);
    Speaker::attach(nullptr);
    player->play();
    time.advance(10.0);
    EXPECT_EQ(listener->finishes, std::vector<bool>{true});
    EXPECT_TRUE(output->log.empty());
}

}  // namespace
