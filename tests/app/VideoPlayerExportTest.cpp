// CTest labels: threads

// The player's export under the manual clock: the menu, the e-mail and album roads with their
// progress display, a recording under one second, a failed encoding, leaving during an export,
// a termination before the movie is written, the pasteboard road and the video editor's
// messages. Movies are really encoded into the temporary home's Documents.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ostream>
#include <thread>

#include "app/Classes/QvProgressHUD.h"
#include "app/Classes/VideoPlayerViewController.h"
#include "platform/Device/DeviceHome.h"
#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSThread.h"
#include "platform/UIKit/UIAlertView.h"
#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UINavigationController.h"
#include "platform/UIKit/UIPasteboard.h"
#include "platform/UIKit/UISaveVideoAtPathToSavedPhotosAlbum.h"
#include "platform/UIKit/UIWindow.h"
#include "tests/app/StoredRecordings.h"
#include "tests/support/MailMessageReader.h"

namespace {

// What the screen showed after each "progress" notification, read on the main thread once the
// player has applied the value.
struct ProgressStep {
    float value;
    float bar;
    std::string label;
    bool ignoringTouches;
};

class VideoPlayerExportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        application->setStatusBarHidden(false, false);
        application->setStatusBarStyle(UIStatusBarStyleBlackTranslucent, false);
        window->makeKeyAndVisible();
        window->addSubview(screen->view());
        navigation = UINavigationController::initWithRootViewController(root);
        navigation->navigationBar()->setBarStyle(UIBarStyleBlackTranslucent);
        screen->presentModalViewController(navigation, false);
    }
    void TearDown() override {
        NSNotificationCenter::defaultCenter().removeObserver(this);
        for (auto& alert : UIAlertView::visibleAlerts())
            alert->dismissWithClickedButtonIndex(0, false);
        screen->dismissModalViewControllerAnimated(false);
    }

    // Opens a player on `frames` frames and a sound of `seconds` in `soundName`.
    void open(int frames, double seconds, const std::string& soundName = "Audio_0001.caf") {
        const std::string sound = store.documents() + "/" + soundName;
        StoredRecordings::recordSound(sound, seconds, time.clock());
        player = VideoPlayerViewController::initWithImages(StoredRecordings::frames(frames), sound);
        navigation->pushViewController(player, true);
        // After the player's own observer, so that each step sees the value applied.
        auto& center = NSNotificationCenter::defaultCenter();
        center.removeObserver(this);
        center.addObserver(this, "progress", nullptr,
                           [this](const NSNotification& n) { noteProgress(n); });
    }
    // A person's press of the export item, then of the menu's button titled `title`.
    void choose(const std::string& title) {
        ASSERT_TRUE(player->bottombar()->pressItemNamed("exportButton"));
        auto sheet = UIActionSheet::topSheet();
        ASSERT_TRUE(sheet);
        ASSERT_TRUE(sheet->pressButtonWithTitle(title));
    }
    // One pass of the main run loop at the clock's time, `seconds` on.
    void step(double seconds = 0) {
        time.clock().advance(seconds);
        NSRunLoop::currentRunLoop()->runPending();
    }
    // Passes of the main run loop until `done` holds: the encoding runs on a worker thread and
    // hands its results over through the loop. False when it has not come within two minutes.
    template <class Done>
    bool runUntil(Done done) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        auto loop = NSRunLoop::currentRunLoop();
        while (!done()) {
            if (std::chrono::steady_clock::now() > limit)
                return false;
            loop->runPending();
            std::this_thread::yield();
        }
        return true;
    }
    static bool composerUp() { return MFMailComposeViewController::visibleComposer() != nullptr; }
    static bool alertUp() { return UIAlertView::topAlert() != nullptr; }
    bool panelHidden() const { return player->progressPanel()->isHidden(); }
    std::vector<std::string> folder(const std::string& path) const {
        return NSFileManager::defaultManager().contentsOfDirectoryAtPath(path).value_or(
            std::vector<std::string>{});
    }
    Data file(const std::string& path) const {
        return NSData::dataWithContentsOfFile(path).value_or(Data());
    }
    std::string alertMessage() const {
        auto alert = UIAlertView::topAlert();
        if (!alert)
            return "(no alert)";
        EXPECT_EQ(alert->title(), "Error");
        EXPECT_EQ(alert->buttonTitleAtIndex(0), "OK");
        return alert->message();
    }
    // Sends the composer on screen and reads its message back: the attachments' JSON.
    nlohmann::json sendAndRead() {
        auto composer = MFMailComposeViewController::visibleComposer();
        EXPECT_TRUE(composer);
        if (!composer)
            return nullptr;
        EXPECT_TRUE(composer->send());
        auto message = readMailMessage(composer->sentMessagePath(), scratch.path());
        EXPECT_FALSE(message.is_null());
        return message.is_null() ? nlohmann::json() : message["attachments"];
    }

    void noteProgress(const NSNotification& n) {
        const float value = static_cast<float>(n.userInfo()["progress"].doubleValue());
        const bool ignoring = application->isIgnoringInteractionEvents();
        auto note = [this, value, ignoring] {
            if (!player)  // a player left during its export
                return;
            steps.push_back({value, player->progressView()->progress(),
                             player->progressLabel()->text(), ignoring});
        };
        // Behind the player's own hand-over when the value comes from another thread.
        if (NSThread::isMainThread())
            note();
        else
            NSRunLoop::mainRunLoop()->post(note);
    }

    ManualClockScope time;
    StoredRecordings store;
    TemporaryFolder scratch;
    std::shared_ptr<UIApplication> application = UIApplication::sharedApplication();
    std::shared_ptr<UIWindow> window = UIWindow::initWithFrame(CGRectMake(0, 0, 320, 480));
    std::shared_ptr<UIViewController> screen = std::make_shared<UIViewController>();
    std::shared_ptr<UIViewController> root = std::make_shared<UIViewController>();
    std::shared_ptr<UINavigationController> navigation;
    std::shared_ptr<VideoPlayerViewController> player;
    std::vector<ProgressStep> steps;
};

