#include "platform/MessageUI/MFMailComposeViewController.h"

#include <algorithm>
#include <cmath>
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

using Field = MFMailComposeViewController::Field;

std::string withoutLineBreaks(std::string text) {
    text.erase(std::remove_if(text.begin(), text.end(),
                              [](unsigned char c) { return c == '\r' || c == '\n' || c == 0; }),
               text.end());
    return text;
}

bool holdsAddresses(Field field) {
    return field == Field::To || field == Field::Cc || field == Field::Bcc;
}

// Typed or pasted text as `field` keeps it: ill-formed UTF-8 replaced; line breaks as "\n" in
// the body, as separators in an address field, as spaces in Subject; Tabs kept in the body,
// spaces elsewhere; other control characters dropped.
std::string typedText(const std::string& typed, Field field) {
    const std::string text = stringByReplacingInvalidUTF8(typed);
    const bool body = field == Field::Body;
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        if (c == '\r' || c == '\n')
            out += body ? "\n" : holdsAddresses(field) ? ", " : " ";
        else if (c == '\t')
            out += body ? '\t' : ' ';
        else if (c >= 0x20 && c != 0x7f)
            out += static_cast<char>(c);
    }
    return out;
}

constexpr CGRect kCancelRect{{8, 20}, {80, 44}};
constexpr CGRect kSendRect{{Screen::kWidth - 88, 20}, {80, 44}};
constexpr double kFieldTop = 64;
constexpr double kFieldHeight = 44;
constexpr double kBodyLineHeight = 20;
constexpr double kBodyMargin = 12;  // above the attachments and below the last line
constexpr double kBodyTextWidth = Screen::kWidth - 16;
constexpr double kAttachmentHeight = 56;
// A Tab in the body shows as this much spacing.
constexpr const char* kTabSpacing = "    ";
const UIFont kFieldFont = UIFont::systemFontOfSize(15);

// A body line as drawn: its Tabs as spacing.
std::string shownLine(std::string_view line) {
    std::string shown;
    for (char c : line) {
        if (c == '\t')
            shown += kTabSpacing;
        else
            shown += c;
    }
    return shown;
}

// The header rows from the top: To, "Cc/Bcc" or Cc and Bcc, Subject.
std::vector<Field> rows(const MFMailComposeViewController& composer) {
    if (composer.showsCcAndBcc())
        return {Field::To, Field::Cc, Field::Bcc, Field::Subject};
    return {Field::To, Field::Cc, Field::Subject};
}

double bodyTop(const MFMailComposeViewController& composer) {
    return kFieldTop + static_cast<double>(rows(composer).size()) * kFieldHeight;
}

const char* label(const MFMailComposeViewController& composer, Field field) {
    switch (field) {
        case Field::To:
            return "To:";
        case Field::Cc:
            return composer.showsCcAndBcc() ? "Cc:" : "Cc/Bcc:";
        case Field::Bcc:
            return "Bcc:";
        default:
            return "Subject:";
    }
}

// What a point of the screen is on: a button of the bar, a field's row or the body.
struct Spot {
    enum Kind { None, Cancel, Send, Row, Body } kind = None;
    Field field = Field::To;
    bool operator==(const Spot&) const = default;
};

Spot spotAt(const MFMailComposeViewController& composer, CGPoint point) {
    if (CGRectContainsPoint(kCancelRect, point))
        return {Spot::Cancel};
    if (CGRectContainsPoint(kSendRect, point))
        return {Spot::Send};
    if (point.y < kFieldTop)
        return {Spot::None};
    if (point.y >= bodyTop(composer))
        return {Spot::Body, Field::Body};
    return {Spot::Row, rows(composer)[static_cast<size_t>((point.y - kFieldTop) / kFieldHeight)]};
}

void drawCaret(cairo_t* cr, double x, double top, double height) {
    cairo_set_source_rgb(cr, 0.26, 0.42, 0.95);
    cairo_rectangle(cr, x, top, 2, height);
    cairo_fill(cr);
}

