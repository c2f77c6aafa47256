#include "platform/MessageUI/MFMailComposeViewController.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "platform/Device/DeviceHome.h"
#include "platform/Device/Screen.h"
#include "platform/Foundation/Clock.h"
#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSString.h"
#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UIKeyInput.h"
#include "platform/UIKit/UIStringDrawing.h"
#include "platform/UIKit/UIWindow.h"

namespace {

std::string withoutLineBreaks(std::string text) {
    text.erase(std::remove_if(text.begin(), text.end(),
                              [](unsigned char c) { return c == '\r' || c == '\n' || c == 0; }),
               text.end());
    return text;
}

// Typed or pasted text as a field keeps it: line breaks as "\n" in the body, as spaces on one
// line elsewhere; other control characters dropped.
std::string typedText(const std::string& text, bool multiline) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        if (c == '\r' || c == '\n')
            out += multiline ? '\n' : ' ';
        else if (c == '\t')
            out += multiline ? '\t' : ' ';
        else if (c >= 0x20 && c != 0x7f)
            out += static_cast<char>(c);
    }
    return out;
}

using Field = MFMailComposeViewController::Field;

constexpr CGRect kCancelRect{{8, 20}, {80, 44}};
constexpr CGRect kSendRect{{Screen::kWidth - 88, 20}, {80, 44}};
constexpr double kFieldTop = 64;
constexpr double kFieldHeight = 44;
constexpr double kBodyTop = kFieldTop + 3 * kFieldHeight;
constexpr double kBodyLineHeight = 20;
constexpr double kAttachmentHeight = 56;
const char* const kFieldLabels[] = {"To:", "Cc/Bcc:", "Subject:"};
const UIFont kFieldFont = UIFont::systemFontOfSize(15);

// What a point of the screen is on: a button of the bar or a field.
enum class Spot { None, Cancel, Send, To, CcBcc, Subject, Body };

Spot spotAt(CGPoint point) {
    if (CGRectContainsPoint(kCancelRect, point))
        return Spot::Cancel;
    if (CGRectContainsPoint(kSendRect, point))
        return Spot::Send;
    if (point.y < kFieldTop)
        return Spot::None;
    if (point.y >= kBodyTop)
        return Spot::Body;
    return static_cast<Spot>(static_cast<int>(Spot::To) +
                             static_cast<int>((point.y - kFieldTop) / kFieldHeight));
}

double advance(cairo_t* cr, const std::string& text) {
    cairo_text_extents_t extents;
    cairo_text_extents(cr, text.c_str(), &extents);
    return extents.x_advance;
}

// `text` broken into lines no wider than `width` in the font selected on `cr`: at its line
// breaks, then after the last space that fits (inside a word where none does).
std::vector<std::string> wrappedLines(cairo_t* cr, const std::string& text, double width) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (true) {
        const size_t end = std::min(text.find('\n', start), text.size());
        std::string rest = text.substr(start, end - start);
        while (advance(cr, rest) > width) {
            // The longest head that fits, of whole characters.
            size_t fits = rest.size();
            while (fits > 1 && advance(cr, rest.substr(0, fits)) > width)
                fits = startOfLastComposedCharacter(rest.substr(0, fits));
            fits = std::max<size_t>(fits, 1);
            const size_t space = rest.rfind(' ', fits);
            const size_t cut = space != std::string::npos && space > 0 ? space + 1 : fits;
            lines.push_back(rest.substr(0, cut));
            rest.erase(0, cut);
        }
        lines.push_back(rest);
        if (end == text.size())
            return lines;
        start = end + 1;
    }
}

void drawCaret(cairo_t* cr, double x, double top, double height) {
    cairo_set_source_rgb(cr, 0.26, 0.42, 0.95);
    cairo_rectangle(cr, x, top, 2, height);
    cairo_fill(cr);
}

