#include "platform/MessageUI/MFMailComposeViewController.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <random>

#include "platform/Device/DeviceHome.h"
#include "platform/Device/Screen.h"
#include "platform/Foundation/Clock.h"
#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSString.h"
#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UIStringDrawing.h"
#include "platform/UIKit/UIWindow.h"

namespace {

constexpr size_t kBase64LineLength = 76;

std::string withoutLineBreaks(std::string text) {
    text.erase(std::remove_if(text.begin(), text.end(),
                              [](unsigned char c) { return c == '\r' || c == '\n' || c == 0; }),
               text.end());
    return text;
}

// Base64 in lines of 76 characters, each ended by CRLF.
void appendBase64(std::string& out, const Data& data) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    size_t lineLength = 0;
    auto put = [&](char c) {
        out += c;
        if (++lineLength == kBase64LineLength) {
            out += "\r\n";
            lineLength = 0;
        }
    };
    size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        const uint32_t n = uint32_t{data[i]} << 16 | uint32_t{data[i + 1]} << 8 | data[i + 2];
        put(alphabet[n >> 18 & 63]);
        put(alphabet[n >> 12 & 63]);
        put(alphabet[n >> 6 & 63]);
        put(alphabet[n & 63]);
    }
    if (const size_t rest = data.size() - i; rest > 0) {
        const uint32_t n = uint32_t{data[i]} << 16 | (rest == 2 ? uint32_t{data[i + 1]} << 8 : 0);
        put(alphabet[n >> 18 & 63]);
        put(alphabet[n >> 12 & 63]);
        put(rest == 2 ? alphabet[n >> 6 & 63] : '=');
        put('=');
    }
    if (lineLength > 0)
        out += "\r\n";
}

// A MIME parameter: a quoted string for ASCII, else the RFC 2231 form in UTF-8.
std::string parameter(const std::string& name, const std::string& value) {
    const bool ascii = std::all_of(value.begin(), value.end(),
                                   [](unsigned char c) { return c >= 0x20 && c < 0x7f; });
    if (ascii) {
        std::string quoted;
        for (char c : value) {
            if (c == '"' || c == '\\')
                quoted += '\\';
            quoted += c;
        }
        return name + "=\"" + quoted + "\"";
    }
    std::string encoded;
    for (unsigned char c : value) {
        if (std::isalnum(c) || c == '.' || c == '-' || c == '_') {
            encoded += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            encoded += hex;
        }
    }
    return name + "*=utf-8''" + encoded;
}

// RFC 5322 date-time in UTC, with English names whatever the locale.
std::string messageDate(NSTimeInterval now) {
    static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const time_t seconds = static_cast<time_t>(std::floor(now));
    struct tm t = {};
    gmtime_r(&seconds, &t);
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d +0000", days[t.tm_wday],
                  t.tm_mday, months[t.tm_mon], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

std::string randomHex(size_t digits) {
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < digits; ++i) out += hex[generator() & 15];
    return out;
}

constexpr CGRect kCancelRect{{8, 20}, {80, 44}};
constexpr CGRect kSendRect{{Screen::kWidth - 88, 20}, {80, 44}};

