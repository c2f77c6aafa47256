// What a still screen costs: the application runs in this process with its screen refresh, as
// it does on the phone, and sits on each screen a person leaves standing. For each screen it
// prints the CPU time the process used (getrusage: user and system, all threads) over the
// measured seconds, as a share of one core, and how many times the screen was composed.
//
//   bench_idle_screens [SECONDS]      (default 10)
//
// The camera is the phone's setting (TILVEX_CAMERA; the default is a moving test pattern, whose
// preview changes at every camera picture). With a still camera, e.g.
// TILVEX_CAMERA=lavfi:color=c=0x336699:size=640x480:rate=30, the recording screen is still too.

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/LaunchedApplication.h"
#include "platform/Automation/AutomationDriver.h"
#include "platform/Device/Screen.h"
#include "platform/Foundation/NSRunLoop.h"
#include "platform/MessageUI/MFMailComposeViewController.h"
#include "platform/UIKit/UIAlertView.h"

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs the main loop for `seconds` and prints what the process spent meanwhile.
void measure(const char* screen, double seconds) {
    runFor(1.0);  // what the last step started settles (fades, the camera's first pictures)
    int compositions = 0;
    CGImageRef shown = Screen::mainScreen().lastComposed();
    // The compositions are counted at every refresh by a link of its own.
    auto counter = CADisplayLink::displayLinkWithTarget([&](CADisplayLink&) {
        CGImageRef now = Screen::mainScreen().lastComposed();
        compositions += now != shown;
        shown = now;
    });
    counter->addToRunLoop(NSRunLoop::mainRunLoop());
    const double before = cpuSeconds();
    runFor(seconds);
    const double used = cpuSeconds() - before;
    counter->invalidate();
    std::printf("%-38s %10.3f %12.1f %14d\n", screen, used, 100 * used / seconds, compositions);
    std::fflush(stdout);
}

void check(const AutomationResult& result, const char* step) {
    if (result)
        return;
    std::fprintf(stderr, "%s: %s\n", step, result.failure().c_str());
    std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10;
    auto launched = LaunchedApplication::launch();
    if (!launched)
        return 1;
    const DeviceSettings& settings = launched->settings;
    auto& controller = launched->controller;
    auto& application = launched->application;
    AutomationDriver driver(application);

    std::printf("camera: %s\n", settings.camera.empty() ? "(default)" : settings.camera.c_str());
    std::printf("%-38s %10s %12s %14s\n", "screen", "CPU (s)", "% of a core", "compositions");
    measure("recording screen, not recording", seconds);
    application->resignActive();
    measure("screen off over the recording screen", seconds);
    application->becomeActive();
    for (int i = 0; i < 10; ++i) {
        controller->buttonPressed();
        runFor(0.4);
        controller->buttonPressed();
        runFor(0.2);
    }
    check(driver.tap("albumButton"), "the album");
    measure("album, 10 rows", seconds);
    check(driver.selectRow(0), "the player");
    runFor(3.0);  // the recording plays to its end, the bars fade
    measure("player, stopped", seconds);
    auto alert = UIAlertView::initWithTitle("Error", "A still alert", {}, "OK", {});
    alert->show();
    measure("alert", seconds);
    alert->dismissWithClickedButtonIndex(0, false);
    auto presenter = std::make_shared<UIViewController>();
    auto composer = MFMailComposeViewController::init();
    presenter->presentModalViewController(composer, false);
    measure("mail composer", seconds);
    application->resignActive();
    measure("screen off over the mail composer", seconds);
    application->becomeActive();
    presenter->dismissModalViewControllerAnimated(false);

    application->terminate();
    std::filesystem::remove_all(launched->home);
    // The player stays up with its timers on the main loop; the objects that outlive main
    // would be torn down in no set order, and that is not what is measured here.
    std::fflush(nullptr);
    std::_Exit(0);
}
