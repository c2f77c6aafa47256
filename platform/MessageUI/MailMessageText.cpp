#include "platform/MessageUI/MailMessageText.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <string_view>

namespace {

constexpr size_t kBase64LineLength = 76;
// An attached file is encoded in pieces of this many bytes: whole lines of 57 bytes each.
constexpr size_t kBase64PieceBytes = 57 * 16384;
// Folding aims below this length; RFC 5322 allows up to 998 characters a line.
constexpr size_t kHeaderLineLength = 78;
constexpr size_t kLongestLine = 998;
// UTF-8 bytes in one encoded word: 52 base64 characters, 64 with "=?utf-8?B?" and "?=", so
// that "Subject: " and the first word fit on a line.
constexpr size_t kEncodedWordBytes = 39;

std::string base64(std::string_view bytes) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    auto byte = [&](size_t i) { return uint32_t{static_cast<unsigned char>(bytes[i])}; };
    std::string out;
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t n = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
        out += {alphabet[n >> 18 & 63], alphabet[n >> 12 & 63], alphabet[n >> 6 & 63],
                alphabet[n & 63]};
    }
    if (const size_t rest = bytes.size() - i; rest > 0) {
        const uint32_t n = byte(i) << 16 | (rest == 2 ? byte(i + 1) << 8 : 0);
        out += {alphabet[n >> 18 & 63], alphabet[n >> 12 & 63],
                rest == 2 ? alphabet[n >> 6 & 63] : '=', '='};
    }
    return out;
}

// Base64 in lines of 76 characters, each ended by CRLF.
void appendBase64(std::string& out, std::string_view bytes) {
    const std::string encoded = base64(bytes);
    for (size_t i = 0; i < encoded.size(); i += kBase64LineLength)
        out.append(encoded, i, kBase64LineLength).append("\r\n");
}

bool isPlainASCII(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return c >= 0x20 && c < 0x7f; });
}