// The composer's screen: a bar with Cancel, the title and Send, the empty address and subject
// lines, and the attachments by name and size.
class MailComposeView : public UIView {
  public:
    bool touchBegan(CGPoint point) override {
        touched_ = buttonAt(point);
        return true;
    }
    void touchEnded(CGPoint point) override {
        const CGRect* button = touched_;
        touched_ = nullptr;
        auto* composer = dynamic_cast<MFMailComposeViewController*>(viewController());
        if (!composer || !button || buttonAt(point) != button)
            return;
        if (button == &kSendRect)
            composer->send();
        else
            composer->askWhatBecomesOfTheDraft();
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
        const UIColor grey = UIColor::colorWithRed(0.5, 0.5, 0.5, 1);
        double top = 64;
        for (const char* field : {"To:", "Cc/Bcc:", "Subject:"}) {
            drawStringInRect(cr, field, CGRectMake(8, top, width - 16, 44),
                             UIFont::systemFontOfSize(15), grey, UITextAlignmentLeft);
            cairo_set_source_rgb(cr, 0.8, 0.8, 0.8);
            cairo_rectangle(cr, 0, top + 43, width, 1);
            cairo_fill(cr);
            top += 44;
        }
        auto* composer = dynamic_cast<MFMailComposeViewController*>(viewController());
        if (!composer)
            return;
        top += 12;
        for (const auto& attachment : composer->attachments()) {
            cairo_set_source_rgb(cr, 0.85, 0.88, 0.95);
            cairo_rectangle(cr, 12, top, 36, 44);
            cairo_fill(cr);
            char size[32];
            std::snprintf(size, sizeof size, "%.1f KB", attachment.data->size() / 1024.0);
            drawStringInRect(cr, attachment.fileName, CGRectMake(58, top, width - 70, 24),
                             UIFont::boldSystemFontOfSize(15), UIColor::blackColor(),
                             UITextAlignmentLeft);
            drawStringInRect(cr, size, CGRectMake(58, top + 22, width - 70, 20),
                             UIFont::systemFontOfSize(13), grey, UITextAlignmentLeft);
            top += 56;
        }
    }

  private:
    static const CGRect* buttonAt(CGPoint point) {
        for (const CGRect* button : {&kCancelRect, &kSendRect}) {
            if (CGRectContainsPoint(*button, point))
                return button;
        }
        return nullptr;
    }

    const CGRect* touched_ = nullptr;  // the button under the touch as it began
};

}  // namespace

std::shared_ptr<MFMailComposeViewController> MFMailComposeViewController::init() {
    return std::make_shared<MFMailComposeViewController>();
}

void MFMailComposeViewController::addAttachmentData(Data data, std::string mimeType,
                                                    std::string fileName) {
    mimeType = withoutLineBreaks(std::move(mimeType));
    if (mimeType.empty())
        mimeType = "application/octet-stream";
    attachments_.push_back({std::make_shared<const Data>(std::move(data)), std::move(mimeType),
                            withoutLineBreaks(std::move(fileName))});
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

std::string MFMailComposeViewController::messageText() const {
    const std::string boundary = "=_Tilvex_" + randomHex(24);
    std::string text;
    text += "Date: " + messageDate(Clock::current().now()) + "\r\n";
    text += std::string("From: ") + kMFMailComposeSender + "\r\n";
    text += "Message-ID: <" + randomHex(16) + "." + randomHex(16) + "@phone.invalid>\r\n";
    text += "MIME-Version: 1.0\r\n";
    text += "Content-Type: multipart/mixed; " + parameter("boundary", boundary) + "\r\n";
    text += "\r\n";
    text += "This is a multi-part message in MIME format.\r\n";
    text += "--" + boundary + "\r\n";
    text += "Content-Type: text/plain; charset=utf-8\r\n";
    text += "Content-Transfer-Encoding: 7bit\r\n";
    text += "\r\n";
    for (const auto& attachment : attachments_) {
        // The boundary holds "=_", which base64 text never does.
        text += "\r\n--" + boundary + "\r\n";
        text += "Content-Type: " + attachment.mimeType + "; " +
                parameter("name", attachment.fileName) + "\r\n";
        text += "Content-Disposition: attachment; " + parameter("filename", attachment.fileName) +
                "\r\n";
        text += "Content-Transfer-Encoding: base64\r\n";
        text += "\r\n";
        appendBase64(text, *attachment.data);
    }
    text += "\r\n--" + boundary + "--\r\n";
    return text;
}

NSErrorPtr MFMailComposeViewController::writeToOutbox() {
    NSErrorPtr cause;
    const std::string text = messageText();
    const std::string outbox = DeviceHome::outbox();
    const std::string path = NSData::writeToFirstFreePath(
        Data(text.begin(), text.end()), 1, std::numeric_limits<long>::max(),
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
