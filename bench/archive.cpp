// The frame archive of a recording: archiving the frame list at the stop, and reading it back
// (from memory and from a file) when a recording is opened. Frames are 10.5 KB, as the
// recording screen's JPEG grabs are; the argument is the number of frames (3600 is 60 s).
// Reading back allocates every frame anew, so on a heap that has just given its memory back to
// the system the first touch of those pages weighs more than the reading itself.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "platform/Foundation/NSKeyedArchiver.h"

namespace {

constexpr size_t kFrameBytes = 10752;

Value frameList(int64_t count) {
    std::mt19937 random(42);
    ValueArray frames;
    frames.reserve(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i) {
        Data frame(kFrameBytes);
        for (uint8_t& b : frame) b = static_cast<uint8_t>(random());
        frames.emplace_back(std::move(frame));
    }
    return Value(std::move(frames));
}

void setBytes(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0) *
                            static_cast<int64_t>(kFrameBytes));
}

void BM_Archive(benchmark::State& state) {
    const Value frames = frameList(state.range(0));
    for (auto _ : state) {
        Data archive = NSKeyedArchiver::archivedDataWithRootObject(frames);
        benchmark::DoNotOptimize(archive.data());
    }
    setBytes(state);
}

void BM_Unarchive(benchmark::State& state) {
    const Data archive = NSKeyedArchiver::archivedDataWithRootObject(frameList(state.range(0)));
    for (auto _ : state) {
        auto frames = NSKeyedUnarchiver::unarchiveObjectWithData(archive);
        if (!frames || frames->arrayRef().size() != static_cast<size_t>(state.range(0)))
            state.SkipWithError("the archive did not read back");
        benchmark::DoNotOptimize(frames);
    }
    setBytes(state);
}

// Opening a recording: the file is in the page cache, as it is right after the stop.
void BM_UnarchiveFile(benchmark::State& state) {
    const Data archive = NSKeyedArchiver::archivedDataWithRootObject(frameList(state.range(0)));
    const auto path =
        std::filesystem::temp_directory_path() / ("bench-archive-" + std::to_string(::getpid()));
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(archive.data()),
                  static_cast<std::streamsize>(archive.size()));
    }
    for (auto _ : state) {
        auto frames = NSKeyedUnarchiver::unarchiveObjectWithFile(path.string());
        if (!frames || frames->arrayRef().size() != static_cast<size_t>(state.range(0)))
            state.SkipWithError("the file did not read back");
        benchmark::DoNotOptimize(frames);
    }
    std::filesystem::remove(path);
    setBytes(state);
}

}  // namespace

BENCHMARK(BM_Archive)->Arg(600)->Arg(3600)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Unarchive)->Arg(600)->Arg(3600)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnarchiveFile)->Arg(600)->Arg(3600)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
