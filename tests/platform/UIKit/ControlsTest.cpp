// Slider, progress bar, toolbar, animation blocks, the image view's transform and the status bar.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/Foundation/NSData.h"
#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UIImageView.h"
#include "platform/UIKit/UINibLoader.h"
#include "platform/UIKit/UIProgressView.h"
#include "platform/UIKit/UISlider.h"
#include "platform/UIKit/UIToolbar.h"
#include "tests/support/RunLoopTesting.h"
#include "tests/support/TemporaryFolder.h"

namespace {

// Records the slider events it hears, with the value at that moment.
class SliderListener : public NSObject, public UINibConnectable {
  public:
    void down() { events.push_back("down " + value()); }
    void changed() { events.push_back("changed " + value()); }
    void upInside() { events.push_back("upInside " + value()); }
    void upOutside() { events.push_back("upOutside " + value()); }
    std::string value() const {
        char text[32];
        std::snprintf(text, sizeof text, "%g", slider->value());
        return text;
    }
    Action actionNamed(const std::string& name) override {
        if (name == "play")
            return [this] { events.push_back("play"); };
        if (name == "pause")
            return [this] { events.push_back("pause"); };
        return {};
    }
    bool setOutlet(const std::string& name, const std::shared_ptr<NSObject>& object) override {
        if (name == "bar")
            return assignOutlet(bar, object);
        return false;
    }
    std::shared_ptr<UISlider> slider;
    std::shared_ptr<UIToolbar> bar;
    std::vector<std::string> events;
};

class SliderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        listener->slider = slider;
        slider->setMaximumValue(9.9f);
        slider->addTarget(listener, &SliderListener::down, UIControlEventTouchDown);
        slider->addTarget(listener, &SliderListener::changed, UIControlEventValueChanged);
        slider->addTarget(listener, &SliderListener::upInside, UIControlEventTouchUpInside);
        slider->addTarget(listener, &SliderListener::upOutside, UIControlEventTouchUpOutside);
    }
    std::shared_ptr<UISlider> slider = std::make_shared<UISlider>();
    std::shared_ptr<SliderListener> listener = std::make_shared<SliderListener>();
};

TEST_F(SliderTest, ASlideIsTouchDownValueChangedTouchUpInside) {
    EXPECT_TRUE(slider->slide(4.56f));
    EXPECT_EQ(listener->events,
              (std::vector<std::string>{"down 0", "changed 4.56", "upInside 4.56"}));
    EXPECT_FALSE(slider->isTracking());
}

TEST_F(SliderTest, TheValueIsPinnedToTheRange) {
    struct Case {
        float wanted;
        float kept;
    };
    for (const Case& c :
         {Case{-3, 0}, Case{0, 0}, Case{5, 5}, Case{9.9f, 9.9f}, Case{12, 9.9f}, Case{NAN, 0}}) {
        slider->setValue(c.wanted);
        EXPECT_EQ(slider->value(), c.kept) << c.wanted;
    }
    slider->setValue(8);
    slider->setMaximumValue(5);
    EXPECT_EQ(slider->value(), 5);
    EXPECT_TRUE(listener->events.empty()) << "only a person's drag sends events";
}

TEST_F(SliderTest, ATouchMustBeDownAndTheSliderUsable) {
    EXPECT_FALSE(slider->moveTo(3));
    EXPECT_FALSE(slider->touchUpInside());
    slider->setEnabled(false);
    EXPECT_FALSE(slider->slide(3));
    slider->setEnabled(true);
    slider->setAlpha(0);
    EXPECT_FALSE(slider->slide(3));
    EXPECT_TRUE(listener->events.empty());
    slider->setAlpha(1);
    EXPECT_TRUE(slider->touchDown());
    EXPECT_TRUE(slider->moveTo(2));
    EXPECT_TRUE(slider->touchUpOutside());
    EXPECT_EQ(listener->events, (std::vector<std::string>{"down 0", "changed 2", "upOutside 2"}));
}

TEST_F(SliderTest, NoDragWhileTheApplicationIgnoresTouches) {
    auto application = UIApplication::sharedApplication();
    application->beginIgnoringInteractionEvents();
    EXPECT_FALSE(slider->slide(3));
    application->endIgnoringInteractionEvents();
    EXPECT_TRUE(slider->slide(3));
    EXPECT_EQ(listener->events.size(), 3u);
}

