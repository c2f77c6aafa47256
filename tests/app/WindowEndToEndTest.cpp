// CTest labels: threads

// The application in its desktop window, used by hand: a virtual X display (Xvfb) of the test's
// own, the mouse and the keyboard through the XTest extension, the window's pixels read back and
// compared with the compositor's picture of the same moment.
//
// The phone runs in a child process, as the program runs it (settings, home folder, main loop,
// window and speaker); a "person" thread in that child looks at the window and clicks. The
// parent checks what the run left in the home folder, what the speaker played and what the
// program said.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/AppClasses.h"
#include "platform/Automation/AutomationDriver.h"
#include "platform/Desktop/DesktopSession.h"
#include "platform/Device/DeviceHome.h"
#include "platform/Device/DeviceSettings.h"
#include "platform/Device/Microphone.h"
#include "platform/Device/Screen.h"
#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSDate.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSNotificationCenter.h"
#include "platform/Foundation/NSRunLoop.h"
#include "platform/MessageUI/MFMailComposeViewController.h"
#include "platform/UIKit/UIActionSheet.h"
#include "platform/UIKit/UIApplicationMain.h"
#include "platform/UIKit/UISlider.h"
#include "platform/UIKit/UIViewController.h"
#include "tests/app/StoredRecordings.h"
#include "tests/app/TilvexProgram.h"
#include "tests/app/XDisplay.h"
#include "tests/support/MailMessageReader.h"
#include "tests/support/TemporaryFolder.h"