TEST_F(VideoPlayerExportTest, TheMenuOffersTwoRoadsAndCancelChangesNothingButKeepsTheBarsUp) {
    open(20, 2.0);
    time.advance(0.5);
    ASSERT_TRUE(player->bottombar()->pressItemNamed("exportButton"));
    auto sheet = UIActionSheet::topSheet();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->title(), "");
    ASSERT_EQ(sheet->numberOfButtons(), 3);
    EXPECT_EQ(sheet->buttonTitleAtIndex(0), "Email");
    EXPECT_EQ(sheet->buttonTitleAtIndex(1), "Save to Camera Roll");
    EXPECT_EQ(sheet->buttonTitleAtIndex(sheet->cancelButtonIndex()), "Cancel");
    EXPECT_EQ(sheet->cancelButtonIndex(), 2);
    ASSERT_TRUE(sheet->pressButtonWithTitle("Cancel"));

    EXPECT_TRUE(player->player()->isPlaying());
    EXPECT_TRUE(panelHidden());
    EXPECT_TRUE(player->exportButton()->isEnabled());
    time.advance(3.0);
    EXPECT_EQ(player->topBar()->alpha(), 1.0) << "the menu cancelled the auto-hide";
    EXPECT_FALSE(
        NSFileManager::defaultManager().fileExistsAtPath(VideoPlayerViewController::outputPath()));
    EXPECT_FALSE(MFMailComposeViewController::visibleComposer());
}