TEST(ProgressViewTest, ProgressIsPinned) {
    UIProgressView bar;
    for (auto [given, kept] : std::vector<std::pair<float, float>>{
             {0.5f, 0.5f}, {-1, 0}, {1.05f, 1}, {NAN, 0}, {1, 1}}) {
        bar.setProgress(given);
        EXPECT_EQ(bar.progress(), kept) << given;
    }
}

TEST(ToolbarTest, InterfaceFileItemsKeepTheirOrderNamesAndActions) {
    TemporaryFolder folder;
    const std::string nib = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>objects</key><array>
  <dict><key>id</key><string>bar</string><key>class</key><string>UIToolbar</string>
        <key>barStyle</key><string>blackTranslucent</string></dict>
  <dict><key>id</key><string>exportButton</string><key>class</key><string>UIBarButtonItem</string>
        <key>systemItem</key><string>action</string></dict>
  <dict><key>id</key><string>fixedSpace</string><key>class</key><string>UIBarButtonItem</string>
        <key>systemItem</key><string>fixedSpace</string><key>width</key><real>78</real></dict>
  <dict><key>id</key><string>playButton</string><key>class</key><string>UIBarButtonItem</string>
        <key>systemItem</key><string>play</string></dict>
</array>
<key>connections</key><array>
  <dict><key>source</key><string>File's Owner</string><key>outlet</key><string>bar</string>
        <key>destination</key><string>bar</string></dict>
  <dict><key>source</key><string>bar</string><key>outlet</key><string>items</string>
        <key>destination</key><string>exportButton</string></dict>
  <dict><key>source</key><string>bar</string><key>outlet</key><string>items</string>
        <key>destination</key><string>fixedSpace</string></dict>
  <dict><key>source</key><string>bar</string><key>outlet</key><string>items</string>
        <key>destination</key><string>playButton</string></dict>
  <dict><key>source</key><string>playButton</string><key>action</key><string>play</string>
        <key>destination</key><string>File's Owner</string></dict>
</array></dict></plist>)";
    ASSERT_TRUE(NSData::writeToFile(Data(nib.begin(), nib.end()), folder / "Bar.plist", false));
    auto owner = std::make_shared<SliderListener>();
    NSErrorPtr error;
    ASSERT_TRUE(UINibLoader::loadNibFile(folder / "Bar.plist", owner, &error))
        << error->localizedDescription();
    ASSERT_NE(owner->bar, nullptr);
    EXPECT_EQ(owner->bar->itemNames(), "exportButton fixedSpace playButton");
    EXPECT_EQ(owner->bar->barStyle(), UIBarStyleBlackTranslucent);
    EXPECT_EQ(owner->bar->itemNamed("fixedSpace")->width(), 78);
    EXPECT_TRUE(owner->bar->pressItemNamed("playButton"));
    // Nothing connected to the export item; a space is never pressed.
    EXPECT_FALSE(owner->bar->pressItemNamed("exportButton"));
    EXPECT_FALSE(owner->bar->pressItemNamed("fixedSpace"));
    owner->bar->setAlpha(0);
    EXPECT_FALSE(owner->bar->pressItemNamed("playButton"));
    EXPECT_EQ(owner->events, std::vector<std::string>{"play"});

    // The play item's rectangle comes after the export item and the fixed space.
    auto rects = owner->bar->itemRects();
    ASSERT_EQ(rects.size(), 3u);
    EXPECT_EQ(rects[1].size.width, 78);
    EXPECT_GT(rects[2].origin.x, rects[1].origin.x + 78);
}

class AnimationTest : public ::testing::Test {
  protected:
    ManualClockScope time;
    std::shared_ptr<UIView> bar = UIView::initWithFrame(CGRectMake(0, 0, 320, 44));
    std::shared_ptr<UIView> label = UIView::initWithFrame(CGRectMake(0, 0, 80, 44));
};

TEST_F(AnimationTest, TheModelChangesAtOnceTheScreenOverTheDuration) {
    UIView::beginAnimations("bars");
    UIView::setAnimationDuration(0.4);
    bar->setAlpha(0);
    label->setAlpha(0.5);
    EXPECT_EQ(bar->alpha(), 0);
    UIView::commitAnimations();
    EXPECT_EQ(bar->alpha(), 0);
    EXPECT_EQ(bar->presentationAlpha(), 1);
    time.advance(0.1);
    EXPECT_NEAR(bar->presentationAlpha(), 0.75, 1e-5);
    EXPECT_NEAR(label->presentationAlpha(), 0.875, 1e-5);
    time.advance(0.31);
    EXPECT_EQ(bar->presentationAlpha(), 0);
    EXPECT_EQ(label->presentationAlpha(), 0.5);
}

