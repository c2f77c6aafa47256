#pragma once
// The text of a mail message as the composer writes it to the outbox: RFC 5322 headers (Date,
// From, To and Cc when there are recipients, Subject when there is one, Message-ID,
// MIME-Version) and a multipart/mixed body: the text as a text/plain UTF-8 part (7bit when it is
// short-lined ASCII, else base64), then each attachment base64-encoded under its MIME type and
// file name. Line ends are CRLF; header lines are folded before 78 characters where they can be.
// A subject that is not plain ASCII goes as RFC 2047 encoded words (UTF-8, base64); so does
// a recipient's display name.

#include <memory>
#include <string>
#include <vector>

#include "platform/Foundation/Clock.h"
#include "platform/Foundation/Value.h"

struct MailAttachment {
    std::shared_ptr<const Data> data;
    std::string mimeType;
    std::string fileName;
};

struct MailMessage {
    std::string from;
    // Each an address, with a display name or without ("Ann <ann@example.invalid>").
    std::vector<std::string> to, cc;
    std::string subject;
    // Lines end in "\n".
    std::string body;
    std::vector<MailAttachment> attachments;
};

// The whole message, dated `now`, with a new Message-ID and boundary at each call.
std::string mailMessageText(const MailMessage& message, NSTimeInterval now);

// The addresses of a recipient field as a person types it: split at commas outside double
// quotes, each trimmed of spaces; empty ones are dropped.
std::vector<std::string> mailRecipients(const std::string& field);
