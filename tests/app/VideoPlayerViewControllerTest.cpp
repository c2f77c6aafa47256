// The player under the manual clock: pacing, seeking, the bars, the end of the sound and
// leaving, pushed on a navigation controller on a visible window as the album pushes it.

#include "app/Classes/VideoPlayerViewController.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <optional>

#include "platform/Foundation/NSFileManager.h"

#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UINavigationController.h"
#include "platform/UIKit/UIWindow.h"
#include "tests/app/StoredRecordings.h"
#include "tests/support/NamedPipe.h"

namespace {

class VideoPlayerViewControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        application->setStatusBarHidden(false, false);
        application->setIdleTimerDisabled(false);
        window->makeKeyAndVisible();
        window->addSubview(screen->view());
        navigation = UINavigationController::initWithRootViewController(root);
        navigation->navigationBar()->setBarStyle(UIBarStyleBlackTranslucent);
        screen->presentModalViewController(navigation, false);
    }
    void TearDown() override { screen->dismissModalViewControllerAnimated(false); }

    // Opens a player on `frames` frames and a sound of `seconds` (none for 0).
    void open(int frames, double seconds) {
        const std::string sound = store.documents() + "/Audio_0001.caf";
        if (seconds > 0)
            StoredRecordings::recordSound(sound, seconds, time.clock());
        player = VideoPlayerViewController::initWithImages(StoredRecordings::frames(frames), sound);
        navigation->pushViewController(player, true);
    }
    // Moves on by `ticks` frame intervals (a hair more, so that each tick falls due).
    void ticks(int count) {
        for (int i = 0; i < count; ++i) time.advance(player->frameInterval() + 1e-6);
    }
    int frame() const { return std::stoi(player->imageView()->accessibilityValue()); }
    std::string items() const { return player->bottombar()->itemNames(); }

    ManualClockScope time;
    StoredRecordings store;
    std::shared_ptr<UIApplication> application = UIApplication::sharedApplication();
    std::shared_ptr<UIWindow> window = UIWindow::initWithFrame(CGRectMake(0, 0, 320, 480));
    std::shared_ptr<UIViewController> screen = std::make_shared<UIViewController>();
    std::shared_ptr<UIViewController> root = std::make_shared<UIViewController>();
    std::shared_ptr<UINavigationController> navigation;
    std::shared_ptr<VideoPlayerViewController> player;
};

TEST_F(VideoPlayerViewControllerTest, TenSecondsOfAHundredFramesPlayOneFramePerTenthFromFrameTwo) {
    testing::internal::CaptureStderr();
    open(100, 10.0);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find(" 10.000000\n"), std::string::npos) << log;
    EXPECT_FLOAT_EQ(player->frameInterval(), 0.1f);
    // At once, before any timer fired.
    EXPECT_EQ(player->durationLabel()->text(), "0:00/0:10");
    EXPECT_EQ(frame(), 2);
    EXPECT_TRUE(player->player()->isPlaying());
    EXPECT_EQ(items(), "exportButton fixedSpace pauseButton");
    EXPECT_TRUE(application->isIdleTimerDisabled());
    EXPECT_EQ(player->seekSlider()->maximumValue(), 9.9f);
    EXPECT_EQ(player->tapButton()->frame(), player->imageView()->frame());
    time.runDue();
    EXPECT_EQ(frame(), 2);
    for (int expected = 3; expected < 40; ++expected) {
        ticks(1);
        ASSERT_EQ(frame(), expected);
    }
    EXPECT_EQ(player->durationLabel()->text(), "0:03/0:10");
}

TEST_F(VideoPlayerViewControllerTest, ASeekShowsItsFrameAtTheNextTickAndResumesPlayback) {
    open(100, 10.0);
    ticks(5);
    auto& slider = *player->seekSlider();
    ASSERT_TRUE(slider.touchDown());
    ASSERT_TRUE(slider.moveTo(4.56f));
    EXPECT_FALSE(player->player()->isPlaying());
    EXPECT_EQ(frame(), 7);
    ticks(1);
    EXPECT_EQ(frame(), 45);
    ticks(3);
    EXPECT_EQ(frame(), 45) << "held while the finger is down";
    ASSERT_TRUE(slider.touchUpInside());
    EXPECT_FALSE(player->player()->isPlaying()) << "resumes on the next run-loop pass";
    time.runDue();
    EXPECT_TRUE(player->player()->isPlaying());
    EXPECT_EQ(items(), "exportButton fixedSpace pauseButton");
    ticks(1);
    EXPECT_EQ(frame(), 45) << "redrawn at the new frame";
    ticks(1);
    EXPECT_EQ(frame(), 46);
}