namespace {

using namespace std::chrono_literals;

// An Xvfb server on a display number it picks itself, for the life of the object.
class VirtualDisplay {
  public:
    // `screen` is Xvfb's WIDTHxHEIGHTxDEPTH.
    explicit VirtualDisplay(const std::string& screen = "1280x1024x24") {
        int ready[2];
        if (::pipe(ready) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            const std::string fd = std::to_string(ready[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
                     "-nolisten", "tcp", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(ready[1]);
        // Xvfb writes the display number once it takes connections, and the newline in a write
        // of its own: the pipe stays open until that newline, or Xvfb dies of the closed pipe.
        std::string text;
        char c;
        while (pid_ > 0 && ::read(ready[0], &c, 1) == 1 && c != '\n') text += c;
        ::close(ready[0]);
        if (!text.empty())
            name_ = ":" + text;
    }
    ~VirtualDisplay() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    // ":N", or "" when Xvfb did not start.
    const std::string& name() const { return name_; }
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    std::string name_;
};

// What the child tells the parent, one line each: "fail: ..." or "row: TITLE".
class Report {
  public:
    explicit Report(int fd) : fd_(fd) {}
    void line(const std::string& text) const {
        std::string out = text + "\n";
        [[maybe_unused]] ssize_t written = ::write(fd_, out.data(), out.size());
    }
    void fail(const std::string& what) const { line("fail: " + what); }

  private:
    int fd_;
};

// What the application announced, counted on the main thread as it happens.
struct Announced {
    std::atomic<int> becameActive{0};
    std::atomic<bool> terminating{false};
};

// How the window is lost from outside while the application runs.
enum class WindowLoss { kDestroyed, kClientKilled, kDisplayEnded };

// A logout as the program meets it: the X server ends and a termination signal comes, one
// right after the other, `gap` apart.
struct SessionEnd {
    bool duringARecording;  // else on the album screen, a recording stored before
    bool displayFirst;      // else the signal first
    int signal;
    std::chrono::milliseconds gap{0};
};

// What the person says once the session's end begins: the program has seconds from then.
constexpr const char* kSessionEnds = "the session ends";

// The person at the desktop: looks at the window, moves the mouse, presses keys. Reads the
// application's state only through the main run loop, as the automation driver does.
class Person {
  public:
    using Steps = std::function<void(Person&)>;

    // `server` is the display's Xvfb.
    Person(std::unique_ptr<XDisplay> x, const Report& report,
           std::shared_ptr<const Announced> announced, pid_t server)
        : report_(report), x_(std::move(x)), announced_(std::move(announced)), server_(server) {}

    void act(const Steps& steps) {
        if (!x_ || !x_->findWindow(kTitle, 30s)) {
            report_.fail(std::string("no window titled \"") + kTitle + "\" on the display");
            onMain([] { UIApplication::sharedApplication()->terminate(); });
            return;
        }
        steps(*this);
        // The phone's termination key, whatever happened, while the display is there.
        if (x_)
            x_->tapKey("q");
    }

    bool hasScaleTwo() {
        if (x_->width() == 640 && x_->height() == 960)
            return true;
        report_.fail("the window is " + std::to_string(x_->width()) + "x" +
                     std::to_string(x_->height()) + ", not 640x960 (scale 2)");
        return false;
    }

    // Records a while, then the window is lost; the application is to end by itself.
    void recordAndLoseTheWindow(WindowLoss loss) {
        if (!startRecording())
            return;
        switch (loss) {
            case WindowLoss::kDestroyed:
                x_->destroyWindow();
                break;
            case WindowLoss::kClientKilled:
                x_->killClient();
                break;
            case WindowLoss::kDisplayEnded:
                // This connection goes first: it would break too.
                x_.reset();
                ::kill(server_, SIGTERM);
                break;
        }
        x_.reset();
        for (auto until = std::chrono::steady_clock::now() + 30s;
             std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(50ms)) {
            if (announced_->terminating)
                return;
        }
        report_.fail("the application did not terminate when its window was lost");
        onMain([] { UIApplication::sharedApplication()->terminate(); });
    }

    // The session ends (the display and a signal, as `end` says) on the album screen or during
    // a recording; the application is to store the recording and the program to end by itself.
    void endTheSession(const SessionEnd& end) {
        if (end.duringARecording ? !startRecording() : !openTheAlbumOnARecording())
            return;
        report_.line(kSessionEnds);
        // This connection goes first: it would break too.
        x_.reset();
        auto endTheDisplay = [this] { ::kill(server_, SIGTERM); };
        auto sendTheSignal = [&end] { ::kill(::getpid(), end.signal); };
        end.displayFirst ? endTheDisplay() : sendTheSignal();
        std::this_thread::sleep_for(end.gap);
        end.displayFirst ? sendTheSignal() : endTheDisplay();
    }

    // Records a moment, stores it and opens the album, which shows its row.
    bool openTheAlbumOnARecording() {
        if (!startRecording())
            return false;
        click(centreOf("button"));
        if (!waitFor("button", "title", "Record") || !waitFor("albumButton", "enabled", "YES"))
            return false;
        click(centreOf("albumButton"));
        return waitFor("table", "rows", "1");
    }

    // Records, presses the home button, and comes back once with a click (on the record button,
    // which the click must not press) and once with a key.
    void recordPressHomeAndComeBack() {
        if (!startRecording())
            return;
        x_->tapKey("h");
        if (!waitFor("button", "title", "Record") || !showsTheScreenOff("after the home button"))
            return;
        click(centreOf("button"));
        if (!waitForBecameActive(1) || !showsTheScreen("the recording screen after a click") ||
            !waitFor("button", "title", "Record"))
            return;
        x_->tapKey("h");
        if (!showsTheScreenOff("after the home button again"))
            return;
        x_->tapKey("space");
        if (!waitForBecameActive(2) || !showsTheScreen("the recording screen after a key") ||
            !waitFor("button", "title", "Record"))
            return;
    }

    void recordBrowsePlayAndSeek() {
        if (!hasScaleTwo())
            return;
        if (!waitFor("button", "title", "Record") || !showsTheScreen("the recording screen"))
            return;

        click(centreOf("button"));
        if (!waitFor("button", "title", "Stop") || !showsTheScreen("recording"))
            return;
        std::this_thread::sleep_for(3s);
        click(centreOf("button"));
        if (!waitFor("button", "title", "Record") || !waitFor("albumButton", "enabled", "YES") ||
            !showsTheScreen("the recording stored"))
            return;

        click(centreOf("albumButton"));
        if (!waitFor("table", "rows", "1") || !showsTheScreen("the album"))
            return;
        report_.line("row: " + read("row:0", "text").value_or("?"));

        click(centreOf("row:0"));
        // The bars fade 2 s after playback starts; a tap on the picture brings them back.
        if (!waitFor("seekSlider", "hidden", "NO") || !waitFor("topBar", "alpha", "0") ||
            !showsTheScreen("the player, bars faded"))
            return;
        click(centreOf("imageView"));
        if (!waitFor("topBar", "alpha", "1") || !showsTheScreen("the player, bars back"))
            return;

        // A drag of the slider's thumb: the value follows the finger while it moves.
        const CGRect slider = frameOf("seekSlider");
        const double y = slider.origin.y + slider.size.height / 2;
        const double maximum = std::stod(readOnMain([] {
            auto s = std::dynamic_pointer_cast<UISlider>(driver().findView("seekSlider"));
            return s ? std::to_string(s->maximumValue()) : std::string("0");
        }));
        auto xAt = [&](double share) {
            return slider.origin.x + 12 + share * (slider.size.width - 24);
        };
        press({xAt(0), y});
        for (double share : {0.25, 0.5}) {
            move({xAt(share), y});
            if (!waitForSlider(share * maximum, 0.1 * maximum)) {
                release({xAt(share), y});
                return;
            }
        }
        release({xAt(0.5), y});
        if (!showsTheScreen("the player after the seek"))
            return;

        click({30, 42});  // the navigation bar's back button
        if (!waitForNone("seekSlider") || !waitFor("table", "rows", "1") ||
            !showsTheScreen("the album again"))
            return;
    }

    // Where touches land: a held button shows pressed, a double-click on "Videos" opens the
    // album only, and rows scrolled up leave the album's bar as it was.
    void pressDoubleClickAndScroll() {
        if (!hasScaleTwo() || !waitFor("albumButton", "enabled", "YES") ||
            !showsTheScreen("the recording screen"))
            return;
        // Held on Record, then dragged off it and let go there: shown pressed while held, and
        // no recording.
        const CGRect record = frameOf("button");
        const std::vector<uint32_t> unpressed = shownIn(record);
        const CGPoint onRecord = centreOf("button");
        press(onRecord);
        const bool shownPressed = waitForShownIn(
            record, [&](const std::vector<uint32_t>& now) { return now != unpressed; });
        release({onRecord.x, record.origin.y - 60});
        if (!shownPressed) {
            report_.fail("the Record button held down looks as before");
            return;
        }
        if (!waitForShownIn(record,
                            [&](const std::vector<uint32_t>& now) { return now == unpressed; })) {
            report_.fail("the Record button let go does not look as before");
            return;
        }
        if (!waitFor("button", "title", "Record"))
            return;

        // The second click lands where the album's rows come in.
        pointerTo(centreOf("albumButton"));
        for (bool down : {true, false, true, false}) {
            x_->pressButton(down);
            std::this_thread::sleep_for(40ms);
        }
        if (!waitFor("table", "rows", "12"))
            return;
        std::this_thread::sleep_for(1s);
        if (readOnMain([] { return driver().findView("seekSlider") ? "yes" : ""; }) == "yes") {
            report_.fail("a double-click on Videos opened a player");
            return;
        }
        if (!showsTheScreen("the album"))
            return;

        // A drag scrolls the rows up under the bar.
        const CGRect bar = CGRectMake(0, 20, Screen::kWidth, 44);
        const CGRect rows = CGRectMake(0, 64, Screen::kWidth, Screen::kHeight - 64);
        const std::vector<uint32_t> barBefore = shownIn(bar);
        const std::vector<uint32_t> rowsBefore = shownIn(rows);
        press({160, 400});
        for (double y : {380.0, 300.0, 200.0, 150.0}) move({160, y});
        release({160, 150});
        if (!waitForShownIn(rows,
                            [&](const std::vector<uint32_t>& now) { return now != rowsBefore; })) {
            report_.fail("the album's rows did not scroll");
            return;
        }
        if (!showsTheScreen("the album scrolled"))
            return;
        if (shownIn(bar) != barBefore)
            report_.fail("rows scrolled up show through the album's bar");
    }

    // The window's pixels over a rectangle of the screen (scale 2), row by row.
    std::vector<uint32_t> shownIn(const CGRect& rect) {
        const std::vector<uint32_t> all = x_->pixels();
        std::vector<uint32_t> inside;
        if (all.size() != 640u * 960u)
            return inside;
        for (int y = 2 * static_cast<int>(rect.origin.y);
             y < 2 * static_cast<int>(CGRectGetMaxY(rect)); ++y)
            for (int x = 2 * static_cast<int>(rect.origin.x);
                 x < 2 * static_cast<int>(CGRectGetMaxX(rect)); ++x)
                inside.push_back(all[static_cast<size_t>(y * 640 + x)]);
        return inside;
    }
    bool waitForShownIn(const CGRect& rect,
                        const std::function<bool(const std::vector<uint32_t>&)>& wanted) {
        for (auto until = std::chrono::steady_clock::now() + 10s;
             std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(30ms)) {
            if (wanted(shownIn(rect)))
                return true;
        }
        return false;
    }

    bool startRecording() {
        if (!hasScaleTwo() || !waitFor("button", "title", "Record"))
            return false;
        click(centreOf("button"));
        if (!waitFor("button", "title", "Stop"))
            return false;
        std::this_thread::sleep_for(1s);
        return true;
    }

    bool waitForBecameActive(int times) {
        for (auto until = std::chrono::steady_clock::now() + 30s;
             std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(50ms)) {
            if (announced_->becameActive == times)
                return true;
        }
        report_.fail("the application became active " +
                     std::to_string(announced_->becameActive.load()) + " times, not " +
                     std::to_string(times));
        return false;
    }

    // A recording sent by e-mail, its fields typed on the keyboard: the letters H and Q are
    // text there, Tab and a click move between fields, Backspace takes a letter back. Send does
    // nothing before a recipient is typed; Cc and Bcc take a row each once the Cc/Bcc row is
    // touched. The body runs past the screen: it follows the caret and a drag scrolls it. The
    // home button and the key that wakes the screen type nothing. A second composer is left up,
    // its To field taking typing, for Ctrl+Q.
    void mailSteps() {
        // Ctrl+Q ends the run where a field takes typing.
        if (!typeAndSendAMessage() || !openComposer()) {
            x_->tapKeyWithControl("q");
            return;
        }
        x_->typeText("q");
        waitForFields("q||||");
        // Termination while a field takes typing is Ctrl+Q.
        x_->tapKeyWithControl("q");
    }
    bool typeAndSendAMessage() {
        if (!waitFor("button", "title", "Record"))
            return false;
        click(centreOf("button"));
        if (!waitFor("button", "title", "Stop"))
            return false;
        std::this_thread::sleep_for(2s);  // a recording with frames and sound to encode
        click(centreOf("button"));
        if (!waitFor("albumButton", "enabled", "YES"))
            return false;
        click(centreOf("albumButton"));
        if (!waitFor("table", "rows", "1"))
            return false;
        click(centreOf("row:0"));
        if (!waitFor("seekSlider", "hidden", "NO") || !openComposer())
            return false;
        click({280, 42});  // Send, disabled: the composer stays and takes the typing after it
        click({200, 86});  // the To line
        x_->typeText("hq@example.invalid");
        x_->tapKey("Tab");
        x_->typeText("quinn@example.invalid");
        if (!waitForFields("hq@example.invalid|quinn@example.invalid|||"))
            return false;
        click({200, 174});  // the Bcc line, below Cc once the row split
        x_->typeText("bo@example.invalid");
        click({200, 218});  // the Subject line
        x_->typeText("Hush, quiet Hq");
        x_->tapKey("Tab");
        x_->typeText("hello qx");
        x_->tapKey("BackSpace");
        x_->tapKey("h");
        x_->tapKey("q");
        const std::string fields =
            "hq@example.invalid|quinn@example.invalid|bo@example.invalid|Hush, quiet Hq|";
        std::string body = "hello qhq";
        if (!waitForFields(fields + body) || !showsTheScreen("the typed message"))
            return false;

        // Ctrl+H, then a key that wakes the screen: it types nothing; what comes after it does.
        for (const char* wake : {"space", "x"}) {
            x_->tapKeyWithControl("h");
            if (!showsTheScreenOff("after the home button in the composer"))
                return false;
            x_->tapKey(wake);
            if (!showsTheScreen("the composer after the screen woke"))
                return false;
            x_->tapKey("w");
            body += "w";
            if (!waitForFields(fields + body))
                return false;
        }

        // Lines past the bottom: the body follows the caret to the last.
        for (int i = 1; i <= 15; ++i) {
            x_->tapKey("Return");
            x_->typeText("line " + std::to_string(i));
            body += "\nline " + std::to_string(i);
        }
        if (!waitForFields(fields + body) || !waitForBodyScrolled(0) ||
            !showsTheScreen("the body followed to its last line"))
            return false;
        // A drag down by 100 points shows the text 100 points further up.
        press({160, 300});
        move({160, 350});
        move({160, 400});
        release({160, 400});
        if (!waitForBodyScrolled(-100) || !showsTheScreen("the body dragged"))
            return false;
        x_->typeText("!");
        body += "!";
        if (!waitForFields(fields + body) || !waitForBodyScrolled(0) ||
            !showsTheScreen("the body back at the caret"))
            return false;

        click({280, 42});  // Send
        return waitForComposer(false);
    }
    // The body scrolled `fromTheEnd` points from its end (0: the caret's line is the last in
    // view).
    bool waitForBodyScrolled(double fromTheEnd) {
        return waitForReadOnMain(
            "the body scrolled " + std::to_string(fromTheEnd) + " from its end",
            [] {
                auto composer = MFMailComposeViewController::visibleComposer();
                if (!composer)
                    return std::string("no composer");
                const double end = composer->bodyContentHeight() - composer->bodyRoomHeight();
                return end > 0 ? std::to_string(composer->bodyScrollOffset() - end)
                               : std::string("a body that fits");
            },
            std::to_string(fromTheEnd));
    }
    // What `read` reads on the main thread is `expected` within 30 s, else the test fails
    // naming `what` and what was read last.
    bool waitForReadOnMain(const std::string& what, const std::function<std::string()>& read,
                           const std::string& expected) {
        std::string now;
        for (auto until = std::chrono::steady_clock::now() + 30s;
             std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(50ms)) {
            if ((now = readOnMain(read)) == expected)
                return true;
        }
        report_.fail("expected " + what + ", found " + now);
        return false;
    }
    bool openComposer() {
        onMain([] { (void)driver().tap("exportButton"); });
        if (!waitForSheet())
            return false;
        onMain([] { (void)driver().pressSheetButton("Email"); });
        return waitForComposer(true);
    }
    bool waitForSheet() {
        for (auto until = std::chrono::steady_clock::now() + 30s;
             std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(50ms)) {
            if (!readOnMain([] { return UIActionSheet::topSheet() ? "yes" : ""; }).empty())
                return true;
        }
        report_.fail("expected the export sheet");
        return false;
    }
    bool waitForComposer(bool shown) {
        for (auto until = std::chrono::steady_clock::now() + 60s;
             std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(50ms)) {
            if (readOnMain([] {
                    return MFMailComposeViewController::visibleComposer() ? "yes" : "";
                }).empty() != shown)
                return true;
        }
        report_.fail(shown ? "expected the mail composer" : "expected the composer gone");
        return false;
    }
    // The composer's four fields, joined by "|".
    bool waitForFields(const std::string& expected) {
        return waitForReadOnMain(
            "the fields " + expected,
            [] {
                auto composer = MFMailComposeViewController::visibleComposer();
                if (!composer)
                    return std::string("no composer");
                using Field = MFMailComposeViewController::Field;
                return composer->text(Field::To) + "|" + composer->text(Field::Cc) + "|" +
                       composer->text(Field::Bcc) + "|" + composer->text(Field::Subject) + "|" +
                       composer->text(Field::Body);
            },
            expected);
    }

    // The stored recording opened in the player from the album, and "Save to Camera Roll"
    // chosen from its export menu (the menu's work is not the point: through the driver).
    bool saveTheRecordingToTheAlbum() {
        if (!hasScaleTwo() || !waitFor("albumButton", "enabled", "YES"))
            return false;
        click(centreOf("albumButton"));
        if (!waitFor("table", "rows", "1"))
            return false;
        click(centreOf("row:0"));
        if (!waitFor("seekSlider", "hidden", "NO"))
            return false;
        onMain([] { (void)driver().tap("exportButton"); });
        if (!waitForSheet())
            return false;
        const std::string refused =
            readOnMain([] { return driver().pressSheetButton("Save to Camera Roll").failure(); });
        if (!refused.empty()) {
            report_.fail(refused);
            return false;
        }
        return true;
    }

    // The bar's filled length in window pixels, read along its middle row: the pixels of the
    // bar's blue, which neither its grey track nor the grey picture behind has.
    static int filledLength(const std::vector<uint32_t>& shown, const CGRect& bar) {
        const int y = static_cast<int>((bar.origin.y + bar.size.height / 2) * 2);
        const int left = static_cast<int>(bar.origin.x * 2);
        const int right = static_cast<int>((bar.origin.x + bar.size.width) * 2);
        int filled = 0;
        for (int x = std::max(left, 0); x < std::min(right, 640); ++x) {
            const uint32_t p = shown[static_cast<size_t>(y * 640 + x)];
            const int red = static_cast<int>(p >> 16 & 0xff), blue = static_cast<int>(p & 0xff);
            if (blue - red > 60)
                ++filled;
        }
        return filled;
    }

    // Watches the window while the export runs: each filled length of the bar shorter than the
    // whole bar (the album's report fills it whole) is reported as "level: N", in the order
    // seen, until the panel is gone.
    void watchTheBarDuringTheExport() {
        if (!saveTheRecordingToTheAlbum())
            return;
        const CGRect bar = frameOf("progressView");
        const int whole = static_cast<int>(bar.size.width * 2);
        int last = -1;
        bool filledWhole = false;
        // The panel shows the bar until 1 s after the album's report; the reads here never wait
        // for the main thread.
        for (auto until = std::chrono::steady_clock::now() + 300s;
             std::chrono::steady_clock::now() < until && !filledWhole;
             std::this_thread::sleep_for(5ms)) {
            const std::vector<uint32_t> shown = x_->pixels();
            if (shown.size() != 640u * 960u)
                continue;
            const int filled = filledLength(shown, bar);
            filledWhole = filled >= whole;
            if (filled != last && !filledWhole)
                report_.line("level: " + std::to_string(filled));
            last = filled;
        }
        if (!filledWhole)
            report_.fail("the bar was never seen filled whole");
        // The album's report came; the panel goes.
        waitFor("progressPanel", "hidden", "YES");
    }

    // The encoder has written part of "temp.mov" under its temporary name.
    static bool writesTheMovie() {
        const std::string documents = DeviceHome::documents();
        const auto names = NSFileManager::defaultManager().contentsOfDirectoryAtPath(documents);
        for (const auto& name : names.value_or(std::vector<std::string>{})) {
            std::string forName;
            std::error_code error;
            if (NSData::isTemporaryFileName(name, &forName) && forName == "temp.mov" &&
                std::filesystem::file_size(documents + "/" + name, error) > 0 && !error)
                return true;
        }
        return false;
    }

    // Clicks the navigation bar's back button (which closes the player) and then its Done
    // (which closes the album) once the encoder has begun the movie, then waits for the album's
    // report.
    void closeThePlayerDuringTheExport() {
        if (!saveTheRecordingToTheAlbum())
            return;
        // The encoder writes the movie under a temporary name and renames it once whole; the
        // folder is watched, not the window, so that the clicks come at the same point whether
        // the window draws meanwhile or not.
        bool begun = false;
        for (auto until = std::chrono::steady_clock::now() + 60s;
             std::chrono::steady_clock::now() < until && !begun; std::this_thread::sleep_for(5ms))
            begun = writesTheMovie();
        if (!begun)
            report_.fail("the encoder was not seen writing the movie");
        click({30, 42});   // the back button
        click({290, 42});  // Done, where the album's is
        // The clicks went into the encoding: it was still running once they were handled.
        const std::string label = read("progressLabel", "text").value_or("no label");
        if (label != "Encoding...")
            report_.fail("the clicks were handled after the encoding (the label read " + label +
                         ")");
        // The album's report fills the bar and hides the panel 1 s later (with the player, when
        // it stayed).
        for (auto until = std::chrono::steady_clock::now() + 300s;
             std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(50ms)) {
            if (read("progressPanel", "hidden").value_or("YES") == "YES")
                return;
        }
        report_.fail("the export's panel stayed up");
    }

    // The window shows the phone's screen turned off: black but for one line of text across
    // its middle, clear of the window's sides.
    bool showsTheScreenOff(const std::string& when) {
        std::string seen = "nothing";
        for (auto until = std::chrono::steady_clock::now() + 20s;
             std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(30ms)) {
            const std::vector<uint32_t> shown = x_->pixels();
            if (shown.size() != 640u * 960u)
                continue;
            int top = 960, bottom = -1, left = 640, right = -1;
            size_t lit = 0;
            for (int y = 0; y < 960; ++y)
                for (int x = 0; x < 640; ++x)
                    if (shown[static_cast<size_t>(y * 640 + x)] != 0) {
                        ++lit;
                        top = std::min(top, y), bottom = std::max(bottom, y);
                        left = std::min(left, x), right = std::max(right, x);
                    }
            seen = std::to_string(lit) + " lit pixels in rows " + std::to_string(top) + " to " +
                   std::to_string(bottom) + ", columns " + std::to_string(left) + " to " +
                   std::to_string(right);
            if (lit >= 200 && top > 400 && bottom < 560 && bottom - top < 40 && left > 0 &&
                right < 639)
                return true;
        }
        report_.fail("the window did not show the screen turned off " + when + " (" + seen + ")");
        return false;
    }

    // The main run loop's answer to `question`.
    static std::string readOnMain(const std::function<std::string()>& question) {
        std::string answer;
        NSRunLoop::mainRunLoop()->postAndWait([&] { answer = question(); });
        return answer;
    }
    static void onMain(const std::function<void()>& work) { NSRunLoop::mainRunLoop()->post(work); }
    static AutomationDriver driver() {
        return AutomationDriver(UIApplication::sharedApplication());
    }

    std::optional<std::string> read(const std::string& name, const std::string& property) {
        std::optional<std::string> value;
        NSRunLoop::mainRunLoop()->postAndWait([&] {
            std::string error;
            value = driver().readProperty(name, property, &error);
        });
        return value;
    }
    bool waitFor(const std::string& name, const std::string& property, const std::string& value) {
        std::optional<std::string> now;
        for (auto until = std::chrono::steady_clock::now() + 30s;
             std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(50ms)) {
            if ((now = read(name, property)) == value)
                return true;
        }
        report_.fail("expected " + name + "." + property + " " + value + ", found " +
                     now.value_or("no such view"));
        return false;
    }
    bool waitForNone(const std::string& name) {
        for (auto until = std::chrono::steady_clock::now() + 30s;
             std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(50ms)) {
            if (readOnMain([&] { return driver().findView(name) ? "yes" : ""; }).empty())
                return true;
        }
        report_.fail("expected no " + name + " on screen");
        return false;
    }
    bool waitForSlider(double value, double tolerance) {
        std::optional<std::string> now;
        for (auto until = std::chrono::steady_clock::now() + 30s;
             std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(50ms)) {
            now = read("seekSlider", "value");
            if (now && std::fabs(std::stod(*now) - value) <= tolerance)
                return true;
        }
        report_.fail("expected the slider near " + std::to_string(value) +
                     " while dragged, found " + now.value_or("none"));
        return false;
    }
    CGRect frameOf(const std::string& name) {
        CGRect frame{};
        NSRunLoop::mainRunLoop()->postAndWait([&] {
            if (auto view = driver().findView(name))
                frame = view->frameInWindow();
        });
        return frame;
    }
    CGPoint centreOf(const std::string& name) {
        const CGRect frame = frameOf(name);
        return CGPointMake(frame.origin.x + frame.size.width / 2,
                           frame.origin.y + frame.size.height / 2);
    }

    // The mouse over the window's pixel for a screen point (scale 2).
    void pointerTo(CGPoint point) {
        x_->movePointer(static_cast<int>(point.x * 2), static_cast<int>(point.y * 2));
        std::this_thread::sleep_for(40ms);
    }
    // A person presses once the screen has come in: the phone takes no touch while a screen
    // is presented, dismissed, pushed or popped with animation.
    void press(CGPoint point) {
        auto comingIn = [] {
            return readOnMain([] {
                       return std::string(UIViewController::isTransitionRunning() ? "yes" : "");
                   }) == "yes";
        };
        for (auto until = std::chrono::steady_clock::now() + 5s;
             comingIn() && std::chrono::steady_clock::now() < until;
             std::this_thread::sleep_for(20ms)) {
        }
        pointerTo(point);
        x_->pressButton(true);
        std::this_thread::sleep_for(40ms);
    }
    void move(CGPoint point) { pointerTo(point); }
    void release(CGPoint point) {
        pointerTo(point);
        x_->pressButton(false);
        std::this_thread::sleep_for(40ms);
    }
    void click(CGPoint point) {
        press(point);
        release(point);
    }

    // The window shows, pixel for pixel at scale 2, the compositor's picture of one moment (the
    // picture stayed the same while the window was read); waits for such a moment.
    bool showsTheScreen(const std::string& what) {
        size_t differing = 0;
        for (auto until = std::chrono::steady_clock::now() + 20s;
             std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(30ms)) {
            CGImageRef before = Screen::mainScreen().lastComposed();
            const std::vector<uint32_t> shown = x_->pixels();
            CGImageRef after = Screen::mainScreen().lastComposed();
            if (shown.size() != 640u * 960u)
                continue;
            differing = before && after ? differingPixels(*before, *after, shown) : SIZE_MAX;
            if (differing == 0)
                return true;
        }
        report_.fail("the window did not show the compositor's picture of " + what + " (" +
                     std::to_string(differing) + " pixels differ)");
        return false;
    }
    // Window pixels unlike the composed point under them; SIZE_MAX when the picture changed in
    // between.
    static size_t differingPixels(const CGImage& before, const CGImage& after,
                                  const std::vector<uint32_t>& shown) {
        size_t differing = 0;
        for (int y = 0; y < Screen::kHeight; ++y) {
            auto* a = reinterpret_cast<const uint32_t*>(before.data() + y * before.bytesPerRow());
            auto* b = reinterpret_cast<const uint32_t*>(after.data() + y * after.bytesPerRow());
            if (std::memcmp(a, b, Screen::kWidth * 4) != 0)
                return SIZE_MAX;
            for (int x = 0; x < Screen::kWidth; ++x) {
                for (int dy = 0; dy < 2; ++dy)
                    for (int dx = 0; dx < 2; ++dx)
                        if (shown[static_cast<size_t>((2 * y + dy) * 640 + 2 * x + dx)] !=
                            (a[x] & 0xffffff))
                            ++differing;
            }
        }
        return differing;
    }

    static constexpr const char* kTitle = "Tilvex (Ctrl+H: home button, Ctrl+Q: quit)";

    const Report& report_;
    std::unique_ptr<XDisplay> x_;
    std::shared_ptr<const Announced> announced_;
    pid_t server_;
};

// The program's run in the child: as tilvex starts without a script, with the window opened.
// `scale` is the scale setting ("" for the environment's).
int runThePhone(const std::string& home, const VirtualDisplay& display, const std::string& scale,
                const Person::Steps& steps, const Report& report) {
    // Before SDL talks to the display.
    std::unique_ptr<XDisplay> x = XDisplay::open(display.name());
    DeviceSettings settings = DeviceSettings::fromEnvironment();
    settings.home = home;
    if (!scale.empty())
        settings.scale = scale;
    // A still camera picture, so that the screen changes only where the interface does.
    settings.camera = "lavfi:color=c=0x336699:size=640x480:rate=30";
    settings.microphone = "lavfi:sine=frequency=440:sample_rate=44100";
    DeviceSettings::install(settings);
    Microphone::setDeviceInput(settings.microphone);
    if (!DeviceHome::prepare(settings.home)) {
        report.fail("no home folder");
        return 1;
    }
    registerAppClasses();
    av_log_set_level(AV_LOG_ERROR);
    std::unique_ptr<DesktopSession> desktop;
    std::thread person;
    char name[] = "tilvex";
    char* argv[] = {name, nullptr};
    int status = UIApplicationMain(1, argv, [&](UIApplication& application) {
        NSErrorPtr error;
        desktop = DesktopSession::open(retained(&application), settings, &error);
        if (!desktop) {
            report.fail(error->localizedDescription());
            application.terminate();
            return;
        }
        if (!desktop->speaker())
            report.fail("no speaker on SDL's disk driver");
        auto announced = std::make_shared<Announced>();
        auto& center = NSNotificationCenter::defaultCenter();
        center.addObserver(announced.get(), UIApplicationDidBecomeActiveNotification, nullptr,
                           [announced](const NSNotification&) { ++announced->becameActive; });
        center.addObserver(announced.get(), UIApplicationWillTerminateNotification, nullptr,
                           [announced](const NSNotification&) { announced->terminating = true; });
        person = std::thread([&x, &report, &display, &steps, announced] {
            Person(std::move(x), report, announced, display.pid()).act(steps);
        });
    });
    if (person.joinable())
        person.join();
    desktop.reset();
    return status;
}

// What a run of the phone in the window left behind, besides its home folder.
struct WindowRun {
    bool exited = false;      // the child exited rather than being killed by a signal
    int status = -1;          // its exit status, or the signal that ended it
    bool endedInTime = true;  // else it was killed at its bound
    // Seconds from the person's kSessionEnds to the child's end; negative without that line.
    double secondsAfterTheSessionEnded = -1;
    std::vector<std::string> failures;
    std::string albumRow;
    std::vector<int> barLevels;  // the bar's filled lengths the person saw, in order
    std::string log;             // what the program wrote to its standard error
};

// How long a run may take, and how long the program may take to end once the person said
// kSessionEnds; a child still there then is killed.
constexpr auto kRunBound = 600s;
constexpr auto kEndBound = 20s;

// Runs the phone in a child process on `display` in `folder`'s home, with the speaker's
// output in `folder`'s "speaker.raw", while a person acts out `steps`.
WindowRun runInTheWindow(const VirtualDisplay& display, const TemporaryFolder& folder,
                         const std::string& scale, const Person::Steps& steps) {
    WindowRun run;
    const std::string logPath = folder / "stderr.txt";
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return run;
    const pid_t child = ::fork();
    if (child < 0)
        return run;
    if (child == 0) {
        ::close(pipeFds[0]);
        const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log >= 0)
            ::dup2(log, STDERR_FILENO);
        ::setenv("DISPLAY", display.name().c_str(), 1);
        ::unsetenv("WAYLAND_DISPLAY");
        ::setenv("SDL_AUDIODRIVER", "disk", 1);
        ::setenv("SDL_DISKAUDIOFILE", (folder / "speaker.raw").c_str(), 1);
        Report report(pipeFds[1]);
        const int status = runThePhone(folder / "home", display, scale, steps, report);
        std::fflush(nullptr);
        ::_exit(status);
    }
    ::close(pipeFds[1]);
    using Clock = std::chrono::steady_clock;
    auto until = Clock::now() + kRunBound;
    std::optional<Clock::time_point> sessionEnded;
    std::string said;
    // What the child says, until it closes the pipe by ending.
    for (bool open = true; open && Clock::now() < until;) {
        pollfd ready{pipeFds[0], POLLIN, 0};
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
        if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        open = n > 0;
        if (open)
            said.append(buffer, static_cast<size_t>(n));
        if (!sessionEnded && said.find(kSessionEnds) != std::string::npos) {
            sessionEnded = Clock::now();
            until = std::min(until, *sessionEnded + kEndBound);
        }
    }
    ::close(pipeFds[0]);
    int status = 0;
    pid_t waited;
    while ((waited = ::waitpid(child, &status, WNOHANG)) == 0 && Clock::now() < until)
        std::this_thread::sleep_for(10ms);
    if (waited == 0) {
        run.endedInTime = false;
        ::kill(child, SIGKILL);
        waited = ::waitpid(child, &status, 0);
    }
    if (waited != child)
        return run;
    if (sessionEnded)
        run.secondsAfterTheSessionEnded =
            std::chrono::duration<double>(Clock::now() - *sessionEnded).count();
    run.exited = WIFEXITED(status);
    run.status = run.exited ? WEXITSTATUS(status) : WTERMSIG(status);
    std::istringstream lines(said);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("fail: "))
            run.failures.push_back(line.substr(6));
        if (line.starts_with("row: "))
            run.albumRow = line.substr(5);
        if (line.starts_with("level: "))
            run.barLevels.push_back(std::stoi(line.substr(7)));
    }
    std::ifstream logFile(logPath);
    run.log.assign(std::istreambuf_iterator<char>(logFile), std::istreambuf_iterator<char>());
    return run;
}

TEST(WindowEndToEndTest, APersonTypesAMessageWithTheLettersHAndQAndSendsIt) {
    VirtualDisplay display;
    ASSERT_FALSE(display.name().empty()) << "Xvfb did not start";
    TemporaryFolder folder;
    const std::string home = folder / "home";
    const WindowRun run = runInTheWindow(display, folder, "", [](Person& p) { p.mailSteps(); });
    EXPECT_TRUE(run.failures.empty()) << ::testing::PrintToString(run.failures) << run.log;
    ASSERT_TRUE(run.exited) << "signal " << run.status << "\n" << run.log;
    EXPECT_EQ(run.status, 0) << run.log;  // Ctrl+Q ended it

    const auto outbox = NSFileManager::defaultManager()
                            .contentsOfDirectoryAtPath(home + "/Mail/Outbox")
                            .value_or(std::vector<std::string>{});
    ASSERT_EQ(outbox, std::vector<std::string>{"Message_0001.eml"});
    auto message = readMailMessage(home + "/Mail/Outbox/Message_0001.eml", folder.path());
    ASSERT_TRUE(message.is_object()) << "python3 could not read the message";
    EXPECT_EQ(message["defects"], nlohmann::json::array());
    EXPECT_EQ(message["to"], std::vector<std::string>{"hq@example.invalid"});
    EXPECT_EQ(message["cc"], std::vector<std::string>{"quinn@example.invalid"});
    EXPECT_EQ(message["bcc"], std::vector<std::string>{"bo@example.invalid"});
    EXPECT_EQ(message["subject"], "Hush, quiet Hq");
    std::string body = "hello qhqww";
    for (int i = 1; i <= 15; ++i) body += "\nline " + std::to_string(i);
    EXPECT_EQ(message["body"], body + "!");
    ASSERT_EQ(message["attachments"].size(), 1u);
    EXPECT_EQ(message["attachments"][0]["filename"], "Video.mov");
    EXPECT_EQ(message["attachments"][0]["type"], "video/quicktime");
}

TEST(WindowEndToEndTest, APersonRecordsBrowsesPlaysSeeksAndQuitsWithTheMouseAndKeys) {
    VirtualDisplay display;
    ASSERT_FALSE(display.name().empty()) << "Xvfb did not start";
    TemporaryFolder folder;
    const std::string home = folder / "home";
    const std::string played = folder / "speaker.raw";
    WindowRun run =
        runInTheWindow(display, folder, "", [](Person& p) { p.recordBrowsePlayAndSeek(); });
    EXPECT_TRUE(run.failures.empty()) << ::testing::PrintToString(run.failures) << run.log;
    ASSERT_TRUE(run.exited) << "signal " << run.status << "\n" << run.log;
    EXPECT_EQ(run.status, 0) << run.log;
    const std::string& albumRow = run.albumRow;

    // One recording of 3 s or more, stored whole; the album showed its row.
    auto rows = storedRows(home + "/Documents/Videos.sqlite");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].videoPath, "Video_0001");
    EXPECT_EQ(rows[0].soundPath, "Audio_0001.caf");
    EXPECT_EQ(rows[0].thumbPath, "Thumbnail_0001.jpg");
    EXPECT_GE(rows[0].title, "0:03");  // M:SS texts of one digit's minutes sort as times
    EXPECT_EQ(albumRow, rows[0].title);
    auto& files = NSFileManager::defaultManager();
    for (const auto& file : {rows[0].videoPath, rows[0].soundPath, rows[0].thumbPath})
        EXPECT_TRUE(files.fileExistsAtPath(home + "/Documents/" + file)) << file;

    // The speaker played the recording's sound: the first stretch it played lies in the sound
    // file.
    auto output = NSData::dataWithContentsOfFile(played);
    auto sound = NSData::dataWithContentsOfFile(home + "/Documents/" + rows[0].soundPath);
    ASSERT_TRUE(output && sound);
    const std::string heard(output->begin(), output->end());
    const std::string recorded(sound->begin(), sound->end());
    const size_t start = heard.find_first_not_of('\0');
    ASSERT_NE(start, std::string::npos) << "the speaker played only silence";
    const size_t frameStart = start - start % 4;
    ASSERT_GE(heard.size(), frameStart + 4096);
    EXPECT_NE(recorded.find(heard.substr(frameStart + 4, 4096)), std::string::npos);
}

