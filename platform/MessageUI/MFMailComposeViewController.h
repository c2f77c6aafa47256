#pragma once
// The mail composer: a screen, presented modally, on which a person writes a message and sends
// it, saves it as a draft or cancels it. The sender of the message is the phone's owner
// (kMFMailComposeSender); the program sets what it needs (here: attachments) before presenting
// it, and hears how it ended through the mail-compose delegate. The composer never dismisses
// itself: the delegate does.
//
// The person writes into the fields To, Cc, Bcc, Subject and the body, in Tab order. Cc and Bcc
// share one row, "Cc/Bcc", until one of them takes the caret: the row then splits into "Cc" and
// "Bcc" for good. The caret starts in To; a tap on a field or Tab moves it. Typing goes to the
// end of the field with the caret (as a UIKeyInput, through UIApplication's typing); ill-formed
// UTF-8 in it becomes U+FFFD. To, Cc and Bcc hold addresses separated by commas, semicolons or
// line breaks (a line break typed or pasted there becomes ", "); they and Subject take one line
// (a line break in Subject becomes a space, a Tab a space; Return moves to the next field). A
// field without the caret shows the start of its text, the one with it the end.
//
// The body takes any number of lines, Tabs shown as spacing; it scrolls, with the attachments
// above its text, in the screen below the fields: typing there keeps the caret in view, and a
// finger dragged up or down on it scrolls it.
//
// Send stays disabled (drawn grey; a tap on it does nothing) until To, Cc or Bcc holds an
// address (isMailAddress). Sending writes the message as one new file "Message_NNNN.eml" (the
// first free number from 0001) in the home's Mail/Outbox/, as MailMessageText writes it: the
// addresses of To, Cc and Bcc (the last in a Bcc header of its own), the subject, the body as its
// text part, then the attachments. Saving the draft writes the same message as "Draft_NNNN.eml"
// in Mail/Drafts/. Each file appears whole or not at all: written under a temporary name first,
// then given a number that no directory entry holds (a dangling link too), never writing through
// one.
//
// A finger on the composer's screen: Send (while enabled) sends; Cancel asks with an action sheet
// whether to delete the draft (cancel), save it (save) or go back to the message.
//
// Threads: main thread only. The composer keeps its attachments; the delegate is not retained.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Foundation/NSError.h"
#include "platform/Foundation/Value.h"
#include "platform/MessageUI/MailMessageText.h"
#include "platform/MessageUI/MailTextLayout.h"
#include "platform/UIKit/UIActionSheet.h"
#include "platform/UIKit/UIKeyInput.h"
#include "platform/UIKit/UIViewController.h"

enum MFMailComposeResult {
    MFMailComposeResultCancelled = 0,
    MFMailComposeResultSaved = 1,
    MFMailComposeResultSent = 2,
    MFMailComposeResultFailed = 3,
};

inline constexpr const char* MFMailComposeErrorDomain = "MFMailComposeErrorDomain";
enum MFMailComposeErrorCode {
    MFMailComposeErrorCodeSaveFailed = 0,
    MFMailComposeErrorCodeSendFailed = 1,
};

inline constexpr const char* kMFMailComposeSender = "Phone Owner <owner@phone.invalid>";

class MFMailComposeViewController;

class MFMailComposeViewControllerDelegate {
  public:
    virtual ~MFMailComposeViewControllerDelegate() = default;
    // `error` is null unless the result is MFMailComposeResultFailed.
    virtual void mailComposeControllerDidFinishWithResult(MFMailComposeViewController* controller,
                                                          MFMailComposeResult result,
                                                          const NSErrorPtr& error) {
        (void)controller;
        (void)result;
        (void)error;
    }
};