TEST_F(VideoPlayerViewControllerTest, ASeekWhilePausedMovesThePictureAndStaysPaused) {
    open(100, 10.0);
    ticks(3);
    EXPECT_TRUE(player->pauseButton()->press());
    EXPECT_EQ(items(), "exportButton fixedSpace playButton");
    EXPECT_FALSE(application->isIdleTimerDisabled());
    ASSERT_TRUE(player->seekSlider()->slide(4.56f));
    ticks(1);
    EXPECT_EQ(frame(), 45);
    time.advance(2.0);
    EXPECT_FALSE(player->player()->isPlaying());
    EXPECT_EQ(frame(), 45);
    EXPECT_DOUBLE_EQ(player->player()->currentTime(), static_cast<double>(4.56f));
    EXPECT_EQ(items(), "exportButton fixedSpace playButton");
}

TEST_F(VideoPlayerViewControllerTest, TheBarsFadeTwoSecondsAfterPlayAndATapTogglesThem) {
    open(100, 10.0);
    auto bar = navigation->navigationBar();
    time.advance(1.99);
    EXPECT_EQ(player->topBar()->alpha(), 1.0);
    EXPECT_FALSE(application->isStatusBarHidden());
    time.advance(0.02);
    for (UIView* view :
         {static_cast<UIView*>(player->topBar().get()),
          static_cast<UIView*>(player->bottombar().get()),
          static_cast<UIView*>(player->durationLabel().get()), static_cast<UIView*>(bar.get())})
        EXPECT_EQ(view->alpha(), 0.0);
    EXPECT_TRUE(application->isStatusBarHidden());
    EXPECT_GT(player->topBar()->presentationAlpha(), 0.0) << "fading over 0.4 s";
    time.advance(0.4);
    EXPECT_EQ(player->topBar()->presentationAlpha(), 0.0);
    EXPECT_EQ(player->imageView()->alpha(), 1.0);

    ASSERT_TRUE(player->tapButton()->tap());
    EXPECT_EQ(player->topBar()->alpha(), 1.0);
    EXPECT_EQ(bar->alpha(), 1.0);
    EXPECT_FALSE(application->isStatusBarHidden());
    time.advance(5.0);
    EXPECT_EQ(player->topBar()->alpha(), 1.0) << "a tap schedules no auto-hide";
}

TEST_F(VideoPlayerViewControllerTest, ASeekKeepsTheBarsUp) {
    open(100, 10.0);
    time.advance(1.0);
    ASSERT_TRUE(player->seekSlider()->slide(3.0f));
    time.advance(4.0);
    EXPECT_EQ(player->topBar()->alpha(), 1.0);
    EXPECT_TRUE(player->player()->isPlaying());
}

TEST_F(VideoPlayerViewControllerTest, TheEndOfTheSoundBringsTheBarsBackAndRewindsToFrameZero) {
    open(100, 10.0);
    time.advance(3.0);
    ASSERT_EQ(player->topBar()->alpha(), 0.0);
    time.advance(7.0);
    EXPECT_FALSE(player->player()->isPlaying());
    EXPECT_EQ(player->topBar()->alpha(), 1.0);
    EXPECT_EQ(navigation->navigationBar()->alpha(), 1.0);
    EXPECT_FALSE(application->isStatusBarHidden());
    EXPECT_EQ(items(), "exportButton fixedSpace playButton");
    EXPECT_TRUE(application->isIdleTimerDisabled()) << "only pause enables it again";
    ticks(1);
    EXPECT_EQ(frame(), 0);
    ticks(3);
    EXPECT_EQ(frame(), 0);
    // Play runs the picture from frame 0.
    EXPECT_TRUE(player->playButton()->press());
    ticks(1);
    EXPECT_EQ(frame(), 0);
    ticks(1);
    EXPECT_EQ(frame(), 1);
}

TEST_F(VideoPlayerViewControllerTest, AnEndWithinTwoSecondsOfPlayStillHidesTheBars) {
    open(10, 1.0);
    time.advance(1.5);
    EXPECT_EQ(player->topBar()->alpha(), 1.0);
    time.advance(0.6);
    EXPECT_EQ(player->topBar()->alpha(), 0.0);
}

