#pragma once
// The text of a mail message as the composer writes it to the outbox: RFC 5322 headers (Date,
// From, To and Cc when there are recipients, Subject when there is one, Message-ID,
// MIME-Version) and a multipart/mixed body: the text as a text/plain UTF-8 part (7bit when it is
// short-lined ASCII, else base64), then each attachment base64-encoded under its MIME type and
// file name. Line ends are CRLF; header lines are folded before 78 characters where they can be.
// A subject that is not plain ASCII goes as RFC 2047 encoded words (UTF-8, base64); so does
// a recipient's display name.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Foundation/Clock.h"
#include "platform/Foundation/RegularFile.h"
#include "platform/Foundation/Value.h"

struct MailAttachment {
    // The bytes, unless `file` is set.
    std::shared_ptr<const Data> data;
    std::string mimeType;
    std::string fileName;
    // The open file whose bytes are the attachment, read a piece at a time as the message is
    // written.
    std::shared_ptr<const RegularFile> file;

    uint64_t size() const;
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

// Hands the whole message, dated `now`, with a new Message-ID and boundary at each call, to
// `sink` in order, a piece at a time: an attached file is never in memory whole. False as soon as
// `sink` returns false, or when an attached file cannot be read to its end.
bool writeMailMessage(const MailMessage& message, NSTimeInterval now,
                      const std::function<bool(const uint8_t* bytes, size_t length)>& sink);

// The addresses of a recipient field as a person types it: split at commas outside double
// quotes, each trimmed of spaces; empty ones are dropped.
std::vector<std::string> mailRecipients(const std::string& field);
