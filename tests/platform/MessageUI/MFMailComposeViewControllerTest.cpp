#include "platform/MessageUI/MFMailComposeViewController.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <ostream>
#include <random>
#include <sstream>

#include "platform/Device/DeviceHome.h"
#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSPathUtilities.h"
#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UIPasteboard.h"
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
        time.advance(UIViewController::kTransitionDuration);  // touches wait for the screen
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

using Field = MFMailComposeViewController::Field;

// A person typing into a presented composer through the application, as the window's keys do.
class MailTypingTest : public MailComposerTest {
  protected:
    void SetUp() override {
        MailComposerTest::SetUp();
        composer->addAttachmentData(randomBytes(5), "video/quicktime", "Video.mov");
        presenter->presentModalViewController(composer, true);
        time.advance(UIViewController::kTransitionDuration);  // touches wait for the screen
    }
    void TearDown() override {
        UIPasteboard::generalPasteboard()->setItems({});
        MailComposerTest::TearDown();
    }
    void type(const std::string& text) { application->sendText(text); }
    void tap(CGPoint at) {
        application->sendTouch(UITouchPhaseBegan, at);
        application->sendTouch(UITouchPhaseEnded, at);
    }
    // The texts of To, Cc/Bcc, Subject and the body.
    std::vector<std::string> fields() const {
        return {composer->text(Field::To), composer->text(Field::CcBcc),
                composer->text(Field::Subject), composer->text(Field::Body)};
    }

    std::shared_ptr<UIApplication> application = UIApplication::sharedApplication();
};

TEST_F(MailTypingTest, TypingFillsTheFieldWithTheCaretAndTabOrAClickMovesIt) {
    EXPECT_EQ(composer->focusedField(), Field::To);
    type("hq@example.invalid");
    application->sendTab(false);
    type("q");
    type("uinn@example.invalid");
    application->sendTab(false);
    type("H\xC3\xA9llo");
    type("\n");  // Return leaves a line of its own for the next field
    EXPECT_EQ(composer->focusedField(), Field::Body);
    type("Line one\nLine two");
    EXPECT_EQ(fields(), (std::vector<std::string>{"hq@example.invalid", "quinn@example.invalid",
                                                  "H\xC3\xA9llo", "Line one\nLine two"}));

    // Tab goes round; Shift+Tab goes back.
    const Field forward[] = {Field::To, Field::CcBcc, Field::Subject, Field::Body, Field::To};
    for (Field expected : forward) {
        application->sendTab(false);
        EXPECT_EQ(composer->focusedField(), expected);
    }
    application->sendTab(true);
    EXPECT_EQ(composer->focusedField(), Field::Body);
    application->sendTab(true);
    EXPECT_EQ(composer->focusedField(), Field::Subject);

    // A tap on a line puts the caret there: To at y 64 to 108, Cc/Bcc, Subject, the body below.
    const std::pair<CGPoint, Field> taps[] = {{{200, 70}, Field::To},
                                              {{200, 130}, Field::CcBcc},
                                              {{200, 190}, Field::Subject},
                                              {{100, 400}, Field::Body},
                                              {{300, 100}, Field::To}};
    for (const auto& [at, field] : taps) {
        tap(at);
        EXPECT_EQ(composer->focusedField(), field) << at.y;
    }
}

TEST_F(MailTypingTest, BackspaceTakesTheWholeCharacterBeforeTheCaret) {
    struct Case {
        std::string typed;
        int backspaces;
        std::string left;
    };
    const Case cases[] = {
        {"Caf\xC3\xA9", 1, "Caf"},                        // é, two bytes
        {"Cafe\xCC\x81", 1, "Caf"},                       // e and a combining accent
        {"ok\xE2\x82\xAC", 1, "ok"},                      // €, three bytes
        {"hi\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", 1, "hi"},  // thumbs up, skin tone
        {"no\xF0\x9F\x87\xB3\xF0\x9F\x87\xB4", 1, "no"},  // a flag of two letters
        {"\xC3\xA5\xC3\xB8", 2, ""},
        {"ab", 5, ""},  // more than there is
    };
    for (const Case& c : cases) {
        for (Field field : {Field::Subject, Field::Body}) {
            composer->focusField(field);
            type(c.typed);
            for (int i = 0; i < c.backspaces; ++i) application->sendBackspace();
            EXPECT_EQ(composer->text(field), c.left) << c.typed;
            while (!composer->text(field).empty()) application->sendBackspace();
        }
    }
}