// The export of a long recording to the album, in the window.
class WindowEndToEndExportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(display.name().empty()) << "Xvfb did not start";
        StoredRecordings::storeALongRecording(folder / "home");
    }
    Data file(const std::string& name) const {
        return NSData::dataWithContentsOfFile(folder / ("home/" + name)).value_or(Data());
    }
    // The run ended well, the album's report was logged, and the album holds the whole movie.
    void expectTheMovieInTheAlbum(const WindowRun& run) const {
        EXPECT_TRUE(run.failures.empty()) << ::testing::PrintToString(run.failures) << run.log;
        ASSERT_TRUE(run.exited) << "signal " << run.status << "\n" << run.log;
        EXPECT_EQ(run.status, 0) << run.log;
        EXPECT_NE(run.log.find("Finished Saving"), std::string::npos) << run.log;
        const Data movie = file("Documents/temp.mov");
        EXPECT_GT(movie.size(), 100000u);
        EXPECT_TRUE(file("Media/DCIM/IMG_0001.MOV") == movie)
            << "the album's movie is not the encoded one ("
            << file("Media/DCIM/IMG_0001.MOV").size() << " bytes against " << movie.size() << ")";
    }

    VirtualDisplay display;
    TemporaryFolder folder;
};

TEST_F(WindowEndToEndExportTest, TheBarIsSeenGrowingWhileTheRecordingIsEncoded) {
    const WindowRun run =
        runInTheWindow(display, folder, "", [](Person& p) { p.watchTheBarDuringTheExport(); });
    expectTheMovieInTheAlbum(run);
    // Levels short of the whole bar come before the album's report fills it; the encoding
    // alone moves the bar from empty to the hold at nine tenths.
    std::vector<int> between;
    for (int level : run.barLevels)
        if (level > 0)
            between.push_back(level);
    EXPECT_GE(between.size(), 3u) << "levels seen: " << ::testing::PrintToString(run.barLevels);
    EXPECT_TRUE(std::is_sorted(between.begin(), between.end()))
        << ::testing::PrintToString(run.barLevels);
}

