// CTest labels: threads

#include "platform/MessageUI/MFMailComposeViewController.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <ostream>
#include <random>
#include <regex>
#include <sstream>

#include "platform/Device/DeviceHome.h"
#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSPathUtilities.h"
#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UIPasteboard.h"
#include "platform/UIKit/UIWindow.h"
#include "tests/support/AddressSpaceCap.h"
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

// The message as written, with its random boundary and Message-ID taken out.
std::string sentTextWithoutRandomParts(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    static const std::regex random("=_Tilvex_[0-9a-f]{24}|<[0-9a-f]{16}\\.[0-9a-f]{16}@");
    return std::regex_replace(text.str(), random, "*");
}

// A file attached by its path travels as the very text its bytes attached in memory would:
// sizes around base64's groups and lines, and around the pieces the file is read in.
TEST_F(MailComposerTest, AFileAttachedByPathTravelsAsItsBytesWould) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{57}, size_t{58}, size_t{57 * 16384},
                        size_t{57 * 16384 + 1}, size_t{2'000'003}}) {
        const Data bytes = randomBytes(size);
        const std::string file = dir / "movie.mov";
        ASSERT_TRUE(NSData::writeToFile(bytes, file, false));
        std::vector<std::string> texts;
        for (bool byPath : {false, true}) {
            auto shown = MFMailComposeViewController::init();
            if (byPath)
                ASSERT_TRUE(
                    shown->addAttachmentWithContentsOfFile(file, "video/quicktime", "Video.mov"));
            else
                shown->addAttachmentData(bytes, "video/quicktime", "Video.mov");
            EXPECT_EQ(shown->attachments()[0].size(), size);
            presenter->presentModalViewController(shown, false);
            ASSERT_TRUE(shown->send()) << size;
            presenter->dismissModalViewControllerAnimated(false);
            texts.push_back(sentTextWithoutRandomParts(shown->sentMessagePath()));
        }
        EXPECT_TRUE(texts[0] == texts[1]) << size << " bytes";
    }
}

// The file is the one there when it was attached, read as the message is written: one put in
// its place meanwhile changes nothing, and a name that holds no regular file adds nothing.
TEST_F(MailComposerTest, AFileAttachedByPathIsTheOneThereWhenAttached) {
    const std::string file = dir / "movie.mov";
    ASSERT_TRUE(NSData::writeToFile(randomBytes(5000), file, false));
    ASSERT_TRUE(composer->addAttachmentWithContentsOfFile(file, "video/quicktime", "Video.mov"));
    ASSERT_TRUE(NSData::writeToFile(randomBytes(7), file, true));  // a new file at the name
    NSErrorPtr error;
    EXPECT_FALSE(composer->addAttachmentWithContentsOfFile(dir.path(), "text/plain", "dir"));
    EXPECT_FALSE(
        composer->addAttachmentWithContentsOfFile(dir / "missing", "text/plain", "x", &error));
    EXPECT_TRUE(error);
    ASSERT_EQ(composer->attachments().size(), 1u);
    presenter->presentModalViewController(composer, false);
    ASSERT_TRUE(composer->send());
    auto message = readMailMessage(composer->sentMessagePath(), dir.path());
    ASSERT_TRUE(message.is_object());
    ASSERT_EQ(message["attachments"].size(), 1u);
    EXPECT_EQ(NSData::dataWithContentsOfFile(message["attachments"][0]["file"].get<std::string>()),
              randomBytes(5000));
}

