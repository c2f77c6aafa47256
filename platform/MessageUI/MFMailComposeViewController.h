#pragma once
// The mail composer: a screen, presented modally, on which a person writes a message and sends
// it, saves it as a draft or cancels it. The sender of the message is the phone's owner
// (kMFMailComposeSender); the program sets what it needs (here: attachments) before presenting
// it, and hears how it ended through the mail-compose delegate. The composer never dismisses
// itself: the delegate does.
//
// The person writes into four fields, in Tab order: To, Cc/Bcc, Subject and the body. The caret
// starts in To; a tap on a field or Tab moves it. Typing goes to the field with the caret (as a
// UIKeyInput, through UIApplication's typing). To and Cc/Bcc hold addresses separated by commas;
// the three of them take one line (a line break typed or pasted there becomes a space, and
// Return moves to the next field); the body takes any number.
//
// Sending writes the message as one new file "Message_NNNN.eml" (the first free number from
// 0001) in the home's Mail/Outbox/, as MailMessageText writes it: the addresses of To and of
// Cc/Bcc as its To and Cc, the subject, the body as its text part, then the attachments. The
// file appears whole or not at all: written under a temporary name first, then given a number
// that no directory entry holds (a dangling link too), never writing through one.
//
// A finger on the composer's screen: Send sends; Cancel asks with an action sheet whether to
// delete the draft (cancel), save it (save) or go back to the message.
//
// Threads: main thread only. The composer keeps its attachments; the delegate is not retained.

#include <memory>
#include <string>
#include <vector>

#include "platform/Foundation/NSError.h"
#include "platform/Foundation/Value.h"
#include "platform/MessageUI/MailMessageText.h"
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
    enum class Field { To, CcBcc, Subject, Body };

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
    void focusField(Field field) { focused_ = field; }

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
    // MFMailComposeErrorCodeSendFailed) when the message cannot be written.
    bool send();
    // save: the result Saved (the draft stays with the mail program; nothing is written).
    bool save();
    // cancel: the result Cancelled.
    bool cancel();
    bool isFinished() const { return finished_; }
    // The path of the message that `send` wrote; "" before.
    const std::string& sentMessagePath() const { return sentPath_; }

    // The person's Cancel on the screen: the action sheet "Delete Draft", "Save Draft",
    // "Cancel". Nothing while the composer may not be answered.
    void askWhatBecomesOfTheDraft();
    void actionSheetClickedButtonAtIndex(UIActionSheet* actionSheet, int buttonIndex) override;

    // The topmost composer on the key window (presented and not yet dismissed), or null.
    static std::shared_ptr<MFMailComposeViewController> visibleComposer();

    void loadView() override;

  private:
    bool mayAnswer() const;
    void addAttachment(Attachment attachment);
    void finish(MFMailComposeResult result, const NSErrorPtr& error);
    // The message as it goes to the outbox.
    MailMessage message() const;
    NSErrorPtr writeToOutbox();

    std::weak_ptr<MFMailComposeViewControllerDelegate> delegate_;
    std::vector<Attachment> attachments_;
    std::string fields_[4];
    Field focused_ = Field::To;
    bool finished_ = false;
    std::string sentPath_;
};
