// CTest labels: threads

// The machine's audio output as the phone's speaker, heard through SDL's disk driver: it writes
// what the device plays to a file, at the device's pace.

#include "platform/Desktop/DesktopSpeaker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/AVFoundation/AVAudioPlayer.h"
#include "tests/platform/Foundation/ScopedEnvironment.h"
#include "tests/support/RunLoopTesting.h"
#include "tests/support/TemporaryFolder.h"

namespace {

constexpr int kSoundFrames = 5 * Speaker::kSampleRate;

// The values of sample frame n of the test sound: together they tell n, and neither is 0.
int16_t leftOf(int n) {
    return static_cast<int16_t>(n % 32000 + 1);
}
int16_t rightOf(int n) {
    return static_cast<int16_t>(n / 32000 + 1);
}

// The test sound as the recorder writes its files: CAF of 16-bit stereo 44100 Hz linear PCM.
void writeSound(const std::string& path) {
    std::vector<int16_t> samples;
    for (int n = 0; n < kSoundFrames; ++n) {
        samples.push_back(leftOf(n));
        samples.push_back(rightOf(n));
    }
    auto be = [](uint64_t v, int bytes) {
        std::string out;
        for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>(v >> (8 * i)));
        return out;
    };
    const double rate = Speaker::kSampleRate;
    uint64_t rateBits = 0;
    std::memcpy(&rateBits, &rate, sizeof rate);
    const uint64_t bytes = samples.size() * 2;
    std::ofstream out(path, std::ios::binary);
    out << "caff" << be(1, 2) << be(0, 2) << "desc" << be(32, 8) << be(rateBits, 8) << "lpcm"
        << be(2, 4) << be(4, 4) << be(1, 4) << be(2, 4) << be(16, 4) << "data" << be(bytes + 4, 8)
        << be(0, 4);
    out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(bytes));
}

// A stretch of the test sound in the output: the number of its first frame and its length.
struct SoundRun {
    int first;
    int frames;
    bool operator==(const SoundRun&) const = default;
};

std::ostream& operator<<(std::ostream& out, const SoundRun& run) {
    return out << "{" << run.first << ", " << run.frames << "}";
}