TEST_F(VideoPlayerExportTest, EmailAttachesTheMovieAsVideoMovAndTheBarFillsPastOne) {
    // 2.5 s of 25 frames: the last progress value is 25 / 20.
    open(25, 2.5);
    choose("Email");
    EXPECT_FALSE(player->player()->isPlaying());
    EXPECT_EQ(player->bottombar()->itemNames(), "exportButton fixedSpace playButton");
    EXPECT_FALSE(panelHidden());
    EXPECT_EQ(player->progressLabel()->text(), "Encoding...");
    EXPECT_EQ(player->progressView()->progress(), 0.0f);
    EXPECT_FALSE(player->exportButton()->isEnabled());
    EXPECT_FALSE(player->bottombar()->pressItemNamed("exportButton")) << "one export at a time";

    step(0.99);
    EXPECT_TRUE(steps.empty()) << "the encoding waits 1.0 s";
    step(0.02);
    ASSERT_TRUE(runUntil(composerUp));
    ASSERT_FALSE(steps.empty());
    EXPECT_FLOAT_EQ(steps.back().value, 1.25f);
    EXPECT_EQ(steps.back().bar, 1.0f);
    for (const ProgressStep& s : steps) {
        EXPECT_EQ(s.label, "Encoding...");
        EXPECT_TRUE(s.ignoringTouches) << s.value;
    }
    EXPECT_FALSE(application->isIgnoringInteractionEvents()) << "the composer takes touches";

    auto composer = MFMailComposeViewController::visibleComposer();
    ASSERT_TRUE(composer);
    EXPECT_EQ(player->modalViewController(), composer);
    EXPECT_TRUE(panelHidden());
    EXPECT_EQ(application->statusBarStyle(), UIStatusBarStyleDefault);
    EXPECT_FALSE(application->isStatusBarHidden());
    EXPECT_TRUE(player->exportButton()->isEnabled());

    const Data movie = file(VideoPlayerViewController::outputPath());
    ASSERT_GT(movie.size(), 1000u);
    auto attachments = sendAndRead();
    ASSERT_EQ(attachments.size(), 1u);
    EXPECT_EQ(attachments[0]["filename"], "Video.mov");
    EXPECT_EQ(attachments[0]["type"], "video/quicktime");
    EXPECT_EQ(attachments[0]["encoding"], "base64");
    EXPECT_TRUE(file(attachments[0]["file"].get<std::string>()) == movie)
        << "the attachment is temp.mov byte for byte";

    EXPECT_FALSE(player->modalViewController());
    EXPECT_FALSE(UIAlertView::topAlert());
    EXPECT_EQ(application->statusBarStyle(), UIStatusBarStyleBlackTranslucent);
    time.advance(3.0);
    EXPECT_FALSE(player->player()->isPlaying()) << "playback stays paused";
}

TEST_F(VideoPlayerExportTest, AComposerThatFailsShowsItsErrorAndStillGoes) {
    open(20, 2.0);
    choose("Email");
    time.advance(1.01);
    ASSERT_TRUE(runUntil(composerUp));
    // An outbox that cannot be made: a file where its folder should be.
    NSFileManager::defaultManager().removeItemAtPath(DeviceHome::outbox());
    const Data junk{'x'};
    ASSERT_TRUE(NSFileManager::defaultManager().createFileAtPath(DeviceHome::outbox(), &junk));
    EXPECT_TRUE(MFMailComposeViewController::visibleComposer()->send());
    EXPECT_NE(alertMessage(), "(no alert)");
    EXPECT_FALSE(player->modalViewController());
    EXPECT_EQ(application->statusBarStyle(), UIStatusBarStyleBlackTranslucent);
}

TEST_F(VideoPlayerExportTest, TheAlbumHoldsTheBarAtNineTenthsWhileSavingThenFillsAndHides) {
    open(25, 2.5);
    testing::internal::CaptureStderr();
    choose("Save to Camera Roll");
    step(1.01);
    // The save starts once the encoding is back: the copy is made, its report comes later.
    ASSERT_TRUE(runUntil([this] { return !folder(DeviceHome::photoAlbum()).empty(); }));
    ASSERT_FALSE(steps.empty());
    for (const ProgressStep& s : steps) {
        EXPECT_EQ(s.bar, s.value > 0.9f ? 0.9f : s.value) << s.value;
        EXPECT_EQ(s.label, s.value > 0.9f ? "Saving..." : "Encoding...") << s.value;
        EXPECT_TRUE(s.ignoringTouches) << s.value;
    }
    EXPECT_TRUE(player->isSaving());
    EXPECT_EQ(folder(DeviceHome::photoAlbum()), std::vector<std::string>{"IMG_0001.MOV"});
    EXPECT_EQ(player->progressView()->progress(), 0.9f);
    EXPECT_EQ(player->progressLabel()->text(), "Saving...");
    EXPECT_FALSE(player->exportButton()->isEnabled());

    step();
    EXPECT_FALSE(player->isSaving());
    EXPECT_EQ(player->progressView()->progress(), 1.0f);
    EXPECT_FALSE(panelHidden());
    EXPECT_FALSE(UIAlertView::topAlert());
    time.advance(0.99);
    EXPECT_FALSE(panelHidden());
    EXPECT_FALSE(player->exportButton()->isEnabled()) << "the road ends with its panel";
    time.advance(0.02);
    EXPECT_TRUE(panelHidden());
    EXPECT_TRUE(player->exportButton()->isEnabled());
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Finished Saving\n"), std::string::npos) << log;
    EXPECT_TRUE(file(DeviceHome::photoAlbum() + "/IMG_0001.MOV") ==
                file(VideoPlayerViewController::outputPath()));
}