TEST_F(MailTypingTest, PasteInsertsThePasteboardTextOnOneLineOrInTheBody) {
    ValueDictionary item;
    item.set("public.utf8-plain-text", Value("ann@example.invalid\r\nbob@example.invalid"));
    UIPasteboard::generalPasteboard()->setItems({Value(std::move(item))});
    type("to: ");
    application->sendPaste();
    composer->focusField(Field::Body);
    application->sendPaste();
    EXPECT_EQ(composer->text(Field::To), "to: ann@example.invalid bob@example.invalid");
    EXPECT_EQ(composer->text(Field::Body), "ann@example.invalid\nbob@example.invalid");

    UIPasteboard::generalPasteboard()->setItems({});
    application->sendPaste();
    EXPECT_EQ(composer->text(Field::Body), "ann@example.invalid\nbob@example.invalid");
}

TEST_F(MailTypingTest, TypingGoesNowhereWhileASheetIsUpOrTheComposerIsAnswered) {
    type("a");
    tap({40, 42});  // Cancel: the sheet asks what becomes of the draft
    ASSERT_TRUE(UIActionSheet::topSheet());
    EXPECT_EQ(application->keyInput(), nullptr);
    type("b");
    application->sendBackspace();
    tap({160, 438});  // back to the message
    EXPECT_NE(application->keyInput(), nullptr);
    type("c");
    application->beginIgnoringInteractionEvents();
    type("d");
    application->endIgnoringInteractionEvents();
    EXPECT_EQ(composer->text(Field::To), "ac");

    ASSERT_TRUE(composer->send());  // the delegate dismisses it
    EXPECT_EQ(application->keyInput(), nullptr);
    type("e");
    composer->insertText("f");
    EXPECT_EQ(composer->text(Field::To), "ac");
}

TEST_F(MailTypingTest, TheScreenShowsWhatIsTypedAndTheCaret) {
    // The pixels of one field's line.
    auto line = [&](Field field) {
        application->refreshScreen();
        CGImageRef picture = Screen::mainScreen().lastComposed();
        std::vector<uint32_t> pixels;
        const int top = 64 + 44 * static_cast<int>(field);
        for (int y = top + 4; y < top + 40; ++y) {
            auto* row = reinterpret_cast<const uint32_t*>(
                picture->data() + static_cast<size_t>(y) * picture->bytesPerRow());
            pixels.insert(pixels.end(), row, row + 320);
        }
        return pixels;
    };
    const auto emptySubject = line(Field::Subject);
    composer->focusField(Field::Subject);
    const auto withCaret = line(Field::Subject);
    EXPECT_NE(withCaret, emptySubject);
    type("W");
    const auto typed = line(Field::Subject);
    EXPECT_NE(typed, withCaret);
    application->sendBackspace();
    EXPECT_EQ(line(Field::Subject), withCaret);
    application->sendTab(false);
    EXPECT_EQ(line(Field::Subject), emptySubject);
}

// The message the outbox gets for what was typed, read back by Python's MIME parser.
struct MessageCase {
    std::string name;
    std::string to, cc, subject, body;
    std::vector<std::string> readTo, readCc;
    std::string readBody;
    friend std::ostream& operator<<(std::ostream& out, const MessageCase& c) {
        return out << c.name;
    }
};