TEST_F(VideoPlayerViewControllerTest, FewerThanThreeFramesShowNoPictureUntilASeek) {
    open(2, 4.0);
    EXPECT_EQ(frame(), -1);
    EXPECT_FALSE(player->imageView()->image());
    time.advance(3.5);
    EXPECT_EQ(frame(), -1);
    EXPECT_FALSE(player->seekSlider()->slide(0.0f)) << "the bars are hidden by now";
    ASSERT_TRUE(player->tapButton()->tap());
    ASSERT_TRUE(player->seekSlider()->slide(0.0f));
    ticks(1);
    EXPECT_EQ(frame(), 0);
    ticks(1);
    EXPECT_EQ(frame(), 1);
    // The end of the sound shows frame 0 as well.
    ticks(2);
    EXPECT_FALSE(player->player()->isPlaying());
    EXPECT_EQ(frame(), 0);
}

TEST_F(VideoPlayerViewControllerTest, LeavingStopsTheSoundAndBothTimersAndFreesThePlayer) {
    open(100, 10.0);
    time.advance(2.5);
    ASSERT_TRUE(player->tapButton()->tap());
    std::weak_ptr<VideoPlayerViewController> weak = player;
    auto sound = player->player();
    player.reset();
    EXPECT_TRUE(navigation->navigationBar()->pressBackButton());
    EXPECT_FALSE(sound->isPlaying());
    EXPECT_FALSE(application->isStatusBarHidden());
    EXPECT_TRUE(weak.expired()) << "a timer or a delayed call still holds the player";
    time.advance(20.0);
}

TEST_F(VideoPlayerViewControllerTest, WithoutSoundOrFramesTheScreenOpensWithoutAPicture) {
    enum class Sound { None, Recorded, Damaged, CutShort, LyingRate, LongerThanItsFile, Pipe };
    struct Case {
        const char* what;
        int frames;
        Sound sound;
    };
    const std::string path = store.documents() + "/Audio_0001.caf";
    for (const Case& c : {Case{"no sound file", 100, Sound::None},
                          Case{"a sound file that is no sound", 100, Sound::Damaged},
                          Case{"a sound file cut off in its header", 100, Sound::CutShort},
                          Case{"a header that claims 100 Hz", 100, Sound::LyingRate},
                          Case{"a header that claims more sound than the file holds", 100,
                               Sound::LongerThanItsFile},
                          Case{"a named pipe in the sound file's place", 100, Sound::Pipe},
                          Case{"no frames", 0, Sound::Recorded}, Case{"neither", 0, Sound::None}}) {
        NSFileManager::defaultManager().removeItemAtPath(path);
        if (c.sound != Sound::None && c.sound != Sound::Damaged && c.sound != Sound::Pipe)
            StoredRecordings::recordSound(path, 3.0, time.clock());
        if (c.sound == Sound::CutShort) {
            ASSERT_EQ(::truncate(path.c_str(), 40), 0);
        }
        if (c.sound == Sound::Damaged)
            std::ofstream(path) << "caff, but only in name";
        if (c.sound == Sound::LyingRate)
            StoredRecordings::claimSampleRate(path, 100.0);
        if (c.sound == Sound::LongerThanItsFile) {
            ASSERT_EQ(::truncate(path.c_str(), 4096 + 44100), 0);
        }
        std::optional<NamedPipe> pipe;
        if (c.sound == Sound::Pipe) {
            ASSERT_TRUE(static_cast<bool>(pipe.emplace(path)));
        }
        WaitAlarm alarm;
        player =
            VideoPlayerViewController::initWithImages(StoredRecordings::frames(c.frames), path);
        navigation->pushViewController(player, true);
        EXPECT_FALSE(alarm.rang()) << c.what << ": the player waited for the sound file";
        EXPECT_EQ(player->player() != nullptr, c.sound == Sound::Recorded) << c.what;
        EXPECT_EQ(player->frameInterval(), 0.0f) << c.what;
        EXPECT_EQ(frame(), -1) << c.what;
        time.advance(1.0);
        EXPECT_EQ(frame(), -1) << c.what;
        EXPECT_TRUE(player->seekSlider()->slide(0.5f)) << c.what;
        ticks(1);
        EXPECT_TRUE(player->pauseButton()->press()) << c.what;
        EXPECT_EQ(items(), "exportButton fixedSpace playButton") << c.what;
        EXPECT_TRUE(player->playButton()->press()) << c.what;
        EXPECT_EQ(items(), "exportButton fixedSpace pauseButton") << c.what;
        EXPECT_TRUE(player->tapButton()->tap()) << c.what;
        EXPECT_EQ(frame(), -1) << c.what;
        navigation->popViewControllerAnimated(false);
    }
}

}  // namespace