TEST_F(VideoPlayerExportTest, AFailedAlbumSaveShowsItsErrorAndStillFillsTheBarAndHides) {
    open(20, 2.0);
    // An album that cannot take a copy: a file where its folder should be.
    NSFileManager::defaultManager().removeItemAtPath(DeviceHome::photoAlbum());
    const Data junk{'x'};
    ASSERT_TRUE(NSFileManager::defaultManager().createFileAtPath(DeviceHome::photoAlbum(), &junk));
    testing::internal::CaptureStderr();
    choose("Save to Camera Roll");
    time.advance(1.01);
    ASSERT_TRUE(runUntil(alertUp));
    const std::string message = alertMessage();
    EXPECT_NE(message, "(no alert)");
    EXPECT_EQ(player->progressView()->progress(), 1.0f);
    EXPECT_FALSE(player->isSaving());
    time.advance(1.0);
    EXPECT_TRUE(panelHidden());
    const std::string log = testing::internal::GetCapturedStderr();
    const size_t logged = log.find(message + "\n");
    EXPECT_NE(logged, std::string::npos) << log;
    EXPECT_NE(log.find("Finished Saving\n", logged), std::string::npos) << log;
}

TEST_F(VideoPlayerExportTest, ASecondExportRewritesTheMovieAndMailsTheLatest) {
    open(20, 2.0);
    choose("Save to Camera Roll");
    time.advance(1.01);
    ASSERT_TRUE(runUntil([this] { return !player->isSaving(); }));
    time.advance(1.5);
    const Data first = file(VideoPlayerViewController::outputPath());
    ASSERT_FALSE(first.empty());
    navigation->popViewControllerAnimated(false);

    open(40, 4.0, "Audio_0002.caf");
    choose("Email");
    time.advance(1.01);
    ASSERT_TRUE(runUntil(composerUp));
    const Data second = file(VideoPlayerViewController::outputPath());
    EXPECT_GT(second.size(), first.size());
    auto attachments = sendAndRead();
    ASSERT_EQ(attachments.size(), 1u);
    EXPECT_TRUE(file(attachments[0]["file"].get<std::string>()) == second);
}

struct RoadCase {
    const char* road;
    friend std::ostream& operator<<(std::ostream& out, const RoadCase& c) { return out << c.road; }
};

class VideoPlayerExportRoadTest : public VideoPlayerExportTest,
                                  public ::testing::WithParamInterface<RoadCase> {
  protected:
    // The road's hand-over: the composer up, or the album's report heard.
    bool handedOver() const {
        return std::string(GetParam().road) == "Email" ? composerUp() : !player->isSaving();
    }
};

TEST_P(VideoPlayerExportRoadTest, ARecordingUnderOneSecondExportsWithTheBarEndingFull) {
    open(36, 0.6);
    testing::internal::CaptureStderr();
    choose(GetParam().road);
    step(1.01);
    ASSERT_TRUE(runUntil([this] { return handedOver() || alertUp(); }));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(alertUp()) << alertMessage() << "\n" << log;
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps.size(), 36u) << "one step per frame";
    EXPECT_EQ(steps.back().value, 1.0f);
    EXPECT_GT(file(VideoPlayerViewController::outputPath()).size(), 1000u);
    // The road ends (the album's with its panel), and the export lets go of the player.
    time.advance(1.01);
    EXPECT_TRUE(player->exportButton()->isEnabled());
}

TEST_P(VideoPlayerExportRoadTest, AFailedEncodingShowsTheEncodersMessageAndGoesNoFurther) {
    // Without frames the encoder has no picture to time and refuses to open its codec.
    open(0, 2.0);
    testing::internal::CaptureStderr();
    choose(GetParam().road);
    time.advance(1.01);
    ASSERT_TRUE(runUntil(alertUp));
    EXPECT_FALSE(application->isIgnoringInteractionEvents()) << "the alert takes touches";
    time.advance(2.0);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(alertMessage(), "could not open codec");
    EXPECT_TRUE(panelHidden());
    EXPECT_FALSE(player->player()->isPlaying());
    EXPECT_FALSE(player->modalViewController());
    EXPECT_FALSE(player->isSaving());
    EXPECT_TRUE(player->exportButton()->isEnabled());
    EXPECT_TRUE(folder(DeviceHome::photoAlbum()).empty());
    EXPECT_TRUE(folder(DeviceHome::outbox()).empty());
}