TEST_F(AnimationTest, AReversalStartsFromWhatTheScreenShows) {
    UIView::beginAnimations("out");
    UIView::setAnimationDuration(0.4);
    bar->setAlpha(0);
    UIView::commitAnimations();
    time.advance(0.2);
    UIView::beginAnimations("back");
    UIView::setAnimationDuration(0.4);
    bar->setAlpha(1);
    UIView::commitAnimations();
    EXPECT_NEAR(bar->presentationAlpha(), 0.5, 1e-5);
    time.advance(0.2);
    EXPECT_NEAR(bar->presentationAlpha(), 0.75, 1e-5);
}

TEST_F(AnimationTest, NestedBlocksRunFromTheOutermostCommitAndPlainChangesAreImmediate) {
    UIView::beginAnimations("outer");
    UIView::setAnimationDuration(1.0);
    UIView::beginAnimations("inner");
    bar->setAlpha(0);
    UIView::commitAnimations();
    time.advance(0.5);
    UIView::commitAnimations();
    EXPECT_EQ(bar->presentationAlpha(), 1);
    time.advance(0.5);
    EXPECT_NEAR(bar->presentationAlpha(), 0.5, 1e-5);
    bar->setAlpha(0.2);
    EXPECT_EQ(bar->presentationAlpha(), 0.2);
}

TEST_F(AnimationTest, TheStatusBarFadesWhenAnimated) {
    auto application = std::make_shared<UIApplication>();
    application->setStatusBarHidden(true, false);
    EXPECT_EQ(application->statusBarOpacity(), 0);
    application->setStatusBarHidden(false, true);
    EXPECT_FALSE(application->isStatusBarHidden());
    EXPECT_EQ(application->statusBarOpacity(), 0);
    time.advance(UIApplication::kStatusBarFadeDuration / 2);
    EXPECT_NEAR(application->statusBarOpacity(), 0.5, 1e-5);
    time.advance(UIApplication::kStatusBarFadeDuration);
    EXPECT_EQ(application->statusBarOpacity(), 1);
}

// A 2 x 2 red picture.
std::shared_ptr<UIImage> redImage() {
    return UIImage::imageWithCGImage(CGImage::make(2, 2, true, [](uint8_t* rows, size_t stride) {
        for (size_t y = 0; y < 2; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(rows + y * stride);
            row[0] = row[1] = 0xFFFF0000;
        }
    }));
}

// The colour of one pixel of a drawing as 0xRRGGBB.
uint32_t pixelAt(cairo_surface_t* surface, int x, int y) {
    cairo_surface_flush(surface);
    auto* data = cairo_image_surface_get_data(surface);
    auto stride = cairo_image_surface_get_stride(surface);
    return reinterpret_cast<uint32_t*>(data + y * stride)[x] & 0xFFFFFF;
}

TEST(ImageViewTransformTest, AScaleAboutTheCentreGrowsTheFrameAndThePicture) {
    auto view = UIImageView::initWithImage(redImage());
    view->setFrame(CGRectMake(32, 46, 256, 368));
    view->setTransform(CGAffineTransformMakeScale(1.25, 1.25));
    EXPECT_EQ(view->frame(), CGRectMake(0, 0, 320, 460));
    // Setting it again scales the original size, not the scaled one.
    view->setTransform(CGAffineTransformMakeScale(1.25, 1.25));
    EXPECT_EQ(view->frame(), CGRectMake(0, 0, 320, 460));

    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 320, 460);
    cairo_t* cr = cairo_create(surface);
    view->drawHierarchy(cr);
    cairo_destroy(cr);
    // Red reaches the corners of the scaled frame, beyond the untransformed one.
    EXPECT_EQ(pixelAt(surface, 2, 2), 0xFF0000u);
    EXPECT_EQ(pixelAt(surface, 317, 457), 0xFF0000u);
    cairo_surface_destroy(surface);

    view->setTransform(CGAffineTransformIdentity);
    EXPECT_EQ(view->frame(), CGRectMake(32, 46, 256, 368));
}

}  // namespace
