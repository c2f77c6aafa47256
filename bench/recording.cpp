// Whole-job measure of the recording screen in this process, as the application runs it: the
// camera preview composed at every refresh, the capture thread grabbing and encoding, then the
// stop. For each length given (seconds; default 10 and 60) it prints the frames captured and
// their rate, the time of the stop branch, and how much the process grew while recording
// against the JPEG bytes it keeps.
//
//   bench_recording [SECONDS ...]

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/LaunchedApplication.h"
#include "platform/Device/DeviceHome.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSKeyedArchiver.h"

namespace {

long residentBytes() {
    long pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<double> lengths;
    for (int i = 1; i < argc; ++i) lengths.push_back(std::atof(argv[i]));
    if (lengths.empty())
        lengths = {10, 60};

    auto launched = LaunchedApplication::launch();
    if (!launched)
        return 1;
    auto& controller = launched->controller;
    auto& application = launched->application;
    runFor(1.0);  // the camera's first pictures

    std::printf("%8s %8s %10s %10s %12s %14s %14s\n", "seconds", "frames", "frames/s", "stop (s)",
                "grew (MB)", "JPEG (MB)", "archive file");
    for (double length : lengths) {
        long before = residentBytes();
        controller->buttonPressed();
        runFor(length);
        long grown = residentBytes() - before;
        auto start = std::chrono::steady_clock::now();
        controller->buttonPressed();
        double stop =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

        // The newest archive holds this recording's frames.
        std::string newest;
        for (int n = 1;; ++n) {
            char name[32];
            std::snprintf(name, sizeof name, "/Video_%04d", n);
            if (!NSFileManager::defaultManager().fileExistsAtPath(DeviceHome::documents() + name))
                break;
            newest = DeviceHome::documents() + name;
        }
        auto frames = NSKeyedUnarchiver::unarchiveObjectWithFile(newest);
        size_t count = frames ? frames->arrayRef().size() : 0;
        double jpegBytes = 0;
        if (frames)
            for (const Value& frame : frames->arrayRef()) jpegBytes += frame.data().size();
        std::printf("%8.1f %8zu %10.2f %10.3f %12.1f %14.1f %14s\n", length, count, count / length,
                    stop, grown / 1e6, jpegBytes / 1e6,
                    std::filesystem::path(newest).filename().c_str());
        runFor(0.5);
    }
    application->terminate();
    std::filesystem::remove_all(launched->home);
    return 0;
}
