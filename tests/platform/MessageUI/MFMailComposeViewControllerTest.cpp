#include "platform/MessageUI/MFMailComposeViewController.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <ostream>
#include <random>

#include "platform/Device/DeviceHome.h"
#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSPathUtilities.h"
#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UIWindow.h"
#include "tests/support/MailMessageReader.h"
#include "tests/support/RunLoopTesting.h"
#include "tests/support/TemporaryFolder.h"

namespace {

struct Finish {
    MFMailComposeResult result;
    NSErrorPtr error;
};

// Hears how the composer ended and, like the player, dismisses it.
struct PresentingDelegate : MFMailComposeViewControllerDelegate {
    void mailComposeControllerDidFinishWithResult(MFMailComposeViewController* controller,
                                                  MFMailComposeResult result,
                                                  const NSErrorPtr& error) override {
        finishes.push_back({result, error});
        controller->dismissModalViewControllerAnimated(true);
    }
    std::vector<Finish> finishes;
};

Data randomBytes(size_t size) {
    std::mt19937 generator(static_cast<unsigned>(size));
    Data bytes(size);
    for (auto& b : bytes) b = static_cast<uint8_t>(generator());
    return bytes;
}

class MailComposerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(DeviceHome::prepare(dir / "home"));
        window = UIWindow::initWithFrame(CGRectMake(0, 0, 320, 480));
        presenter = std::make_shared<UIViewController>();
        window->addSubview(presenter->view());
        window->makeKeyAndVisible();
        composer->setMailComposeDelegate(delegate);
    }
    void TearDown() override {
        while (UIApplication::sharedApplication()->isIgnoringInteractionEvents())
            UIApplication::sharedApplication()->endIgnoringInteractionEvents();
        NSSetHomeDirectory("");
    }
    std::vector<std::string> outbox() const {
        return NSFileManager::defaultManager()
            .contentsOfDirectoryAtPath(DeviceHome::outbox())
            .value_or(std::vector<std::string>{});
    }

    ManualClockScope time;
    TemporaryFolder dir;
    std::shared_ptr<UIWindow> window;
    std::shared_ptr<UIViewController> presenter;
    std::shared_ptr<MFMailComposeViewController> composer = MFMailComposeViewController::init();
    std::shared_ptr<PresentingDelegate> delegate = std::make_shared<PresentingDelegate>();
};

struct AttachmentCase {
    size_t size;
    std::string mimeType;
    std::string fileName;
    std::string expectedType;
    friend std::ostream& operator<<(std::ostream& out, const AttachmentCase& c) {
        return out << c.size << " bytes as " << c.fileName;
    }
};

class MailSendTest : public MailComposerTest,
                     public ::testing::WithParamInterface<AttachmentCase> {};