TEST_F(WindowEndToEndExportTest,
       BackAndDoneClickedDuringTheEncodingStillPutTheWholeMovieInTheAlbum) {
    const WindowRun run =
        runInTheWindow(display, folder, "", [](Person& p) { p.closeThePlayerDuringTheExport(); });
    expectTheMovieInTheAlbum(run);
}

// A home in `folder` with `count` short recordings, a minute apart.
void storeShortRecordings(const TemporaryFolder& folder, int count) {
    ManualClockScope time;
    StoredRecordings store;
    for (int i = 0; i < count; ++i)
        store.add(NSDate::dateWithTimeIntervalSince1970(1300010400.0 + 60 * i), 3, 0.5,
                  time.clock());
    std::filesystem::create_directories(folder / "home");
    std::filesystem::copy(store.documents(), folder / "home/Documents",
                          std::filesystem::copy_options::recursive);
}

TEST(WindowEndToEndTest, APressShowsADoubleClickOpensOneScreenAndTheBarStaysOverScrolledRows) {
    VirtualDisplay display;
    ASSERT_FALSE(display.name().empty()) << "Xvfb did not start";
    TemporaryFolder folder;
    storeShortRecordings(folder, 12);
    const WindowRun run =
        runInTheWindow(display, folder, "", [](Person& p) { p.pressDoubleClickAndScroll(); });
    EXPECT_TRUE(run.failures.empty()) << ::testing::PrintToString(run.failures) << run.log;
    ASSERT_TRUE(run.exited) << "signal " << run.status << "\n" << run.log;
    EXPECT_EQ(run.status, 0) << run.log;
    // Nothing was recorded: the press on Record was let go off it.
    EXPECT_EQ(storedRows(folder / "home/Documents/Videos.sqlite").size(), 12u);
}