// The composer's screen: a bar with Cancel, the title and Send, the address and subject rows
// with what was typed there, and below them the body: the attachments by name and size, then the
// text, scrolled as the composer says. It takes the typing for its composer.
class MailComposeView : public UIView, public UIKeyInput {
  public:
    bool touchBegan(CGPoint point) override {
        auto* composer = this->composer();
        touched_ = composer ? spotAt(*composer, point) : Spot{};
        lastY_ = point.y;
        dragged_ = false;
        return true;
    }
    void touchMoved(CGPoint point) override {
        auto* composer = this->composer();
        if (!composer || touched_.kind != Spot::Body || !composer->acceptsTyping())
            return;
        // A finger that moves a few points is a drag, no longer a tap.
        if (!dragged_ && std::abs(point.y - lastY_) < kDragSlop)
            return;
        dragged_ = true;
        composer->scrollBodyBy(lastY_ - point.y);
        lastY_ = point.y;
    }
    void touchEnded(CGPoint point) override {
        const Spot spot = touched_;
        touched_ = {};
        auto* composer = this->composer();
        if (!composer || dragged_ || spot.kind == Spot::None || !(spotAt(*composer, point) == spot))
            return;
        if (spot.kind == Spot::Send) {
            if (composer->canSend())
                composer->send();
        } else if (spot.kind == Spot::Cancel) {
            composer->askWhatBecomesOfTheDraft();
        } else if (composer->acceptsTyping()) {
            composer->focusField(spot.field);
        }
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
        auto* composer = this->composer();
        drawStringInRect(cr, "Cancel", kCancelRect, UIFont::boldSystemFontOfSize(13), white,
                         UITextAlignmentLeft);
        drawStringInRect(cr, "New Message", CGRectMake(0, 20, width, 44),
                         UIFont::boldSystemFontOfSize(19), white, UITextAlignmentCenter);
        drawStringInRect(
            cr, "Send", kSendRect, UIFont::boldSystemFontOfSize(13),
            composer && composer->canSend() ? white : UIColor::colorWithRed(0.70, 0.74, 0.80, 1),
            UITextAlignmentRight);
        if (!composer)
            return;
        const std::vector<Field> shown = rows(*composer);
        for (size_t i = 0; i < shown.size(); ++i)
            drawField(cr, *composer, shown[i], kFieldTop + static_cast<double>(i) * kFieldHeight,
                      width);
        drawBody(cr, *composer, width, height);
    }

  private:
    static constexpr double kDragSlop = 4;

    MFMailComposeViewController* composer() const {
        return dynamic_cast<MFMailComposeViewController*>(viewController());
    }

    // A field's row: its label, then its text: from its start, or kept in view by its end (the
    // caret's side) while it has the caret.
    static void drawField(cairo_t* cr, const MFMailComposeViewController& composer, Field field,
                          double top, double width) {
        const char* name = label(composer, field);
        drawStringInRect(cr, name, CGRectMake(8, top, width - 16, kFieldHeight), kFieldFont,
                         UIColor::colorWithRed(0.5, 0.5, 0.5, 1), UITextAlignmentLeft);
        cairo_set_source_rgb(cr, 0.8, 0.8, 0.8);
        cairo_rectangle(cr, 0, top + kFieldHeight - 1, width, 1);
        cairo_fill(cr);
        const double left = 8 + sizeWithFont(name, kFieldFont).width + 6;
        const double room = width - 8 - left;
        const std::string& text = composer.text(field);
        const double textWidth = sizeWithFont(text, kFieldFont).width;
        const bool caret = composer.focusedField() == field && composer.acceptsTyping();
        const double x = caret ? left + std::min(0.0, room - textWidth - 3) : left;
        cairo_save(cr);
        cairo_rectangle(cr, left, top, room, kFieldHeight);
        cairo_clip(cr);
        drawStringInRect(cr, text, CGRectMake(x, top, textWidth, kFieldHeight), kFieldFont,
                         UIColor::blackColor(), UITextAlignmentLeft);
        if (caret)
            drawCaret(cr, x + textWidth + 1, top + 12, kFieldHeight - 24);
        cairo_restore(cr);
    }

