// CTest labels: threads

#include "platform/Device/Microphone.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "tests/support/NoNewThreads.h"
#include "tests/support/RunLoopTesting.h"

namespace {

constexpr NSTimeInterval kPatience = 20.0;

// Collects what the microphone delivers, for the test thread to wait on.
class Recording {
  public:
    Microphone::Consumer consumer() {
        return [this](const int16_t* samples, size_t frames) {
            std::lock_guard lock(mutex_);
            samples_.insert(samples_.end(), samples, samples + frames * Microphone::kChannels);
            arrived_.notify_all();
        };
    }
    // Waits (real time) until at least `frames` frames came; false if they did not.
    bool waitForFrames(size_t frames, NSTimeInterval timeout) {
        std::unique_lock lock(mutex_);
        return arrived_.wait_for(lock, std::chrono::duration<double>(timeout),
                                 [&] { return samples_.size() >= frames * Microphone::kChannels; });
    }
    std::vector<int16_t> samples() {
        std::lock_guard lock(mutex_);
        return samples_;
    }
    size_t frames() { return samples().size() / Microphone::kChannels; }

  private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<int16_t> samples_;
};

// The microphone of `input`, delivering to `recording`; nullptr when it cannot open or start.
std::unique_ptr<Microphone> startMicrophone(const std::string& input, Recording& recording,
                                            NSErrorPtr* error = nullptr) {
    auto microphone = Microphone::open(input, error);
    if (!microphone || !microphone->start(recording.consumer(), error))
        return nullptr;
    return microphone;
}

TEST(MicrophoneTest, MonoToneArrivesAsStereoWithBothChannelsEqual) {
    Recording recording;
    NSErrorPtr error;
    // 441 Hz at 44100 Hz: one period every 100 frames.
    auto microphone =
        startMicrophone("lavfi:sine=frequency=441:sample_rate=44100", recording, &error);
    ASSERT_NE(microphone, nullptr) << error->localizedDescription();
    ASSERT_TRUE(recording.waitForFrames(2000, kPatience));
    microphone.reset();
    std::vector<int16_t> s = recording.samples();
    int16_t peak = 0;
    for (size_t f = 0; f + 100 < s.size() / 2; ++f) {
        ASSERT_EQ(s[2 * f], s[2 * f + 1]) << f;
        EXPECT_NEAR(s[2 * f], s[2 * (f + 100)], 2) << f;
        peak = std::max<int16_t>(peak, static_cast<int16_t>(std::abs(s[2 * f])));
    }
    EXPECT_GT(peak, 1000);
}

TEST(MicrophoneTest, GeneratedSoundIsPacedByTheClockAndResampledTo44100) {
    ManualClockScope time;
    Recording recording;
    // A source at 8000 Hz; what comes out must count 44100 frames per second of the clock.
    auto microphone = startMicrophone("lavfi:sine=frequency=400:sample_rate=8000", recording);
    ASSERT_NE(microphone, nullptr);
    time.clock().advance(0.5);
    ASSERT_TRUE(recording.waitForFrames(22050 - 6000, kPatience));
    // A buffer of the source ahead of the clock at most, and nothing more while it stands still.
    EXPECT_FALSE(recording.waitForFrames(22050 + 6000, 0.2));
    EXPECT_GE(recording.frames(), 22050u - 6000);
}

TEST(MicrophoneTest, NothingArrivesAfterDestruction) {
    Recording recording;
    auto microphone = startMicrophone("lavfi:sine", recording);
    ASSERT_NE(microphone, nullptr);
    ASSERT_TRUE(recording.waitForFrames(1, kPatience));
    microphone.reset();
    size_t frames = recording.frames();
    EXPECT_FALSE(recording.waitForFrames(frames + 1, 0.1));
}

TEST(MicrophoneOpenTest, InputsWithoutSoundFailWithAReason) {
    struct Case {
        const char* input;
        const char* reason;
    };
    for (Case c : {Case{"none", "The phone has no microphone."},
                   Case{"/nonexistent/sound.caf", "No such file or directory"},
                   Case{"lavfi:testsrc2", "it has no sound"}}) {
        NSErrorPtr error;
        EXPECT_EQ(Microphone::open(c.input, &error), nullptr) << c.input;
        ASSERT_NE(error, nullptr) << c.input;
        EXPECT_NE(error->localizedDescription().find(c.reason), std::string::npos)
            << c.input << ": " << error->localizedDescription();
    }
}

TEST(MicrophoneOpenTest, AMicrophoneWhoseThreadCannotStartDeliversNothingAndSaysWhy) {
    Recording recording;
    auto microphone = Microphone::open("lavfi:sine");
    ASSERT_NE(microphone, nullptr);
    NSErrorPtr error;
    {
        NoNewThreads noThreads;
        EXPECT_FALSE(microphone->start(recording.consumer(), &error));
    }
    ASSERT_NE(error, nullptr);
    EXPECT_NE(error->localizedDescription().find("no thread can start"), std::string::npos)
        << error->localizedDescription();
    EXPECT_FALSE(recording.waitForFrames(1, 0.1));
    // A later start, with threads to be had, delivers.
    ASSERT_TRUE(microphone->start(recording.consumer()));
    EXPECT_TRUE(recording.waitForFrames(1, kPatience));
}

}  // namespace