// The composer's screen: a bar with Cancel, the title and Send, the address and subject lines
// with what was typed there, the attachments by name and size, and the body below them; the
// caret at the end of the focused field. It takes the typing for its composer.
class MailComposeView : public UIView, public UIKeyInput {
  public:
    bool touchBegan(CGPoint point) override {
        touched_ = spotAt(point);
        return true;
    }
    void touchEnded(CGPoint point) override {
        const Spot spot = touched_;
        touched_ = Spot::None;
        auto* composer = this->composer();
        if (!composer || spot == Spot::None || spotAt(point) != spot)
            return;
        if (spot == Spot::Send)
            composer->send();
        else if (spot == Spot::Cancel)
            composer->askWhatBecomesOfTheDraft();
        else if (composer->acceptsTyping())
            composer->focusField(
                static_cast<Field>(static_cast<int>(spot) - static_cast<int>(Spot::To)));
    }

    bool acceptsTyping() const override {
        auto* composer = this->composer();
        return composer && composer->acceptsTyping();
    }
    void insertText(const std::string& text) override {
        if (auto* composer = this->composer())
            composer->insertText(text);
    }
    void deleteBackward() override {
        if (auto* composer = this->composer())
            composer->deleteBackward();
    }
    void moveToNextField(bool backwards) override {
        if (auto* composer = this->composer())
            composer->moveToNextField(backwards);
    }

  protected:
    void drawContent(cairo_t* cr) override {
        const double width = frame().size.width;
        const double height = frame().size.height;
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_rectangle(cr, 0, 0, width, height);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 0.44, 0.52, 0.62);
        cairo_rectangle(cr, 0, 20, width, 44);
        cairo_fill(cr);
        const UIColor white = UIColor::whiteColor();
        drawStringInRect(cr, "Cancel", kCancelRect, UIFont::boldSystemFontOfSize(13), white,
                         UITextAlignmentLeft);
        drawStringInRect(cr, "New Message", CGRectMake(0, 20, width, 44),
                         UIFont::boldSystemFontOfSize(19), white, UITextAlignmentCenter);
        drawStringInRect(cr, "Send", kSendRect, UIFont::boldSystemFontOfSize(13), white,
                         UITextAlignmentRight);
        auto* composer = this->composer();
        for (int i = 0; i < 3; ++i) drawField(cr, composer, static_cast<Field>(i), width);
        if (!composer)
            return;
        double top = kBodyTop + 12;
        const UIColor grey = UIColor::colorWithRed(0.5, 0.5, 0.5, 1);
        for (const auto& attachment : composer->attachments()) {
            cairo_set_source_rgb(cr, 0.85, 0.88, 0.95);
            cairo_rectangle(cr, 12, top, 36, 44);
            cairo_fill(cr);
            char size[32];
            std::snprintf(size, sizeof size, "%.1f KB",
                          static_cast<double>(attachment.size()) / 1024.0);
            drawStringInRect(cr, attachment.fileName, CGRectMake(58, top, width - 70, 24),
                             UIFont::boldSystemFontOfSize(15), UIColor::blackColor(),
                             UITextAlignmentLeft);
            drawStringInRect(cr, size, CGRectMake(58, top + 22, width - 70, 20),
                             UIFont::systemFontOfSize(13), grey, UITextAlignmentLeft);
            top += kAttachmentHeight;
        }
        drawBody(cr, *composer, top, width);
    }

  private:
    MFMailComposeViewController* composer() const {
        return dynamic_cast<MFMailComposeViewController*>(viewController());
    }

    // A field's line: its label, then its text, kept in view by its end (the caret's side).
    static void drawField(cairo_t* cr, const MFMailComposeViewController* composer, Field field,
                          double width) {
        const double top = kFieldTop + static_cast<int>(field) * kFieldHeight;
        const char* label = kFieldLabels[static_cast<int>(field)];
        drawStringInRect(cr, label, CGRectMake(8, top, width - 16, kFieldHeight), kFieldFont,
                         UIColor::colorWithRed(0.5, 0.5, 0.5, 1), UITextAlignmentLeft);
        cairo_set_source_rgb(cr, 0.8, 0.8, 0.8);
        cairo_rectangle(cr, 0, top + kFieldHeight - 1, width, 1);
        cairo_fill(cr);
        if (!composer)
            return;
        const double left = 8 + sizeWithFont(label, kFieldFont).width + 6;
        const double room = width - 8 - left;
        const std::string& text = composer->text(field);
        const double textWidth = sizeWithFont(text, kFieldFont).width;
        const double x = left + std::min(0.0, room - textWidth - 3);
        cairo_save(cr);
        cairo_rectangle(cr, left, top, room, kFieldHeight);
        cairo_clip(cr);
        drawStringInRect(cr, text, CGRectMake(x, top, textWidth, kFieldHeight), kFieldFont,
                         UIColor::blackColor(), UITextAlignmentLeft);
        if (composer->focusedField() == field && composer->acceptsTyping())
            drawCaret(cr, x + textWidth + 1, top + 12, kFieldHeight - 24);
        cairo_restore(cr);
    }

    static void drawBody(cairo_t* cr, const MFMailComposeViewController& composer, double top,
                         double width) {
        cairo_save(cr);
        cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                               CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr, kFieldFont.pointSize);
        const std::vector<std::string> lines =
            wrappedLines(cr, composer.text(Field::Body), width - 16);
        cairo_restore(cr);
        for (const std::string& line : lines) {
            drawStringInRect(cr, line, CGRectMake(8, top, width - 16, kBodyLineHeight), kFieldFont,
                             UIColor::blackColor(), UITextAlignmentLeft);
            top += kBodyLineHeight;
        }
        if (composer.focusedField() == Field::Body && composer.acceptsTyping())
            drawCaret(cr, 8 + sizeWithFont(lines.back(), kFieldFont).width + 1,
                      top - kBodyLineHeight + 2, kBodyLineHeight - 4);
    }

    Spot touched_ = Spot::None;  // what the touch began on
};

}  // namespace