class MailMessageTest : public MailTypingTest, public ::testing::WithParamInterface<MessageCase> {
  protected:
    std::string sentFile() const {
        std::ifstream in(composer->sentMessagePath(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
};

TEST_P(MailMessageTest, RecipientsSubjectAndBodyTravelBesideTheUnchangedAttachment) {
    const MessageCase& c = GetParam();
    const Data movie = randomBytes(4000);
    auto shown = MFMailComposeViewController::init();
    shown->addAttachmentData(movie, "video/quicktime", "Video.mov");
    presenter->dismissModalViewControllerAnimated(false);
    presenter->presentModalViewController(shown, false);
    composer = shown;
    for (const std::string* text : {&c.to, &c.cc, &c.subject, &c.body}) {
        type(*text);
        application->sendTab(false);
    }
    ASSERT_TRUE(composer->send());

    auto message = readMailMessage(composer->sentMessagePath(), dir.path());
    ASSERT_TRUE(message.is_object()) << "python3 could not read the message";
    EXPECT_EQ(message["defects"], nlohmann::json::array());
    EXPECT_EQ(message["to"], c.readTo);
    EXPECT_EQ(message["cc"], c.readCc);
    if (c.subject.empty())
        EXPECT_TRUE(message["subject"].is_null());
    else
        EXPECT_EQ(message["subject"], c.subject);
    EXPECT_EQ(message["parts"], (std::vector<std::string>{"text/plain", "video/quicktime"}));
    EXPECT_EQ(message["body_charset"], "utf-8");
    EXPECT_EQ(message["body"], c.readBody);
    EXPECT_EQ(message["from"], "owner@phone.invalid");
    ASSERT_EQ(message["attachments"].size(), 1u);
    const auto& attachment = message["attachments"][0];
    EXPECT_EQ(attachment["type"], "video/quicktime");
    EXPECT_EQ(attachment["filename"], "Video.mov");
    EXPECT_EQ(attachment["disposition"], "attachment");
    EXPECT_EQ(NSData::dataWithContentsOfFile(attachment["file"].get<std::string>()), movie);

    // The headers are ASCII on lines a mail program takes whole.
    const std::string file = sentFile();
    const std::string headers = file.substr(0, file.find("\r\n\r\n"));
    std::istringstream lines(headers);
    for (std::string headerLine; std::getline(lines, headerLine);) {
        EXPECT_LE(headerLine.size(), 79u) << headerLine;  // 78 and the CR
        EXPECT_TRUE(std::all_of(headerLine.begin(), headerLine.end(), [](unsigned char ch) {
            return ch < 0x80;
        })) << headerLine;
    }
}

const std::string kLongSubject = [] {
    std::string s;
    for (int i = 0; i < 20; ++i) s += "Blåbær og tyttebær ";
    return s;
}();
const std::string kLongLine(1200, 'x');

INSTANTIATE_TEST_SUITE_P(
    Typed, MailMessageTest,
    ::testing::Values(
        MessageCase{"Plain",
                    "hq@example.invalid",
                    "",
                    "Quick hello",
                    "Hi,\nsee the video.\n",
                    {"hq@example.invalid"},
                    {},
                    "Hi,\nsee the video.\n"},
        MessageCase{"Utf8",
                    "ann@example.invalid, \"Doe, Jo\" <jo@example.invalid>",
                    "Åse Ødegård <ase@example.invalid>,, ",
                    "Gr\xC3\xBC\xC3\x9F"
                    "e aus Troms\xC3\xB8 \xF0\x9F\x8E\xA5",
                    "Hei p\xC3\xA5 deg \xF0\x9F\x91\x8B",
                    {"ann@example.invalid", "\"Doe, Jo\" <jo@example.invalid>"},
                    {"Åse Ødegård <ase@example.invalid>"},
                    "Hei p\xC3\xA5 deg \xF0\x9F\x91\x8B"},
        MessageCase{"LookAlikeAndLong",
                    "a@example.invalid, b@example.invalid, c@example.invalid, d@example.invalid, "
                    "e@example.invalid",
                    "",
                    "=?utf-8?B?not-encoded?= " + kLongSubject,
                    kLongLine,
                    {"a@example.invalid", "b@example.invalid", "c@example.invalid",
                     "d@example.invalid", "e@example.invalid"},
                    {},
                    kLongLine},
        MessageCase{"Nothing", "", "", "", "", {}, {}, ""}),
    [](const ::testing::TestParamInfo<MessageCase>& info) { return info.param.name; });

}  // namespace