TEST_P(MailSendTest, SendingLeavesOneMessageInTheOutboxThatAMailReaderUnpacks) {
    const AttachmentCase& c = GetParam();
    const Data bytes = randomBytes(c.size);
    composer->addAttachmentData(bytes, c.mimeType, c.fileName);
    presenter->presentModalViewController(composer, true);
    ASSERT_EQ(MFMailComposeViewController::visibleComposer(), composer);

    ASSERT_TRUE(MFMailComposeViewController::visibleComposer()->send());
    ASSERT_EQ(delegate->finishes.size(), 1u);
    EXPECT_EQ(delegate->finishes[0].result, MFMailComposeResultSent);
    EXPECT_FALSE(delegate->finishes[0].error);
    EXPECT_FALSE(MFMailComposeViewController::visibleComposer());  // the delegate dismissed it
    EXPECT_FALSE(composer->send());

    ASSERT_EQ(outbox(), std::vector<std::string>{"Message_0001.eml"});
    EXPECT_EQ(composer->sentMessagePath(), DeviceHome::outbox() + "/Message_0001.eml");
    auto message = readMailMessage(composer->sentMessagePath(), dir.path());
    ASSERT_TRUE(message.is_object()) << "python3 could not read the message";
    EXPECT_EQ(message["defects"], nlohmann::json::array());
    EXPECT_EQ(message["type"], "multipart/mixed");
    EXPECT_EQ(message["mime_version"], "1.0");
    EXPECT_EQ(message["from"], "owner@phone.invalid");
    EXPECT_TRUE(message["message_id"].is_string());
    EXPECT_EQ(message["date"], 1'300'000'000.0);  // the clock's time
    EXPECT_EQ(message["body"], "");
    ASSERT_EQ(message["attachments"].size(), 1u);
    const auto& attachment = message["attachments"][0];
    EXPECT_EQ(attachment["type"], c.expectedType);
    EXPECT_EQ(attachment["filename"], c.fileName);
    EXPECT_EQ(attachment["disposition"], "attachment");
    EXPECT_EQ(attachment["encoding"], "base64");
    EXPECT_EQ(NSData::dataWithContentsOfFile(attachment["file"].get<std::string>()), bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Attachments, MailSendTest,
    ::testing::Values(AttachmentCase{300000, "video/quicktime", "Video.mov", "video/quicktime"},
                      // Sizes around base64's groups of three and its 57-byte lines.
                      AttachmentCase{0, "video/quicktime", "Video.mov", "video/quicktime"},
                      AttachmentCase{1, "video/quicktime", "Video.mov", "video/quicktime"},
                      AttachmentCase{2, "application/pdf", "a.pdf", "application/pdf"},
                      AttachmentCase{57, "image/png", "a.png", "image/png"},
                      AttachmentCase{58, "", "blob", "application/octet-stream"},
                      AttachmentCase{100, "text/plain", "Vid\xC3\xA9o \"1\".txt", "text/plain"}));

TEST_F(MailComposerTest, TwoAttachmentsTravelInOrderAndASecondMessageTakesTheNextName) {
    composer->addAttachmentData(randomBytes(10), "video/quicktime", "Video.mov");
    composer->addAttachmentData(randomBytes(11), "image/jpeg", "Thumb.jpg");
    presenter->presentModalViewController(composer, false);
    ASSERT_TRUE(composer->send());
    auto second = MFMailComposeViewController::init();
    presenter->presentModalViewController(second, false);
    ASSERT_TRUE(second->send());  // no delegate: nobody hears it, the message goes all the same
    EXPECT_EQ(outbox(), (std::vector<std::string>{"Message_0001.eml", "Message_0002.eml"}));

    auto message = readMailMessage(composer->sentMessagePath(), dir.path());
    ASSERT_TRUE(message.is_object());
    ASSERT_EQ(message["attachments"].size(), 2u);
    EXPECT_EQ(message["attachments"][0]["filename"], "Video.mov");
    EXPECT_EQ(message["attachments"][1]["filename"], "Thumb.jpg");
    EXPECT_EQ(NSData::dataWithContentsOfFile(message["attachments"][1]["file"].get<std::string>()),
              randomBytes(11));
}

TEST_F(MailComposerTest, SaveAndCancelReportTheirResultAndWriteNothing) {
    const std::pair<bool (MFMailComposeViewController::*)(), MFMailComposeResult> answers[] = {
        {&MFMailComposeViewController::save, MFMailComposeResultSaved},
        {&MFMailComposeViewController::cancel, MFMailComposeResultCancelled}};
    for (auto [answer, expected] : answers) {
        auto shown = MFMailComposeViewController::init();
        shown->setMailComposeDelegate(delegate);
        shown->addAttachmentData(randomBytes(5), "video/quicktime", "Video.mov");
        presenter->presentModalViewController(shown, true);
        ASSERT_TRUE(((*shown).*answer)());
        ASSERT_FALSE(delegate->finishes.empty());
        EXPECT_EQ(delegate->finishes.back().result, expected);
        EXPECT_FALSE(delegate->finishes.back().error);
    }
    EXPECT_EQ(delegate->finishes.size(), 2u);
    EXPECT_TRUE(outbox().empty());
}

TEST_F(MailComposerTest, AMessageThatCannotBeWrittenFailsWithAnError) {
    auto& files = NSFileManager::defaultManager();
    ASSERT_TRUE(files.removeItemAtPath(DeviceHome::outbox()));
    ASSERT_TRUE(files.createFileAtPath(DeviceHome::outbox(), nullptr));
    composer->addAttachmentData(randomBytes(5), "video/quicktime", "Video.mov");
    presenter->presentModalViewController(composer, true);
    ASSERT_TRUE(composer->send());
    ASSERT_EQ(delegate->finishes.size(), 1u);
    EXPECT_EQ(delegate->finishes[0].result, MFMailComposeResultFailed);
    ASSERT_TRUE(delegate->finishes[0].error);
    EXPECT_EQ(delegate->finishes[0].error->domain(), MFMailComposeErrorDomain);
    EXPECT_EQ(delegate->finishes[0].error->code(), MFMailComposeErrorCodeSendFailed);
    EXPECT_EQ(composer->sentMessagePath(), "");
}

TEST_F(MailComposerTest, AFingerSendsOrChoosesWhatBecomesOfTheDraft) {
    auto application = UIApplication::sharedApplication();
    auto tap = [&](CGPoint at) {
        application->sendTouch(UITouchPhaseBegan, at);
        application->sendTouch(UITouchPhaseEnded, at);
    };
    // The composer's bar lies at y 20 to 64: Cancel at its left, Send at its right. The sheet's
    // rows are 52 points high from y 298: Delete Draft, Save Draft, then Cancel 10 points lower.
    const CGPoint cancel{40, 42}, send{280, 42}, deleteDraft{160, 324}, saveDraft{160, 376},
        keepWriting{160, 438};
    struct Case {
        std::vector<CGPoint> taps;
        std::vector<MFMailComposeResult> results;
    };
    const Case cases[] = {
        {{cancel, keepWriting}, {}},
        {{cancel, keepWriting, cancel, saveDraft}, {MFMailComposeResultSaved}},
        {{cancel, deleteDraft}, {MFMailComposeResultCancelled}},
        {{{160, 300}, send}, {MFMailComposeResultSent}},
    };
    for (const Case& c : cases) {
        delegate->finishes.clear();
        auto shown = MFMailComposeViewController::init();
        shown->setMailComposeDelegate(delegate);
        shown->addAttachmentData(randomBytes(5), "video/quicktime", "Video.mov");
        presenter->presentModalViewController(shown, true);
        for (const CGPoint& at : c.taps) tap(at);
        std::vector<MFMailComposeResult> results;
        for (const auto& finish : delegate->finishes) results.push_back(finish.result);
        EXPECT_EQ(results, c.results) << c.taps.size() << " taps";
        EXPECT_FALSE(UIActionSheet::topSheet());
        if (c.results.empty())
            presenter->dismissModalViewControllerAnimated(false);
    }
    EXPECT_EQ(outbox().size(), 1u);
}

TEST_F(MailComposerTest, OnlyAComposerOnScreenCanBeAnswered) {
    EXPECT_FALSE(composer->cancel());  // not presented
    presenter->presentModalViewController(composer, true);
    UIApplication::sharedApplication()->beginIgnoringInteractionEvents();
    EXPECT_FALSE(composer->send());
    UIApplication::sharedApplication()->endIgnoringInteractionEvents();
    EXPECT_TRUE(delegate->finishes.empty());
    EXPECT_TRUE(outbox().empty());
    EXPECT_TRUE(composer->cancel());
    EXPECT_FALSE(composer->isFinished() && composer->cancel());
    EXPECT_EQ(delegate->finishes.size(), 1u);
}

}  // namespace
