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

#include "app/AppClasses.h"
#include "app/Classes/TilvexAppDelegate.h"
#include "app/Classes/TilvexViewController.h"
#include "platform/Device/DeviceHome.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSKeyedArchiver.h"
#include "platform/Foundation/NSRunLoop.h"
#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UIWindow.h"

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

void runFor(double seconds) {
    NSRunLoop::mainRunLoop()->runUntilDate(NSDate::dateWithTimeIntervalSinceNow(seconds));
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<double> lengths;
    for (int i = 1; i < argc; ++i) lengths.push_back(std::atof(argv[i]));
    if (lengths.empty())
        lengths = {10, 60};

    std::string home =
        (std::filesystem::temp_directory_path() / ("tilvex-bench-" + std::to_string(getpid())))
            .string();
    if (!DeviceHome::prepare(home))
        return 1;
    registerAppClasses();

    auto delegate = std::make_shared<TilvexAppDelegate>();
    auto window = UIWindow::initWithFrame(CGRectMake(0, 0, 320, 480));
    auto controller = std::make_shared<TilvexViewController>();
    controller->setNibName("TilvexViewController");
    delegate->setWindow(window);
    delegate->setViewController(controller);
    auto application = UIApplication::sharedApplication();
    application->setDelegate(delegate);
    application->startScreenRefresh();
    application->finishLaunching();
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
    std::filesystem::remove_all(home);
    return 0;
}
