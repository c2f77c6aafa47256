#include "platform/Foundation/NSString.h"

#include <unicode/ubrk.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

std::string stringWithFormatV(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n <= 0)
        return {};
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), format, args);
    return std::string(buf.data(), static_cast<size_t>(n));
}

std::string stringWithFormat(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string out = stringWithFormatV(format, args);
    va_end(args);
    return out;
}

size_t utf16Length(std::string_view s) {
    size_t units = 0;
    for (size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        size_t len = c < 0x80           ? 1
                     : (c >> 5) == 0x6  ? 2
                     : (c >> 4) == 0xE  ? 3
                     : (c >> 3) == 0x1E ? 4
                                        : 0;
        bool valid = len != 0 && i + len <= s.size();
        for (size_t k = 1; valid && k < len; ++k)
            valid = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
        if (!valid) {
            units += 1;
            i += 1;
            continue;
        }
        units += len == 4 ? 2 : 1;
        i += len;
    }
    return units;
}

size_t startOfLastComposedCharacter(std::string_view utf8) {
    if (utf8.empty())
        return 0;
    UErrorCode status = U_ZERO_ERROR;
    UText* text = utext_openUTF8(nullptr, utf8.data(), static_cast<int64_t>(utf8.size()), &status);
    UBreakIterator* characters = ubrk_open(UBRK_CHARACTER, nullptr, nullptr, 0, &status);
    ubrk_setUText(characters, text, &status);
    const int32_t start = U_SUCCESS(status)
                              ? ubrk_preceding(characters, static_cast<int32_t>(utf8.size()))
                              : UBRK_DONE;
    ubrk_close(characters);
    utext_close(text);
    if (start != UBRK_DONE)
        return static_cast<size_t>(start);
    // Without ICU's answer: back over the continuation bytes of one UTF-8 sequence.
    size_t i = utf8.size() - 1;
    for (size_t n = 0; i > 0 && n < 3 && (static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80; ++n)
        --i;
    return i;
}

std::string stringByReplacingInvalidUTF8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0)
            out += "\xEF\xBF\xBD";
        else
            out.append(text.substr(static_cast<size_t>(start), static_cast<size_t>(i - start)));
    }
    return out;
}

std::string lastPathComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    auto slash = path.rfind('/');
    if (slash == std::string_view::npos || path.size() == 1)
        return std::string(path);
    return std::string(path.substr(slash + 1));
}

std::string stringByAppendingPathComponent(std::string_view path, std::string_view component) {
    std::string out(path);
    while (!out.empty() && out.back() == '/') out.pop_back();
    while (!component.empty() && component.front() == '/') component.remove_prefix(1);
    out += '/';
    out += component;
    return out;
}

std::string stringByExpandingTildeInPath(std::string_view path) {
    if (path.empty() || path[0] != '~' || (path.size() > 1 && path[1] != '/'))
        return std::string(path);
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + std::string(path.substr(1));
}

std::string stringByResolvingFolderLinksInPath(std::string_view path) {
    const std::filesystem::path file(path);
    std::error_code ec;
    const auto folder = std::filesystem::canonical(file.parent_path(), ec);
    return ec ? std::string(path) : (folder / file.filename()).string();
}