INSTANTIATE_TEST_SUITE_P(BothRoads, VideoPlayerExportRoadTest,
                         ::testing::Values(RoadCase{"Email"}, RoadCase{"Save to Camera Roll"}));

TEST_F(VideoPlayerExportTest, TerminationBeforeTheMovieIsWrittenLogsThatTheExportWasAbandoned) {
    const std::string kAbandoned =
        "Export abandoned: the application ended before the movie was written\n";
    struct Case {
        const char* when;
        double delay;    // seconds after the choice
        bool encoding;   // once the encoding has begun
        bool inAlbum;    // once the album has the movie
        bool abandoned;  // the line is logged
    };
    for (const Case& c : {Case{"within the delay", 0.5, false, false, true},
                          Case{"while encoding", 1.01, true, false, true},
                          Case{"once the album has the movie", 1.01, true, true, false}}) {
        // Enough frames that the encoding outlasts the first look at its progress.
        open(600, 10.0);
        testing::internal::CaptureStderr();
        choose("Save to Camera Roll");
        step(c.delay);
        if (c.encoding) {
            ASSERT_TRUE(runUntil([this] { return !steps.empty(); })) << c.when;
        }
        if (c.inAlbum) {
            ASSERT_TRUE(runUntil([this] { return !player->isSaving(); })) << c.when;
        }
        // What the application posts at its termination (which comes once a process).
        NSNotificationCenter::defaultCenter().postNotificationName(
            UIApplicationWillTerminateNotification, application);
        // The export runs on to its end, so that the next case starts with none.
        time.advance(1.01);
        ASSERT_TRUE(runUntil([this] { return !player->isSaving(); })) << c.when;
        time.advance(1.01);
        const std::string log = testing::internal::GetCapturedStderr();
        const size_t said = log.find(kAbandoned);
        if (c.abandoned) {
            EXPECT_NE(said, std::string::npos) << c.when;
            EXPECT_EQ(log.find(kAbandoned, said + 1), std::string::npos) << c.when << ": one line";
        } else {
            EXPECT_EQ(said, std::string::npos) << c.when;
        }
        EXPECT_TRUE(player->exportButton()->isEnabled()) << c.when;
        navigation->popViewControllerAnimated(false);
        NSFileManager::defaultManager().removeItemAtPath(DeviceHome::photoAlbum() +
                                                         "/IMG_0001.MOV");
        steps.clear();
    }
}

TEST_F(VideoPlayerExportTest, TerminationDuringAPasteboardCopyLogsThatTheExportWasAbandoned) {
    open(600, 10.0);
    testing::internal::CaptureStderr();
    std::atomic<bool> done{false};
    auto worker = NSThread::detachNewThread([this, &done] {
        player->copyMovie();
        done = true;
    });
    ASSERT_TRUE(runUntil([this] { return !steps.empty(); }));
    NSNotificationCenter::defaultCenter().postNotificationName(
        UIApplicationWillTerminateNotification, application);
    ASSERT_TRUE(runUntil([&done] { return done.load(); }));
    worker->join();
    const std::string log = testing::internal::GetCapturedStderr();
    const std::string line =
        "Export abandoned: the application ended before the movie was written\n";
    const size_t said = log.find(line);
    EXPECT_NE(said, std::string::npos);
    EXPECT_EQ(log.find(line, said + 1), std::string::npos) << "one line";
}
// A sound file whose header claims 100 Hz is a damaged recording: the export ends in the
// encoder's error for a sound file it cannot read, never in a movie of the claimed length.
TEST_P(VideoPlayerExportRoadTest, ASoundFileWithALyingHeaderEndsInTheErrorNotInAMovie) {
    const std::string sound = store.documents() + "/Audio_0001.caf";
    StoredRecordings::recordSound(sound, 2.0, time.clock());
    StoredRecordings::claimSampleRate(sound, 100.0);
    player = VideoPlayerViewController::initWithImages(StoredRecordings::frames(20), sound);
    navigation->pushViewController(player, true);
    EXPECT_EQ(player->durationLabel()->text(), "0:00/0:00");
    testing::internal::CaptureStderr();
    choose(GetParam().road);
    time.advance(1.01);
    ASSERT_TRUE(runUntil(alertUp));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(alertMessage(), "Could not read sound file");
    EXPECT_TRUE(panelHidden());
    EXPECT_TRUE(player->exportButton()->isEnabled());
    EXPECT_FALSE(
        NSFileManager::defaultManager().fileExistsAtPath(VideoPlayerViewController::outputPath()));
    EXPECT_TRUE(folder(DeviceHome::photoAlbum()).empty());
    EXPECT_TRUE(folder(DeviceHome::outbox()).empty());
}