class MFMailComposeViewController : public UIViewController,
                                    public UIActionSheetDelegate,
                                    public UIKeyInput {
  public:
    using Attachment = MailAttachment;
    // The fields in Tab order.
    enum class Field { To, Cc, Bcc, Subject, Body };

    MFMailComposeViewController() = default;
    static std::shared_ptr<MFMailComposeViewController> init();

    void setMailComposeDelegate(std::weak_ptr<MFMailComposeViewControllerDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    // Adds an attachment after the ones already there. An empty MIME type counts as
    // "application/octet-stream"; line breaks in the type or the name are dropped.
    void addAttachmentData(Data data, std::string mimeType, std::string fileName);
    // The same with the bytes of the file at `path`, opened now (as a RegularFile) and kept open:
    // they are read a piece at a time as the message is written, never whole into memory, and a
    // file put in its place meanwhile changes nothing. False, with *error, and nothing added
    // when no regular file can be opened there.
    bool addAttachmentWithContentsOfFile(const std::string& path, std::string mimeType,
                                         std::string fileName, NSErrorPtr* error = nullptr);
    const std::vector<Attachment>& attachments() const { return attachments_; }

    // What the person wrote into `field` so far.
    const std::string& text(Field field) const { return fields_[static_cast<size_t>(field)]; }
    Field focusedField() const { return focused_; }
    void focusField(Field field);
    // The row "Cc/Bcc" has split into "Cc" and "Bcc".
    bool showsCcAndBcc() const { return ccAndBcc_; }
    // To, Cc or Bcc holds an address: the screen's Send is enabled.
    bool canSend() const;

    // How far the body is scrolled, in points from its top; a drag moves it by `points` (down
    // the text for a positive value), kept between the top and the end of the text.
    double bodyScrollOffset() const { return bodyOffset_; }
    void scrollBodyBy(double points);

    // Typing into the focused field. The composer takes it while it may be answered.
    bool acceptsTyping() const override { return mayAnswer(); }
    void insertText(const std::string& text) override;
    void deleteBackward() override;
    // From the body, Tab goes round to To (Shift+Tab from To to the body).
    void moveToNextField(bool backwards) override;

    // A person's answer on the composer's screen; each tells the delegate its result once.
    // False (and nothing happens) while the composer is not presented, after it has already been
    // answered, or while the application ignores interaction events.
    // send: writes the message to the outbox; the result is Sent, or Failed with an error (code
    // MFMailComposeErrorCodeSendFailed) when the message cannot be written. The screen's Send
    // calls it only while canSend(); the touch-script driver, which cannot type, calls it
    // whatever the recipients.
    bool send();
    // save: writes the draft to Mail/Drafts/; the result Saved, or Failed with an error (code
    // MFMailComposeErrorCodeSaveFailed) when it cannot be written.
    bool save();
    // cancel: the result Cancelled.
    bool cancel();
    bool isFinished() const { return finished_; }
    // The path of the message that `send` or `save` wrote; "" before.
    const std::string& sentMessagePath() const { return sentPath_; }

    // The person's Cancel on the screen: the action sheet "Delete Draft", "Save Draft",
    // "Cancel". Nothing while the composer may not be answered.
    void askWhatBecomesOfTheDraft();
    void actionSheetClickedButtonAtIndex(UIActionSheet* actionSheet, int buttonIndex) override;

    // The topmost composer on the key window (presented and not yet dismissed), or null.
    static std::shared_ptr<MFMailComposeViewController> visibleComposer();

    void loadView() override;

    // The body's lines as the screen lays them out, and the height of what scrolls (the
    // attachments and the lines) and of the room it scrolls in.
    const std::vector<MailTextLine>& bodyLines() const;
    double bodyContentHeight() const;
    double bodyRoomHeight() const;

  private:
    bool mayAnswer() const;
    void addAttachment(Attachment attachment);
    void finish(MFMailComposeResult result, const NSErrorPtr& error);
    // The message as it goes to the outbox or the drafts.
    MailMessage message() const;
    // Writes the message as PREFIX_NNNN.eml in `folder`; its path, or "" with *error.
    std::string writeMessage(const std::string& folder, const std::string& prefix,
                             NSErrorPtr* error) const;
    // After the body's text changed: laid out afresh, scrolled so that the caret's line is in view.
    void bodyChanged();

    std::weak_ptr<MFMailComposeViewControllerDelegate> delegate_;
    std::vector<Attachment> attachments_;
    std::string fields_[5];
    Field focused_ = Field::To;
    bool ccAndBcc_ = false;
    double bodyOffset_ = 0;
    // The body as laid out; reset when its text changes.
    mutable std::optional<std::vector<MailTextLine>> bodyLines_;
    bool finished_ = false;
    std::string sentPath_;
};
