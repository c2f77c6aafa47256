#pragma once
// The text of a mail message as the composer writes it to the outbox: RFC 5322 headers (Date,
// From, To, Cc and Bcc when there are recipients, Subject when there is one, Message-ID,
// MIME-Version) and a multipart/mixed body: the text as a text/plain UTF-8 part (7bit when it is
// short-lined ASCII, else base64), then each attachment base64-encoded under its MIME type and
// file name. Line ends are CRLF; header lines are folded before 78 characters where they can be.
// A subject that is not plain ASCII goes as RFC 2047 encoded words (UTF-8, base64). Each recipient
// is written so that a reader takes back its name and its address as typed: a name as a quoted
// string (one encoded word where it is not ASCII or holds "=?"), a local part that is no plain
// dot-atom as a quoted string.
//
// Bcc: a message in the outbox is one that still has to go, like a message handed to
// `sendmail -t`: its blind copies travel with it in a Bcc header of their own, for the sender to
// take off before delivery; they never stand in its To or Cc.

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
    std::vector<std::string> to, cc, bcc;
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

// The recipients of a field as a person types it: split at commas, semicolons and line breaks
// outside double quotes, each trimmed of spaces; empty ones are dropped.
std::vector<std::string> mailRecipients(const std::string& field);

// A recipient as a display name (unquoted; "" for none) and an address: "Ann <ann@x>",
// "\"Doe, Jo\" <jo@x>" or "ann@x".
struct MailRecipient {
    std::string name;
    std::string address;
};
MailRecipient mailRecipientParts(const std::string& recipient);

// The recipient holds an address: something, "@", then a domain without spaces.
bool isMailAddress(const std::string& recipient);