TEST_F(VideoPlayerExportTest, APlayerLeftDuringAnAlbumExportStillSavesTheMovieThenIsFreed) {
    struct Case {
        const char* when;
        double delay;   // seconds after the choice
        bool encoding;  // leave once the encoding has begun
    };
    for (const Case& c :
         {Case{"within the delay", 0.5, false}, Case{"while encoding", 1.01, true}}) {
        open(20, 2.0);
        testing::internal::CaptureStderr();
        choose("Save to Camera Roll");
        step(c.delay);
        if (c.encoding) {
            ASSERT_TRUE(runUntil([this] { return !steps.empty(); })) << c.when;
        }
        std::weak_ptr<VideoPlayerViewController> weak = player;
        player.reset();
        navigation->popViewControllerAnimated(false);
        EXPECT_FALSE(weak.expired()) << c.when << ": the export holds the player";
        time.advance(1.01 - c.delay);
        ASSERT_TRUE(runUntil([this] { return !folder(DeviceHome::photoAlbum()).empty(); }))
            << c.when;
        step();              // the album's report
        time.advance(1.01);  // the panel hides: the road ends
        EXPECT_TRUE(weak.expired()) << c.when;
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_NE(log.find("Finished Saving\n"), std::string::npos) << c.when << log;
        EXPECT_TRUE(file(DeviceHome::photoAlbum() + "/IMG_0001.MOV") ==
                    file(VideoPlayerViewController::outputPath()))
            << c.when;
        EXPECT_FALSE(application->isIgnoringInteractionEvents()) << c.when;
        NSFileManager::defaultManager().removeItemAtPath(DeviceHome::photoAlbum() +
                                                         "/IMG_0001.MOV");
        NSFileManager::defaultManager().removeItemAtPath(VideoPlayerViewController::outputPath());
        steps.clear();
    }
}

TEST_F(VideoPlayerExportTest, TouchesAreRefusedFromTheChoiceUntilTheRoadHandsOver) {
    open(20, 2.0);
    choose("Save to Camera Roll");
    EXPECT_TRUE(application->isIgnoringInteractionEvents());
    EXPECT_FALSE(navigation->navigationBar()->pressBackButton()) << "the player stays";
    step(1.01);
    ASSERT_TRUE(runUntil([this] { return !player->isSaving(); }));
    EXPECT_FALSE(application->isIgnoringInteractionEvents());
    EXPECT_EQ(navigation->topViewController(), player);
    EXPECT_EQ(folder(DeviceHome::photoAlbum()), std::vector<std::string>{"IMG_0001.MOV"});
    // The road ends with the panel's hiding, which lets the export's hold on the player go.
    step(1.01);
    EXPECT_TRUE(player->exportButton()->isEnabled());
}

struct PasteboardCase {
    const char* what;
    bool olderCopy;
    friend std::ostream& operator<<(std::ostream& out, const PasteboardCase& c) {
        return out << c.what;
    }
};

class VideoPlayerPasteboardTest : public VideoPlayerExportTest,
                                  public ::testing::WithParamInterface<PasteboardCase> {};