// A MIME parameter: a quoted string for ASCII, else the RFC 2231 form in UTF-8.
std::string parameter(const std::string& name, const std::string& value) {
    if (isPlainASCII(value)) {
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

// RFC 2047 encoded words, each of whole UTF-8 characters, folded onto lines of their own.
std::string encodedWords(std::string_view text) {
    std::string out;
    while (!text.empty()) {
        size_t n = std::min(kEncodedWordBytes, text.size());
        while (n < text.size() && n > 1 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
            --n;
        if (!out.empty())
            out += "\r\n ";
        out += "=?utf-8?B?" + base64(text.substr(0, n)) + "?=";
        text.remove_prefix(n);
    }
    return out;
}

// The subject as it is, where a reader cannot take it for encoded words; else encoded.
std::string subjectHeader(const std::string& subject) {
    if (isPlainASCII(subject) && subject.find("=?") == std::string::npos &&
        subject.size() + 9 <= kLongestLine)
        return subject;
    return encodedWords(subject);
}

bool isAtomText(unsigned char c) {
    return std::isalnum(c) || std::string_view("!#$%&'*+-/=?^_`{|}~").find(static_cast<char>(c)) !=
                                  std::string_view::npos;
}

// A local part as it stands where it is a dot-atom a reader cannot take for an encoded word; else
// a quoted string, its "=" quoted too (a reader decodes an encoded word even there).
std::string localPart(std::string_view local) {
    const bool dotAtom =
        !local.empty() && local.front() != '.' && local.back() != '.' &&
        local.find("..") == std::string_view::npos && local.find("=?") == std::string_view::npos &&
        std::all_of(local.begin(), local.end(),
                    [](unsigned char c) { return isAtomText(c) || c == '.' || c >= 0x80; });
    if (dotAtom)
        return std::string(local);
    std::string quoted = "\"";
    for (char c : local) {
        if (c == '"' || c == '\\' || c == '=')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

// An address: its local part, then its domain as typed (an address of its own that is not ASCII
// goes in UTF-8).
std::string addrSpec(std::string_view address) {
    const size_t at = address.rfind('@');
    if (at == std::string_view::npos)
        return localPart(address);
    return localPart(address.substr(0, at)) + std::string(address.substr(at));
}

// A display name: words of atoms as they are, other ASCII as a quoted string; else, or where a
// reader could take it for encoded words, as one encoded word of its own (readers differ on the
// space between two of them in a name: some keep it, as others do not).
std::string displayName(const std::string& name) {
    if (!isPlainASCII(name) || name.find("=?") != std::string::npos)
        return "=?utf-8?B?" + base64(name) + "?=";
    if (name.front() != ' ' && name.back() != ' ' && name.find("  ") == std::string::npos &&
        std::all_of(name.begin(), name.end(),
                    [](unsigned char c) { return isAtomText(c) || c == ' '; }))
        return name;
    std::string quoted = "\"";
    for (char c : name) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

// One recipient, so that a reader takes back the name and the address as typed.
std::string address(const std::string& recipient) {
    const MailRecipient parts = mailRecipientParts(recipient);
    const std::string spec = "<" + addrSpec(parts.address) + ">";
    if (parts.name.empty())
        return addrSpec(parts.address);
    const std::string name = displayName(parts.name);
    // A long name and its address take a line each.
    return name + (name.size() + 1 + spec.size() + 4 > kHeaderLineLength ? "\r\n " : " ") + spec;
}

// "Name: a, b" with a fold after a comma where the line would grow past 78 characters.
std::string addressHeader(const std::string& name, const std::vector<std::string>& recipients) {
    std::string out = name + ":";
    size_t lineLength = out.size();
    for (size_t i = 0; i < recipients.size(); ++i) {
        const std::string one = address(recipients[i]) + (i + 1 < recipients.size() ? "," : "");
        const size_t firstLine = std::min(one.find("\r\n"), one.size());
        if (i > 0 && lineLength + 1 + firstLine > kHeaderLineLength) {
            out += "\r\n";
            lineLength = 0;
        }
        out += " " + one;
        const size_t lastBreak = one.rfind("\r\n");
        lineLength = lastBreak == std::string::npos ? lineLength + 1 + one.size()
                                                    : one.size() - lastBreak - 2;
    }
    return out + "\r\n";
}

// The text part: 7bit where every line is ASCII and short enough, else base64.
std::string textPart(const std::string& body) {
    std::string crlf;
    bool sevenBit = true;
    size_t lineLength = 0;
    for (char c : body) {
        if (c == '\n') {
            crlf += "\r\n";
            lineLength = 0;
            continue;
        }
        crlf += c;
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u >= 0x7f || ++lineLength > kLongestLine)
            sevenBit = false;
    }
    std::string part = "Content-Type: text/plain; charset=utf-8\r\n";
    if (sevenBit)
        return part + "Content-Transfer-Encoding: 7bit\r\n\r\n" + crlf;
    part += "Content-Transfer-Encoding: base64\r\n\r\n";
    appendBase64(part, crlf);
    return part;
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

}  // namespace

uint64_t MailAttachment::size() const {
    return file ? file->size() : data ? data->size() : 0;
}

bool writeMailMessage(const MailMessage& message, NSTimeInterval now,
                      const std::function<bool(const uint8_t* bytes, size_t length)>& sink) {
    auto put = [&sink](const std::string& text) {
        return sink(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    };
    const std::string boundary = "=_Tilvex_" + randomHex(24);
    std::string text;
    text += "Date: " + messageDate(now) + "\r\n";
    text += "From: " + message.from + "\r\n";
    if (!message.to.empty())
        text += addressHeader("To", message.to);
    if (!message.cc.empty())
        text += addressHeader("Cc", message.cc);
    if (!message.bcc.empty())
        text += addressHeader("Bcc", message.bcc);
    if (!message.subject.empty())
        text += "Subject: " + subjectHeader(message.subject) + "\r\n";
    text += "Message-ID: <" + randomHex(16) + "." + randomHex(16) + "@phone.invalid>\r\n";
    text += "MIME-Version: 1.0\r\n";
    text += "Content-Type: multipart/mixed; " + parameter("boundary", boundary) + "\r\n";
    text += "\r\n";
    text += "This is a multi-part message in MIME format.\r\n";
    text += "--" + boundary + "\r\n";
    text += textPart(message.body);
    for (const auto& attachment : message.attachments) {
        // The boundary holds "=_", which base64 text never does.
        text += "\r\n--" + boundary + "\r\n";
        text += "Content-Type: " + attachment.mimeType + "; " +
                parameter("name", attachment.fileName) + "\r\n";
        text += "Content-Disposition: attachment; " + parameter("filename", attachment.fileName) +
                "\r\n";
        text += "Content-Transfer-Encoding: base64\r\n";
        text += "\r\n";
        if (!attachment.file) {
            if (attachment.data)
                appendBase64(
                    text, std::string_view(reinterpret_cast<const char*>(attachment.data->data()),
                                           attachment.data->size()));
            continue;
        }
        if (!put(text))
            return false;
        text.clear();
        // Pieces of whole base64 lines: the text is the same as from the bytes in one piece.
        const bool whole = attachment.file->readPieces(
            kBase64PieceBytes, [&put](const uint8_t* bytes, size_t length) {
                std::string lines;
                appendBase64(lines, std::string_view(reinterpret_cast<const char*>(bytes), length));
                return put(lines);
            });
        if (!whole)
            return false;
    }
    text += "\r\n--" + boundary + "--\r\n";
    return put(text);
}

std::vector<std::string> mailRecipients(const std::string& field) {
    std::vector<std::string> recipients;
    std::string current;
    bool quoted = false;
    auto take = [&] {
        const size_t first = current.find_first_not_of(' ');
        if (first != std::string::npos)
            recipients.push_back(current.substr(first, current.find_last_not_of(' ') - first + 1));
        current.clear();
    };
    for (char c : field) {
        if (c == '"')
            quoted = !quoted;
        if (!quoted && (c == ',' || c == ';' || c == '\r' || c == '\n'))
            take();
        else
            current += c;
    }
    take();
    return recipients;
}

MailRecipient mailRecipientParts(const std::string& recipient) {
    auto trimmed = [](std::string text) {
        const size_t first = text.find_first_not_of(' ');
        if (first == std::string::npos)
            return std::string();
        return text.substr(first, text.find_last_not_of(' ') - first + 1);
    };
    const std::string whole = trimmed(recipient);
    const size_t open = whole.rfind('<');
    if (whole.empty() || whole.back() != '>' || open == std::string::npos)
        return {"", whole};
    std::string name = trimmed(whole.substr(0, open));
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
        std::string unquoted;
        for (size_t i = 1; i + 1 < name.size(); ++i) {
            if (name[i] == '\\' && i + 2 < name.size())
                ++i;
            unquoted += name[i];
        }
        name = unquoted;
    }
    return {name, trimmed(whole.substr(open + 1, whole.size() - open - 2))};
}

bool isMailAddress(const std::string& recipient) {
    const std::string address = mailRecipientParts(recipient).address;
    const size_t at = address.rfind('@');
    return at != std::string::npos && at > 0 && at + 1 < address.size() &&
           address.find(' ', at) == std::string::npos;
}