    // The body below the rows, clipped to its room: the attachments, then the lines in view.
    static void drawBody(cairo_t* cr, const MFMailComposeViewController& composer, double width,
                         double height) {
        const double roomTop = bodyTop(composer);
        cairo_save(cr);
        cairo_rectangle(cr, 0, roomTop, width, height - roomTop);
        cairo_clip(cr);
        double top = roomTop + kBodyMargin - composer.bodyScrollOffset();
        const UIColor grey = UIColor::colorWithRed(0.5, 0.5, 0.5, 1);
        for (const auto& attachment : composer.attachments()) {
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
        const std::string& text = composer.text(Field::Body);
        const std::vector<MailTextLine>& lines = composer.bodyLines();
        // Only the lines in the room are drawn.
        const double firstShown = std::max(0.0, std::floor((roomTop - top) / kBodyLineHeight));
        for (size_t i = static_cast<size_t>(firstShown); i < lines.size(); ++i) {
            const double lineTop = top + static_cast<double>(i) * kBodyLineHeight;
            if (lineTop >= height)
                break;
            drawStringInRect(
                cr, shownLine(std::string_view(text).substr(lines[i].start, lines[i].length)),
                CGRectMake(8, lineTop, width - 16, kBodyLineHeight), kFieldFont,
                UIColor::blackColor(), UITextAlignmentLeft);
        }
        if (composer.focusedField() == Field::Body && composer.acceptsTyping()) {
            const MailTextLine& last = lines.back();
            const double x =
                8 + sizeWithFont(shownLine(std::string_view(text).substr(last.start, last.length)),
                                 kFieldFont)
                        .width;
            drawCaret(cr, x + 1, top + static_cast<double>(lines.size() - 1) * kBodyLineHeight + 2,
                      kBodyLineHeight - 4);
        }
        cairo_restore(cr);
    }

    Spot touched_;      // what the touch began on
    double lastY_ = 0;  // where the finger was when the body last scrolled
    bool dragged_ = false;
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
    fields_[static_cast<size_t>(focused_)] += typedText(typed, focused_);
    if (focused_ == Field::Body)
        bodyChanged();
}

void MFMailComposeViewController::deleteBackward() {
    if (!mayAnswer())
        return;
    std::string& field = fields_[static_cast<size_t>(focused_)];
    field.erase(startOfLastComposedCharacter(field));
    if (focused_ == Field::Body)
        bodyChanged();
}

void MFMailComposeViewController::moveToNextField(bool backwards) {
    if (!mayAnswer())
        return;
    focusField(static_cast<Field>((static_cast<int>(focused_) + (backwards ? 4 : 1)) % 5));
}

void MFMailComposeViewController::focusField(Field field) {
    focused_ = field;
    if (field == Field::Cc || field == Field::Bcc) {
        ccAndBcc_ = true;
        scrollBodyBy(0);  // the body's room is a row shorter
    }
}

bool MFMailComposeViewController::canSend() const {
    for (Field field : {Field::To, Field::Cc, Field::Bcc}) {
        const auto recipients = mailRecipients(text(field));
        if (std::any_of(recipients.begin(), recipients.end(), isMailAddress))
            return true;
    }
    return false;
}

const std::vector<MailTextLine>& MFMailComposeViewController::bodyLines() const {
    const std::string& body = text(Field::Body);
    if (!bodyLines_) {
        measureWithScratchContext([&](cairo_t* cr) {
            cairo_select_font_face(
                cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                kFieldFont.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
            cairo_set_font_size(cr, kFieldFont.pointSize);
            bodyLines_ = mailTextLines(body, kBodyTextWidth, [cr](std::string_view character) {
                const std::string shown = shownLine(character);
                cairo_text_extents_t extents;
                cairo_text_extents(cr, shown.c_str(), &extents);
                return extents.x_advance;
            });
        });
    }
    return *bodyLines_;
}

double MFMailComposeViewController::bodyContentHeight() const {
    return 2 * kBodyMargin + static_cast<double>(attachments_.size()) * kAttachmentHeight +
           static_cast<double>(bodyLines().size()) * kBodyLineHeight;
}

double MFMailComposeViewController::bodyRoomHeight() const {
    return Screen::kHeight - bodyTop(*this);
}

void MFMailComposeViewController::scrollBodyBy(double points) {
    const double end = std::max(0.0, bodyContentHeight() - bodyRoomHeight());
    bodyOffset_ = std::clamp(bodyOffset_ + points, 0.0, end);
}

void MFMailComposeViewController::bodyChanged() {
    bodyLines_.reset();
    // The caret's line with the margin below it, or above it the line alone.
    const double caretBottom = bodyContentHeight();
    const double caretTop = caretBottom - kBodyMargin - kBodyLineHeight;
    if (caretBottom > bodyOffset_ + bodyRoomHeight())
        bodyOffset_ = caretBottom - bodyRoomHeight();
    else if (caretTop < bodyOffset_)
        bodyOffset_ = caretTop;
    scrollBodyBy(0);
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
    NSErrorPtr error;
    const std::string path = writeMessage(DeviceHome::outbox(), "Message", &error);
    if (!path.empty())
        sentPath_ = path;
    finish(error ? MFMailComposeResultFailed : MFMailComposeResultSent,
           error ? NSError::make(MFMailComposeErrorDomain, MFMailComposeErrorCodeSendFailed,
                                 "The message could not be sent. " + error->localizedDescription())
                 : nullptr);
    return true;
}

bool MFMailComposeViewController::save() {
    if (!mayAnswer())
        return false;
    NSErrorPtr error;
    const std::string path = writeMessage(DeviceHome::drafts(), "Draft", &error);
    if (!path.empty())
        sentPath_ = path;
    finish(error ? MFMailComposeResultFailed : MFMailComposeResultSaved,
           error ? NSError::make(MFMailComposeErrorDomain, MFMailComposeErrorCodeSaveFailed,
                                 "The draft could not be saved. " + error->localizedDescription())
                 : nullptr);
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
            mailRecipients(text(Field::Cc)),
            mailRecipients(text(Field::Bcc)),
            text(Field::Subject),
            text(Field::Body),
            attachments_};
}

std::string MFMailComposeViewController::writeMessage(const std::string& folder,
                                                      const std::string& prefix,
                                                      NSErrorPtr* error) const {
    NSErrorPtr cause;
    const MailMessage mail = message();
    const NSTimeInterval now = Clock::current().now();
    const std::string path = NSData::writeToFirstFreePath(
        [&](const NSData::ContentsSink& sink) { return writeMailMessage(mail, now, sink); }, 1,
        std::numeric_limits<long>::max(),
        [&](long n) { return folder + stringWithFormat("/%s_%04ld.eml", prefix.c_str(), n); },
        &cause);
    if (path.empty())
        *error = cause ? cause : NSError::make(MFMailComposeErrorDomain, 0, "");
    return path;
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