// A player of the test sound under the manual clock, with the speaker attached, writing to
// out.raw.
class DesktopSpeakerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        env.set("SDL_AUDIODRIVER", "disk");
        env.set("SDL_DISKAUDIOFILE", output);
        writeSound(folder / "sound.caf");
        NSErrorPtr error;
        speaker = DesktopSpeaker::open(&error);
        ASSERT_TRUE(speaker) << error->localizedDescription();
        Speaker::attach(speaker);
        player = AVAudioPlayer::initWithContentsOfURL(folder / "sound.caf");
        ASSERT_TRUE(player);
    }
    void TearDown() override {
        Speaker::attach(nullptr);
        player.reset();
        speaker.reset();
    }

    // What the device played so far, in frames (left, right).
    std::vector<std::pair<int16_t, int16_t>> played() const {
        std::ifstream in(output, std::ios::binary);
        std::vector<std::pair<int16_t, int16_t>> frames;
        int16_t pair[2];
        while (in.read(reinterpret_cast<char*>(pair), sizeof pair))
            frames.emplace_back(pair[0], pair[1]);
        return frames;
    }
    // Waits until the device has played `more` frames beyond `from` (at most a minute).
    bool waitForFrames(size_t from, size_t more) const {
        for (int i = 0; i < 6000; ++i) {
            if (played().size() >= from + more)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    // Waits until the test sound has begun to play after `from` frames; the frame it began at.
    std::optional<size_t> waitForSound(size_t from) const {
        for (int i = 0; i < 6000; ++i) {
            auto frames = played();
            for (size_t at = from; at < frames.size(); ++at)
                if (frames[at].first != 0)
                    return at;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return std::nullopt;
    }
    // The stretches of the test sound in what was played, silence and jumps cutting them.
    std::vector<SoundRun> runs() const {
        std::vector<SoundRun> found;
        int previous = -2;
        for (auto [left, right] : played()) {
            if (left == 0 && right == 0) {
                previous = -2;
                continue;
            }
            const int n = (right - 1) * 32000 + left - 1;
            if (n == previous + 1)
                ++found.back().frames;
            else
                found.push_back({n, 1});
            previous = n;
        }
        return found;
    }

    ManualClockScope time;
    ScopedEnvironment env;
    TemporaryFolder folder;
    const std::string output = folder / "out.raw";
    std::shared_ptr<DesktopSpeaker> speaker;
    std::shared_ptr<AVAudioPlayer> player;
};

TEST_F(DesktopSpeakerTest, TheSoundPlaysFromThePlayersTimeToItsEnd) {
    player->setCurrentTime(4.0);
    player->play();
    auto began = waitForSound(0);
    ASSERT_TRUE(began);
    // The last second of the sound, then silence.
    ASSERT_TRUE(waitForFrames(*began, Speaker::kSampleRate + 4096));
    EXPECT_EQ(runs(), (std::vector<SoundRun>{{4 * Speaker::kSampleRate, Speaker::kSampleRate}}));
}

TEST_F(DesktopSpeakerTest, PauseSilencesItAndPlayGoesOnFromThePlayersTime) {
    player->play();
    auto began = waitForSound(0);
    ASSERT_TRUE(began);
    time.advance(1.0);
    player->pause();
    const size_t paused = played().size();
    ASSERT_TRUE(waitForFrames(paused, 8192));  // silence
    // Played on from 1.0 s, the player's time, wherever the device had got to.
    player->play();
    auto resumed = waitForSound(paused + 8192);
    ASSERT_TRUE(resumed);
    ASSERT_TRUE(waitForFrames(*resumed, 2048));
    player->setCurrentTime(3.0);
    auto jumped = played().size();
    ASSERT_TRUE(waitForFrames(jumped, 8192));
    player->stop();
    auto found = runs();
    ASSERT_EQ(found.size(), 3u) << ::testing::PrintToString(found);
    EXPECT_EQ(found[0].first, 0);
    EXPECT_LT(found[0].frames, kSoundFrames);
    EXPECT_EQ(found[1].first, Speaker::kSampleRate);
    EXPECT_EQ(found[2].first, 3 * Speaker::kSampleRate);
    // Stopped: silence again.
    const size_t stopped = played().size();
    ASSERT_TRUE(waitForFrames(stopped, 8192));
    EXPECT_EQ(runs().size(), 3u);
}

TEST_F(DesktopSpeakerTest, VoicesAtOnceAreMixedAndHeldWithinSixteenBits) {
    // One second each of a quiet and a loud constant, started together.
    auto quiet = std::make_shared<const Speaker::Samples>(2 * Speaker::kSampleRate, 1000);
    auto loud = std::make_shared<const Speaker::Samples>(2 * Speaker::kSampleRate, 32000);
    const size_t before = played().size();
    speaker->start(quiet, 0);
    speaker->start(loud, 0);
    ASSERT_TRUE(waitForFrames(before, 2 * Speaker::kSampleRate));
    size_t both = 0, one = 0;
    for (auto [left, right] : played()) {
        EXPECT_EQ(left, right);
        if (left == 32767)
            ++both;
        else if (left == 1000 || left == 32000)
            ++one;
        else
            EXPECT_EQ(left, 0);
    }
    // Each voice sounds one second; between the two starts the device may have played a buffer
    // (1024 frames) of the first alone, and as long of the second alone at the end.
    EXPECT_EQ(2 * both + one, 2u * Speaker::kSampleRate) << both << " and " << one;
    EXPECT_LE(one, 2048u);
}

TEST(DesktopSpeakerDeviceTest, WithoutAnAudioDeviceThereIsNoSpeaker) {
    ScopedEnvironment env;
    env.set("SDL_AUDIODRIVER", "no-such-driver");
    NSErrorPtr error;
    EXPECT_FALSE(DesktopSpeaker::open(&error));
    ASSERT_TRUE(error);
    EXPECT_NE(error->localizedDescription().find("There is no audio output"), std::string::npos);
}

}  // namespace