std::shared_ptr<MFMailComposeViewController> MFMailComposeViewController::init() {
    return std::make_shared<MFMailComposeViewController>();
}

void MFMailComposeViewController::addAttachmentData(Data data, std::string mimeType,
                                                    std::string fileName) {
    addAttachment({std::make_shared<const Data>(std::move(data)), std::move(mimeType),
                   std::move(fileName), nullptr});
}

bool MFMailComposeViewController::addAttachmentWithContentsOfFile(const std::string& path,
                                                                  std::string mimeType,
                                                                  std::string fileName,
                                                                  NSErrorPtr* error) {
    auto file = RegularFile::open(path, error);
    if (!file)
        return false;
    addAttachment({nullptr, std::move(mimeType), std::move(fileName),
                   std::make_shared<const RegularFile>(std::move(*file))});
    return true;
}

void MFMailComposeViewController::addAttachment(Attachment attachment) {
    attachment.mimeType = withoutLineBreaks(std::move(attachment.mimeType));
    if (attachment.mimeType.empty())
        attachment.mimeType = "application/octet-stream";
    attachment.fileName = withoutLineBreaks(std::move(attachment.fileName));
    attachments_.push_back(std::move(attachment));
}

void MFMailComposeViewController::insertText(const std::string& typed) {
    if (!mayAnswer())
        return;
    if (typed == "\n" && focused_ != Field::Body)
        return moveToNextField(false);
    fields_[static_cast<size_t>(focused_)] += typedText(typed, focused_ == Field::Body);
}

void MFMailComposeViewController::deleteBackward() {
    if (!mayAnswer())
        return;
    std::string& field = fields_[static_cast<size_t>(focused_)];
    field.erase(startOfLastComposedCharacter(field));
}

