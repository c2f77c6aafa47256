// The player's costs: opening a recording as the album does it (reading the whole frame archive,
// then making the player with its audio player) and one frame tick (decoding the JPEG frame on
// screen into the image view). Frames are 320x480 screen-like pictures at JPEG quality 0.5; the
// argument of the opening is the number of frames (3600 is 60 s at 60 frames per second).
//
//   bench_player [Google Benchmark options]

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/Classes/VideoPlayerViewController.h"
#include "bench/ScreenGrab.h"
#include "platform/AVFoundation/AVAudioRecorder.h"
#include "platform/Device/DeviceHome.h"
#include "platform/Device/Microphone.h"
#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSKeyedArchiver.h"

namespace fs = std::filesystem;

namespace {

constexpr int kDistinctFrames = 60;

Data frameJPEG(int index) {
    return screenGrabJPEG(index, true);
}

ValueArray frames(int count) {
    ValueArray distinct;
    for (int i = 0; i < kDistinctFrames; ++i) distinct.emplace_back(frameJPEG(i));
    ValueArray all;
    for (int i = 0; i < count; ++i)
        all.push_back(distinct[static_cast<size_t>(i) % distinct.size()]);
    return all;
}

// A home with one recording's archive and sound file; time stands still under a manual clock,
// so the sound never ends while a benchmark runs.
struct Recording {
    explicit Recording(int frameCount) {
        home = (fs::temp_directory_path() / ("tilvex-bench-player-" + std::to_string(getpid())))
                   .string();
        DeviceHome::prepare(home);
        clock = std::make_shared<ManualClock>();
        Clock::install(clock);
        Microphone::setDeviceInput("lavfi:sine=frequency=440:sample_rate=44100");
        sound = DeviceHome::documents() + "/Audio_0001.caf";
        auto recorder = AVAudioRecorder::initWithURL(sound, Value());
        recorder->record();
        clock->advance(frameCount / 60.0);
        recorder->stop();
        archive = DeviceHome::documents() + "/Video_0001";
        NSData::writeToFile(NSKeyedArchiver::archivedDataWithRootObject(Value(frames(frameCount))),
                            archive, true);
    }
    ~Recording() {
        Clock::install(nullptr);
        NSFileManager::defaultManager().removeItemAtPath(home);
    }
    std::string home, sound, archive;
    std::shared_ptr<ManualClock> clock;
};

// What selecting a row does before the push: the whole archive read, the player made.
void BM_OpenRecording(benchmark::State& state) {
    Recording recording(static_cast<int>(state.range(0)));
    const auto bytes = fs::file_size(recording.archive);
    {
        auto list = NSKeyedUnarchiver::unarchiveObjectWithFile(recording.archive);
        auto player =
            list ? VideoPlayerViewController::initWithImages(list->arrayRef(), recording.sound)
                 : nullptr;
        if (!player || !player->player() ||
            player->images().size() != static_cast<size_t>(state.range(0))) {
            state.SkipWithError("the recording does not open whole");
            return;
        }
        state.counters["sound_s"] = player->player()->duration();
    }
    for (auto _ : state) {
        auto list = NSKeyedUnarchiver::unarchiveObjectWithFile(recording.archive);
        auto player = VideoPlayerViewController::initWithImages(list->arrayRef(), recording.sound);
        benchmark::DoNotOptimize(player.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
    state.counters["archive_MB"] = static_cast<double>(bytes) / 1e6;
}
// 3600 first: the first large blocks a process frees go back to the system until the allocator
// raises its threshold, which slows whichever run comes first.
BENCHMARK(BM_OpenRecording)->Arg(3600)->Arg(600)->Unit(benchmark::kMillisecond);

// One tick of the frame timer while the sound plays: the next frame decoded into the image
// view.
void BM_FrameTick(benchmark::State& state) {
    Recording recording(600);
    auto list = NSKeyedUnarchiver::unarchiveObjectWithFile(recording.archive);
    auto player = VideoPlayerViewController::initWithImages(list->arrayRef(), recording.sound);
    player->view();  // set-up and play
    const int last = static_cast<int>(player->images().size()) - 1;
    for (auto _ : state) {
        player->changeImage();
        if (player->frameIndexOnScreen() == last) {
            state.PauseTiming();
            // Back to frame 0, still playing.
            player->audioPlayerDidFinishPlaying(*player->player(), true);
            player->player()->play();
            state.ResumeTiming();
        }
    }
    player->viewWillDisappear(false);
}
BENCHMARK(BM_FrameTick)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