TEST_P(VideoPlayerPasteboardTest, TheMovieGoesToTheCopyAndThePasteboardNamesIt) {
    const PasteboardCase& c = GetParam();
    const Data older{'o', 'l', 'd'};
    auto& files = NSFileManager::defaultManager();
    if (c.olderCopy) {
        ASSERT_TRUE(files.createFileAtPath(VideoPlayerViewController::copyPath(), &older));
    }
    open(25, 2.5);
    ASSERT_TRUE(player->pauseButton()->press());
    UIPasteboard::generalPasteboard()->setItems({});

    const std::string before = player->progressLabel()->text();
    testing::internal::CaptureStderr();
    std::atomic<bool> done{false};
    auto worker = NSThread::detachNewThread([this, &done] {
        player->copyMovie();
        done = true;
    });
    auto loop = NSRunLoop::currentRunLoop();
    while (!done) loop->runPending();
    worker->join();
    loop->runPending();
    const std::string log = testing::internal::GetCapturedStderr();

    ASSERT_FALSE(steps.empty());
    for (const ProgressStep& s : steps) {
        EXPECT_TRUE(s.ignoringTouches) << s.value;
        EXPECT_EQ(s.label, s.value > 0.9f ? "Copying..." : before);
    }
    EXPECT_EQ(steps.back().bar, 0.9f);
    EXPECT_FALSE(application->isIgnoringInteractionEvents());
    EXPECT_FALSE(player->isCopying());
    EXPECT_EQ(player->progressView()->progress(), 1.0f);
    EXPECT_TRUE(panelHidden());

    EXPECT_EQ(files.fileExistsAtPath(VideoPlayerViewController::outputPath()), c.olderCopy);
    const Data copy = file(VideoPlayerViewController::copyPath());
    if (c.olderCopy) {
        EXPECT_TRUE(copy == older);
    } else {
        EXPECT_GT(copy.size(), 1000u);
    }

    const ValueArray items = UIPasteboard::generalPasteboard()->items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]["public.utf8-plain-text"].string(), "Video.mov");
    EXPECT_EQ(items[0]["public.url"].string(), "file://" + VideoPlayerViewController::copyPath());
    EXPECT_EQ(items[0].dictionaryRef().size(), 2u);
    EXPECT_NE(log.find("Video.mov"), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(Copies, VideoPlayerPasteboardTest,
                         ::testing::Values(PasteboardCase{"first copy", false},
                                           PasteboardCase{"older copy in the way", true}));

TEST_F(VideoPlayerExportTest, TheVideoEditorsSaveGoesToTheAlbumUnderTheOverlay) {
    open(20, 2.0);
    choose("Email");
    time.advance(1.01);
    ASSERT_TRUE(runUntil(composerUp));
    MFMailComposeViewController::visibleComposer()->cancel();
    const std::string movie = store.documents() + "/edited.mov";
    ASSERT_TRUE(NSFileManager::defaultManager().moveItemAtPath(
        VideoPlayerViewController::outputPath(), movie));

    testing::internal::CaptureStderr();
    player->videoEditorControllerDidSaveEditedVideoToPath(nullptr, movie);
    auto hud = player->HUD();
    ASSERT_TRUE(hud);
    EXPECT_EQ(hud->superview(), window);
    EXPECT_EQ(hud->center(), CGPointMake(160, 240));
    EXPECT_EQ(hud->textLabel()->text(), "Saving");
    EXPECT_TRUE(hud->activityIndicator());
    time.advance(0.01);
    EXPECT_EQ(folder(DeviceHome::photoAlbum()), std::vector<std::string>{"IMG_0001.MOV"});
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Finished Saving"), std::string::npos);
    time.advance(2.0);
    EXPECT_EQ(player->HUD(), hud) << "nothing takes the overlay away";
}

TEST_F(VideoPlayerExportTest, TheVideoEditorsOtherMessages) {
    open(20, 2.0);
    const std::string notAMovie = store.documents() + "/notes.mov";
    const Data text{'h', 'i'};
    ASSERT_TRUE(NSFileManager::defaultManager().createFileAtPath(notAMovie, &text));
    player->videoEditorControllerDidSaveEditedVideoToPath(nullptr, notAMovie);
    EXPECT_EQ(alertMessage(), "Video cannot be exported to the photos album");
    EXPECT_FALSE(player->HUD());
    time.advance(0.1);
    EXPECT_TRUE(folder(DeviceHome::photoAlbum()).empty());
    UIAlertView::topAlert()->pressButtonWithTitle("OK");

    player->videoEditorControllerDidFailWithError(
        nullptr, NSError::make("VideoEditor", 1, "The movie could not be trimmed."));
    EXPECT_EQ(alertMessage(), "The movie could not be trimmed.");
    UIAlertView::topAlert()->pressButtonWithTitle("OK");

    auto editor = std::make_shared<UIViewController>();
    player->presentModalViewController(editor, false);
    application->setStatusBarHidden(true, false);
    player->videoEditorControllerDidCancel(editor.get());
    EXPECT_FALSE(player->modalViewController());
    EXPECT_FALSE(application->isStatusBarHidden());
}

}  // namespace