void MFMailComposeViewController::moveToNextField(bool backwards) {
    if (!mayAnswer())
        return;
    focused_ = static_cast<Field>((static_cast<int>(focused_) + (backwards ? 3 : 1)) % 4);
}

void MFMailComposeViewController::loadView() {
    auto view = std::make_shared<MailComposeView>();
    view->setFrame(CGRectMake(0, 0, Screen::kWidth, Screen::kHeight));
    setView(view);
}

bool MFMailComposeViewController::mayAnswer() const {
    return !finished_ && parentViewController() &&
           !UIApplication::sharedApplication()->isIgnoringInteractionEvents();
}

bool MFMailComposeViewController::send() {
    if (!mayAnswer())
        return false;
    NSErrorPtr error = writeToOutbox();
    finish(error ? MFMailComposeResultFailed : MFMailComposeResultSent, error);
    return true;
}

bool MFMailComposeViewController::save() {
    if (!mayAnswer())
        return false;
    finish(MFMailComposeResultSaved, nullptr);
    return true;
}

bool MFMailComposeViewController::cancel() {
    if (!mayAnswer())
        return false;
    finish(MFMailComposeResultCancelled, nullptr);
    return true;
}

void MFMailComposeViewController::askWhatBecomesOfTheDraft() {
    if (!mayAnswer())
        return;
    std::weak_ptr<UIActionSheetDelegate> delegate = retained(this);
    auto sheet =
        UIActionSheet::initWithTitle("", delegate, "Cancel", "Delete Draft", {"Save Draft"});
    sheet->showFromToolbar(nullptr);
}

void MFMailComposeViewController::actionSheetClickedButtonAtIndex(UIActionSheet* actionSheet,
                                                                  int buttonIndex) {
    if (buttonIndex == actionSheet->destructiveButtonIndex())
        cancel();
    else if (buttonIndex != actionSheet->cancelButtonIndex())
        save();
}

void MFMailComposeViewController::finish(MFMailComposeResult result, const NSErrorPtr& error) {
    finished_ = true;
    // The delegate usually dismisses the composer, which may release the last other reference.
    auto self = retained(this);
    if (auto delegate = delegate_.lock())
        delegate->mailComposeControllerDidFinishWithResult(this, result, error);
}

MailMessage MFMailComposeViewController::message() const {
    return {kMFMailComposeSender,
            mailRecipients(text(Field::To)),
            mailRecipients(text(Field::CcBcc)),
            text(Field::Subject),
            text(Field::Body),
            attachments_};
}

NSErrorPtr MFMailComposeViewController::writeToOutbox() {
    NSErrorPtr cause;
    const MailMessage mail = message();
    const NSTimeInterval now = Clock::current().now();
    const std::string outbox = DeviceHome::outbox();
    const std::string path = NSData::writeToFirstFreePath(
        [&](const NSData::ContentsSink& sink) { return writeMailMessage(mail, now, sink); }, 1,
        std::numeric_limits<long>::max(),
        [&outbox](long n) { return outbox + stringWithFormat("/Message_%04ld.eml", n); }, &cause);
    if (!path.empty()) {
        sentPath_ = path;
        return nullptr;
    }
    return NSError::make(MFMailComposeErrorDomain, MFMailComposeErrorCodeSendFailed,
                         "The message could not be sent. " +
                             (cause ? cause->localizedDescription() : std::string()));
}

std::shared_ptr<MFMailComposeViewController> MFMailComposeViewController::visibleComposer() {
    auto window = UIWindow::keyWindow();
    if (!window)
        return nullptr;
    const auto& views = window->subviews();
    for (auto it = views.rbegin(); it != views.rend(); ++it) {
        auto* composer = dynamic_cast<MFMailComposeViewController*>((*it)->viewController());
        if (composer && composer->parentViewController())
            return retained(composer);
    }
    return nullptr;
}
