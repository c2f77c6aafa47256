#pragma once
// Reads an .eml file back with Python's own MIME parser (tests/platform/MessageUI/read_message.py),
// so that tests of mail do not trust our own writer to read what it wrote.

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

// The message as JSON (top-level headers, "headers" their names in order, "to", "cc" and "bcc"
// as lists of "Name <address>", the
// decoded "subject", the parser's defects, the text part's "body" and "body_charset", the
// top-level "parts" by content type, and "attachments": type, filename, disposition, encoding,
// and "file": the decoded payload written into `outdir`); null when the reader cannot run or
// fails.
inline nlohmann::json readMailMessage(const std::string& eml, const std::string& outdir) {
    const std::string command = "python3 '" TILVEX_SOURCE_DIR
                                "/tests/platform/MessageUI/read_message.py' '" +
                                eml + "' '" + outdir + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return nullptr;
    std::string output;
    char buffer[4096];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    if (::pclose(pipe) != 0)
        return nullptr;
    return nlohmann::json::parse(output, nullptr, false);
}