// A movie far larger than the memory the sending may use still goes: it is never held whole.
TEST_F(MailComposerTest, AFileAttachedByPathIsNeverHeldWhole) {
    constexpr size_t kMovie = size_t{128} << 20;
    const std::string file = dir / "movie.mov";
    ASSERT_TRUE(NSData::writeToFile(randomBytes(1000), file, false));
    std::filesystem::resize_file(file, kMovie);
    if (!kAddressSpaceCapTells)
        GTEST_SKIP() << "a sanitizer's reservations make an address-space cap meaningless";
    EXPECT_EXIT(
        {
            bool sent =
                capAddressSpace(size_t{48} << 20) &&
                composer->addAttachmentWithContentsOfFile(file, "video/quicktime", "Video.mov");
            presenter->presentModalViewController(composer, false);
            sent = sent && composer->send();
            std::exit(sent && std::filesystem::file_size(composer->sentMessagePath()) >
                                  kMovie / 3 * 4
                          ? 0
                          : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(MailComposerTest, SaveKeepsTheDraftInMailDraftsAndCancelWritesNothing) {
    const std::pair<bool (MFMailComposeViewController::*)(), MFMailComposeResult> answers[] = {
        {&MFMailComposeViewController::save, MFMailComposeResultSaved},
        {&MFMailComposeViewController::cancel, MFMailComposeResultCancelled}};
    for (auto [answer, expected] : answers) {
        auto shown = MFMailComposeViewController::init();
        shown->setMailComposeDelegate(delegate);
        shown->addAttachmentData(randomBytes(5), "video/quicktime", "Video.mov");
        presenter->presentModalViewController(shown, true);
        shown->insertText("ann@example.invalid");
        shown->focusField(MFMailComposeViewController::Field::Subject);
        shown->insertText("Half done");
        ASSERT_TRUE(((*shown).*answer)());
        ASSERT_FALSE(delegate->finishes.empty());
        EXPECT_EQ(delegate->finishes.back().result, expected);
        EXPECT_FALSE(delegate->finishes.back().error);
    }
    EXPECT_EQ(delegate->finishes.size(), 2u);
    EXPECT_TRUE(outbox().empty());
    const auto drafts = NSFileManager::defaultManager()
                            .contentsOfDirectoryAtPath(DeviceHome::drafts())
                            .value_or(std::vector<std::string>{});
    ASSERT_EQ(drafts, std::vector<std::string>{"Draft_0001.eml"});
    auto draft = readMailMessage(DeviceHome::drafts() + "/Draft_0001.eml", dir.path());
    ASSERT_TRUE(draft.is_object()) << "python3 could not read the draft";
    EXPECT_EQ(draft["defects"], nlohmann::json::array());
    EXPECT_EQ(draft["to"], std::vector<std::string>{"ann@example.invalid"});
    EXPECT_EQ(draft["subject"], "Half done");
    ASSERT_EQ(draft["attachments"].size(), 1u);
    EXPECT_EQ(NSData::dataWithContentsOfFile(draft["attachments"][0]["file"].get<std::string>()),
              randomBytes(5));
}

TEST_F(MailComposerTest, ADraftThatCannotBeWrittenFailsWithAnError) {
    auto& files = NSFileManager::defaultManager();
    ASSERT_TRUE(files.removeItemAtPath(DeviceHome::drafts()));
    ASSERT_TRUE(files.createFileAtPath(DeviceHome::drafts(), nullptr));
    presenter->presentModalViewController(composer, true);
    ASSERT_TRUE(composer->save());
    ASSERT_EQ(delegate->finishes.size(), 1u);
    EXPECT_EQ(delegate->finishes[0].result, MFMailComposeResultFailed);
    ASSERT_TRUE(delegate->finishes[0].error);
    EXPECT_EQ(delegate->finishes[0].error->domain(), MFMailComposeErrorDomain);
    EXPECT_EQ(delegate->finishes[0].error->code(), MFMailComposeErrorCodeSaveFailed);
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
        std::string to;
        std::vector<CGPoint> taps;
        std::vector<MFMailComposeResult> results;
    };
    // Send is disabled until a recipient field holds an address.
    const Case cases[] = {
        {"", {cancel, keepWriting}, {}},
        {"", {cancel, keepWriting, cancel, saveDraft}, {MFMailComposeResultSaved}},
        {"", {cancel, deleteDraft}, {MFMailComposeResultCancelled}},
        {"", {{160, 300}, send}, {}},
        {"ann, example.invalid, @x, y@", {send}, {}},
        {"ann@example.invalid", {{160, 300}, send}, {MFMailComposeResultSent}},
    };
    for (const Case& c : cases) {
        delegate->finishes.clear();
        auto shown = MFMailComposeViewController::init();
        shown->setMailComposeDelegate(delegate);
        shown->addAttachmentData(randomBytes(5), "video/quicktime", "Video.mov");
        presenter->presentModalViewController(shown, true);
        shown->insertText(c.to);
        EXPECT_EQ(shown->canSend(), !c.results.empty() && c.results[0] == MFMailComposeResultSent)
            << c.to;
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
    // The texts of To, Cc, Bcc, Subject and the body.
    std::vector<std::string> fields() const {
        return {composer->text(Field::To), composer->text(Field::Cc), composer->text(Field::Bcc),
                composer->text(Field::Subject), composer->text(Field::Body)};
    }

    std::shared_ptr<UIApplication> application = UIApplication::sharedApplication();
};

TEST_F(MailTypingTest, TypingFillsTheFieldWithTheCaretAndTabOrAClickMovesIt) {
    EXPECT_EQ(composer->focusedField(), Field::To);
    EXPECT_FALSE(composer->showsCcAndBcc());
    type("hq@example.invalid");
    application->sendTab(false);
    EXPECT_TRUE(composer->showsCcAndBcc());  // the caret in Cc splits the row
    type("q");
    type("uinn@example.invalid");
    application->sendTab(false);
    type("bo@example.invalid");
    application->sendTab(false);
    type("H\xC3\xA9llo");
    type("\n");  // Return leaves a line of its own for the next field
    EXPECT_EQ(composer->focusedField(), Field::Body);
    type("Line one\nLine two");
    EXPECT_EQ(fields(), (std::vector<std::string>{"hq@example.invalid", "quinn@example.invalid",
                                                  "bo@example.invalid", "H\xC3\xA9llo",
                                                  "Line one\nLine two"}));

    // Tab goes round; Shift+Tab goes back.
    const Field forward[] = {Field::To,      Field::Cc,   Field::Bcc,
                             Field::Subject, Field::Body, Field::To};
    for (Field expected : forward) {
        application->sendTab(false);
        EXPECT_EQ(composer->focusedField(), expected);
    }
    application->sendTab(true);
    EXPECT_EQ(composer->focusedField(), Field::Body);
    application->sendTab(true);
    EXPECT_EQ(composer->focusedField(), Field::Subject);

    // A tap on a row puts the caret there: To at y 64 to 108, Cc, Bcc, Subject, the body below.
    const std::pair<CGPoint, Field> taps[] = {
        {{200, 70}, Field::To},       {{200, 130}, Field::Cc},   {{200, 170}, Field::Bcc},
        {{200, 220}, Field::Subject}, {{100, 400}, Field::Body}, {{300, 100}, Field::To}};
    for (const auto& [at, field] : taps) {
        tap(at);
        EXPECT_EQ(composer->focusedField(), field) << at.y;
    }
}

TEST_F(MailTypingTest, TheCcBccRowSplitsIntoCcAndBccWhenTouched) {
    // Before: To, "Cc/Bcc", Subject from y 152, the body from 196.
    tap({200, 170});
    EXPECT_EQ(composer->focusedField(), Field::Subject);
    EXPECT_FALSE(composer->showsCcAndBcc());
    tap({200, 130});
    EXPECT_EQ(composer->focusedField(), Field::Cc);
    EXPECT_TRUE(composer->showsCcAndBcc());
    tap({200, 170});
    EXPECT_EQ(composer->focusedField(), Field::Bcc);
    tap({200, 210});
    EXPECT_EQ(composer->focusedField(), Field::Subject);
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
    EXPECT_EQ(composer->text(Field::To), "to: ann@example.invalid, bob@example.invalid");
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

// The composed screen's pixels in rows [top, bottom) and columns [left, right).
std::vector<uint32_t> screenPixels(int top, int bottom, int left = 0, int right = 320) {
    UIApplication::sharedApplication()->refreshScreen();
    CGImageRef picture = Screen::mainScreen().lastComposed();
    std::vector<uint32_t> pixels;
    for (int y = top; y < bottom; ++y) {
        auto* row = reinterpret_cast<const uint32_t*>(picture->data() + static_cast<size_t>(y) *
                                                                            picture->bytesPerRow());
        pixels.insert(pixels.end(), row + left, row + right);
    }
    return pixels;
}

TEST_F(MailTypingTest, TheScreenShowsWhatIsTypedAndTheCaret) {
    // The pixels of the Subject's row, the third while Cc and Bcc share one.
    auto line = [] { return screenPixels(64 + 44 * 2 + 4, 64 + 44 * 2 + 40); };
    const auto emptySubject = line();
    composer->focusField(Field::Subject);
    const auto withCaret = line();
    EXPECT_NE(withCaret, emptySubject);
    type("W");
    const auto typed = line();
    EXPECT_NE(typed, withCaret);
    application->sendBackspace();
    EXPECT_EQ(line(), withCaret);
    application->sendTab(false);
    EXPECT_EQ(line(), emptySubject);
}

TEST_F(MailTypingTest, AFieldWithoutTheCaretShowsItsStart) {
    // The start of Subject's text, right of its label ("Wide" from x 74 to about 112), without the
    // caret.
    auto subjectText = [] { return screenPixels(152 + 4, 152 + 40, 60, 110); };
    composer->focusField(Field::Subject);
    type("Wide");
    composer->focusField(Field::Body);
    const auto shortSubject = subjectText();
    composer->focusField(Field::Subject);
    type(" and a subject far too long for its row, so that its end is out of sight");
    composer->focusField(Field::Body);
    EXPECT_EQ(subjectText(), shortSubject);
}

TEST_F(MailTypingTest, IllFormedUTF8IsReplacedAndTheRestOfTheScreenStillDraws) {
    // The attachment's row at the top of the body, and the status bar.
    auto attachment = [] { return screenPixels(196 + 12, 196 + 56); };
    auto statusBar = [] { return screenPixels(0, 20); };
    const auto attachmentBefore = attachment();
    const auto statusBarBefore = statusBar();
    composer->focusField(Field::Subject);
    type("caf\xC3( bad \xF0\x9F\x8E \xED\xA0\x80 \xC0\xAF end");
    EXPECT_EQ(composer->text(Field::Subject),
              "caf\xEF\xBF\xBD( bad \xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD "
              "\xEF\xBF\xBD\xEF\xBF\xBD end");
    EXPECT_EQ(attachment(), attachmentBefore);
    EXPECT_EQ(statusBar(), statusBarBefore);
}

TEST_F(MailTypingTest, ATabInTheBodyShowsAsSpacing) {
    // The body's first line, below the attachment.
    auto firstLine = [] { return screenPixels(196 + 12 + 56, 196 + 12 + 56 + 20); };
    composer->focusField(Field::Body);
    type("a    b");
    composer->focusField(Field::To);
    const auto spaced = firstLine();
    composer->focusField(Field::Body);
    for (int i = 0; i < 6; ++i) application->sendBackspace();
    type("a\tb");
    composer->focusField(Field::To);
    EXPECT_EQ(firstLine(), spaced);
    EXPECT_EQ(composer->text(Field::Body), "a\tb");
}

TEST_F(MailTypingTest, TheBodyScrollsToFollowTheCaretAndAFingerDragsIt) {
    composer->focusField(Field::Body);
    // The bottom of the screen shows the caret once the text runs past it.
    auto bottom = [] { return screenPixels(400, 480); };
    EXPECT_EQ(composer->bodyScrollOffset(), 0);
    std::string lines;
    for (int i = 1; i <= 30; ++i) {
        type("Line " + std::to_string(i) + "\n");
        lines += "Line " + std::to_string(i) + "\n";
    }
    type("The end");
    EXPECT_EQ(composer->text(Field::Body), lines + "The end");
    // The caret's line is the last in view.
    const double end = composer->bodyContentHeight() - composer->bodyRoomHeight();
    EXPECT_GT(end, 0);
    EXPECT_EQ(composer->bodyScrollOffset(), end);
    const auto atTheEnd = bottom();
    type("!");
    EXPECT_NE(bottom(), atTheEnd);  // the typed letter is seen
    application->sendBackspace();

    // A finger dragged down by 100 points shows 100 points further up; a drag past the top stops
    // there; a drag up goes back down, no further than the end.
    application->sendTouch(UITouchPhaseBegan, {160, 300});
    application->sendTouch(UITouchPhaseMoved, {160, 350});
    application->sendTouch(UITouchPhaseMoved, {160, 400});
    EXPECT_EQ(composer->bodyScrollOffset(), end - 100);
    EXPECT_NE(bottom(), atTheEnd);
    application->sendTouch(UITouchPhaseMoved, {160, 400 + end});
    EXPECT_EQ(composer->bodyScrollOffset(), 0);
    application->sendTouch(UITouchPhaseEnded, {160, 400 + end});
    EXPECT_EQ(composer->focusedField(), Field::Body);
    application->sendTouch(UITouchPhaseBegan, {160, 400});
    application->sendTouch(UITouchPhaseMoved, {160, 250});
    application->sendTouch(UITouchPhaseMoved, {160, -2000});
    application->sendTouch(UITouchPhaseEnded, {160, -2000});
    EXPECT_EQ(composer->bodyScrollOffset(), end);
    EXPECT_EQ(bottom(), atTheEnd);

    // Typing brings the caret back into view wherever the body was scrolled.
    application->sendTouch(UITouchPhaseBegan, {160, 300});
    application->sendTouch(UITouchPhaseMoved, {160, 450});
    application->sendTouch(UITouchPhaseEnded, {160, 450});
    EXPECT_LT(composer->bodyScrollOffset(), end);
    type("!");
    EXPECT_EQ(composer->bodyScrollOffset(), end);
}

// The message the outbox gets for what was typed, read back by Python's MIME parser.
struct MessageCase {
    std::string name;
    std::string to, cc, bcc, subject, body;
    std::vector<std::string> readTo, readCc, readBcc;
    std::string readBody;
    // What the reader finds amiss: a recipient without an address is read as a defect.
    std::vector<std::string> defects = {};
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
    for (const std::string* text : {&c.to, &c.cc, &c.bcc, &c.subject, &c.body}) {
        type(*text);
        application->sendTab(false);
    }
    ASSERT_TRUE(composer->send());

    auto message = readMailMessage(composer->sentMessagePath(), dir.path());
    ASSERT_TRUE(message.is_object()) << "python3 could not read the message";
    EXPECT_EQ(message["defects"], c.defects);
    EXPECT_EQ(message["to"], c.readTo);
    EXPECT_EQ(message["cc"], c.readCc);
    EXPECT_EQ(message["bcc"], c.readBcc);
    // Only the fields typed make headers: nothing pasted into them does.
    std::vector<std::string> names = {"Date", "From"};
    for (const auto& [name, read] :
         {std::pair{"To", &c.readTo}, {"Cc", &c.readCc}, {"Bcc", &c.readBcc}})
        if (!read->empty())
            names.push_back(name);
    if (!c.subject.empty())
        names.push_back("Subject");
    names.insert(names.end(), {"Message-ID", "MIME-Version", "Content-Type"});
    EXPECT_EQ(message["headers"], names);
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
                    "",
                    "Quick hello",
                    "Hi,\nsee the video.\n",
                    {"hq@example.invalid"},
                    {},
                    {},
                    "Hi,\nsee the video.\n"},
        MessageCase{"Utf8",
                    "ann@example.invalid, \"Doe, Jo\" <jo@example.invalid>",
                    "Åse Ødegård <ase@example.invalid>,, ",
                    "",
                    "Gr\xC3\xBC\xC3\x9F"
                    "e aus Troms\xC3\xB8 \xF0\x9F\x8E\xA5",
                    "Hei p\xC3\xA5 deg \xF0\x9F\x91\x8B",
                    {"ann@example.invalid", "\"Doe, Jo\" <jo@example.invalid>"},
                    {"Åse Ødegård <ase@example.invalid>"},
                    {},
                    "Hei p\xC3\xA5 deg \xF0\x9F\x91\x8B"},
        MessageCase{"LookAlikeAndLong",
                    "a@example.invalid, b@example.invalid, c@example.invalid, d@example.invalid, "
                    "e@example.invalid",
                    "",
                    "",
                    "=?utf-8?B?not-encoded?= " + kLongSubject,
                    kLongLine,
                    {"a@example.invalid", "b@example.invalid", "c@example.invalid",
                     "d@example.invalid", "e@example.invalid"},
                    {},
                    {},
                    kLongLine},
        // A list pasted with line breaks, commas and semicolons: one address each.
        MessageCase{"PastedList",
                    "eve@example.org\r\nBcc: mallory@example.org\nX-Injected: yes",
                    "ann@example.invalid;bob@example.invalid\n\ncarl@example.invalid",
                    "",
                    "Hi",
                    "",
                    {"eve@example.org", "\"Bcc: mallory\"@example.org", "\"X-Injected: yes\""},
                    {"ann@example.invalid", "bob@example.invalid", "carl@example.invalid"},
                    {},
                    "",
                    {"InvalidHeaderDefect"}},
        // Encoded words a reader would decode into line breaks: read back as typed.
        MessageCase{"EncodedWords",
                    "=?utf-8?B?ZXZlDQpYLUluamVjdGVkOiB5ZXM=?= <eve@example.org>",
                    "=?utf-8?B?DQo=?=@example.org",
                    "",
                    "",
                    "",
                    {"=?utf-8?B?ZXZlDQpYLUluamVjdGVkOiB5ZXM=?= <eve@example.org>"},
                    {"=?utf-8?B?DQo=?=@example.org"},
                    {},
                    ""},
        // Blind copies never stand among To and Cc.
        MessageCase{"BlindCopies",
                    "ann@example.invalid",
                    "carol@example.invalid",
                    "dave@example.invalid, Eve <eve@example.invalid>",
                    "Seen by three",
                    "",
                    {"ann@example.invalid"},
                    {"carol@example.invalid"},
                    {"dave@example.invalid", "Eve <eve@example.invalid>"},
                    ""},
        MessageCase{"Nothing", "", "", "", "", "", {}, {}, {}, ""}),
    [](const ::testing::TestParamInfo<MessageCase>& info) { return info.param.name; });

}  // namespace