// The sound files in `documents`.
std::vector<std::string> soundFiles(const std::string& documents) {
    std::vector<std::string> sounds;
    auto names = NSFileManager::defaultManager().contentsOfDirectoryAtPath(documents);
    for (const auto& name : names.value_or(std::vector<std::string>()))
        if (name.ends_with(".caf"))
            sounds.push_back(name);
    return sounds;
}

// One recording stored in `documents`: its row, its three files, and no other sound file.
void expectOneRecordingStored(const std::string& documents) {
    auto rows = storedRows(documents + "/Videos.sqlite");
    ASSERT_EQ(rows.size(), 1u);
    for (const auto& file : {rows[0].videoPath, rows[0].soundPath, rows[0].thumbPath})
        EXPECT_TRUE(NSFileManager::defaultManager().fileExistsAtPath(documents + "/" + file))
            << file;
    EXPECT_EQ(soundFiles(documents), std::vector<std::string>{rows[0].soundPath});
}

TEST(WindowEndToEndTest, TheWindowLostDuringARecordingStoresItAndTheProgramEndsWell) {
    struct Case {
        const char* what;
        WindowLoss loss;
        const char* said;
    };
    const Case cases[] = {
        {"destroyed by another client", WindowLoss::kDestroyed,
         "The window is lost (the window was destroyed from outside)"},
        {"its client's connection killed", WindowLoss::kClientKilled,
         "The window is lost (the connection to the display broke)"},
        {"the display ended", WindowLoss::kDisplayEnded,
         "The window is lost (the connection to the display broke)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VirtualDisplay display;
        ASSERT_FALSE(display.name().empty()) << "Xvfb did not start";
        TemporaryFolder folder;
        WindowRun run = runInTheWindow(display, folder, "",
                                       [&c](Person& p) { p.recordAndLoseTheWindow(c.loss); });
        EXPECT_TRUE(run.failures.empty()) << ::testing::PrintToString(run.failures) << run.log;
        EXPECT_TRUE(run.exited && run.status == 0)
            << (run.exited ? "status " : "signal ") << run.status << "\n"
            << run.log;
        EXPECT_NE(run.log.find(c.said), std::string::npos) << run.log;
        expectOneRecordingStored(folder / "home/Documents");
    }
}

// The session ends as `end` says; the program is to end by itself, well and soon, with the
// recording stored.
void expectTheSessionToEndWell(const SessionEnd& end) {
    VirtualDisplay display;
    ASSERT_FALSE(display.name().empty()) << "Xvfb did not start";
    TemporaryFolder folder;
    const WindowRun run =
        runInTheWindow(display, folder, "", [&end](Person& p) { p.endTheSession(end); });
    EXPECT_TRUE(run.failures.empty()) << ::testing::PrintToString(run.failures) << run.log;
    EXPECT_GE(run.secondsAfterTheSessionEnded, 0) << "the session was not ended\n" << run.log;
    EXPECT_TRUE(run.endedInTime) << "the program was still there " << kEndBound.count()
                                 << " s after the session ended\n"
                                 << run.log;
    EXPECT_TRUE(run.exited && run.status == 0)
        << (run.exited ? "status " : "signal ") << run.status << "\n"
        << run.log;
    expectOneRecordingStored(folder / "home/Documents");
}

// A logout: the X server ends and the program gets SIGTERM or SIGHUP at about the same moment,
// in either order. The program stores the recording, asks nothing more of the dead display
// and ends with status 0.
TEST(WindowEndToEndTest, TheDisplayEndingWithATerminationSignalStoresTheRecordingAndEndsWell) {
    struct Case {
        const char* what;
        SessionEnd end;
    };
    const Case cases[] = {
        {"album, display then SIGTERM", {false, true, SIGTERM}},
        {"album, display then SIGHUP", {false, true, SIGHUP}},
        {"album, SIGTERM then display", {false, false, SIGTERM}},
        {"album, SIGHUP then display", {false, false, SIGHUP}},
        {"recording, display then SIGTERM", {true, true, SIGTERM}},
        {"recording, display then SIGHUP", {true, true, SIGHUP}},
        {"recording, SIGTERM then display", {true, false, SIGTERM}},
        {"recording, SIGHUP then display", {true, false, SIGHUP}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        expectTheSessionToEndWell(c.end);
    }
}

// The same near-simultaneous end again and again, in both orders and from none to 100 ms
// apart, so that the server's end meets the program at varied points of its termination
// (storing the recording, the last refresh, the window's teardown).
TEST(WindowEndToEndTest, StressTheDisplayEndingWithATerminationSignal) {
    for (int round = 0; round < 12; ++round) {
        const SessionEnd end{round % 2 == 0, round % 4 < 2, round % 3 == 0 ? SIGHUP : SIGTERM,
                             std::chrono::milliseconds(20 * (round / 2))};
        SCOPED_TRACE("round " + std::to_string(round));
        expectTheSessionToEndWell(end);
    }
}

TEST(WindowEndToEndTest, TheHomeButtonTurnsTheScreenOffAndAClickOrAKeyBringsTheApplicationBack) {
    VirtualDisplay display;
    ASSERT_FALSE(display.name().empty()) << "Xvfb did not start";
    TemporaryFolder folder;
    WindowRun run =
        runInTheWindow(display, folder, "", [](Person& p) { p.recordPressHomeAndComeBack(); });
    EXPECT_TRUE(run.failures.empty()) << ::testing::PrintToString(run.failures) << run.log;
    ASSERT_TRUE(run.exited) << "signal " << run.status << "\n" << run.log;
    EXPECT_EQ(run.status, 0) << run.log;
    // The home button stored the recording; coming back resumed nothing and pressed nothing.
    auto rows = storedRows(folder / "home/Documents/Videos.sqlite");
    EXPECT_EQ(rows.size(), 1u);
}

TEST(WindowEndToEndTest, AScaleTooLargeForTheDesktopIsBroughtDownToTheLargestThatFitsAndSaidSo) {
    VirtualDisplay display("1280x1024x24");
    ASSERT_FALSE(display.name().empty()) << "Xvfb did not start";
    TemporaryFolder folder;
    WindowRun run = runInTheWindow(display, folder, "3", [](Person& p) { p.hasScaleTwo(); });
    EXPECT_TRUE(run.failures.empty()) << ::testing::PrintToString(run.failures) << run.log;
    ASSERT_TRUE(run.exited) << "signal " << run.status << "\n" << run.log;
    EXPECT_EQ(run.status, 0) << run.log;
    EXPECT_NE(run.log.find("The scale 3 does not fit the desktop (1280 x 1024): the window opens "
                           "at scale 2"),
              std::string::npos)
        << run.log;
}

}  // namespace
