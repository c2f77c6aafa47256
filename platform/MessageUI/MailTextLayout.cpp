#include "platform/MessageUI/MailTextLayout.h"

#include <unicode/ubrk.h>
#include <unicode/utext.h>

#include <limits>
#include <unordered_map>

namespace {

// The boundaries of the characters of `text` in order, the end included; byte by byte where ICU
// cannot say.
std::vector<size_t> characterBoundaries(std::string_view text) {
    std::vector<size_t> boundaries;
    UErrorCode status = U_ZERO_ERROR;
    UText* utext = nullptr;
    UBreakIterator* characters = nullptr;
    if (text.size() <= static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
        utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
        characters = ubrk_open(UBRK_CHARACTER, nullptr, nullptr, 0, &status);
        ubrk_setUText(characters, utext, &status);
    }
    if (characters && U_SUCCESS(status)) {
        for (int32_t at = ubrk_first(characters); at != UBRK_DONE; at = ubrk_next(characters))
            boundaries.push_back(static_cast<size_t>(at));
    }
    if (characters)
        ubrk_close(characters);
    if (utext)
        utext_close(utext);
    if (boundaries.empty() || boundaries.back() != text.size()) {
        boundaries.clear();
        for (size_t i = 0; i <= text.size(); ++i) boundaries.push_back(i);
    }
    return boundaries;
}

}  // namespace

std::vector<MailTextLine> mailTextLines(std::string_view text, double width,
                                        const std::function<double(std::string_view)>& advance) {
    std::unordered_map<std::string_view, double> widths;
    auto widthOf = [&](std::string_view character) {
        auto [it, added] = widths.try_emplace(character, 0.0);
        if (added)
            it->second = advance(character);
        return it->second;
    };
    std::vector<MailTextLine> lines;
    const std::vector<size_t> boundaries = characterBoundaries(text);
    size_t lineStart = 0;
    double x = 0;  // the width of [lineStart, the character at hand)
    // After the last space of the line: where a break goes, and the line's width up to there.
    size_t breakAt = std::string_view::npos;
    double widthAtBreak = 0;
    auto endLine = [&](size_t end, size_t next) {
        lines.push_back({lineStart, end - lineStart});
        lineStart = next;
        breakAt = std::string_view::npos;
    };
    for (size_t i = 0; i + 1 < boundaries.size(); ++i) {
        const size_t start = boundaries[i], end = boundaries[i + 1];
        const std::string_view character = text.substr(start, end - start);
        if (character == "\n" || character == "\r\n") {
            endLine(start, end);
            x = 0;
            continue;
        }
        const double w = widthOf(character);
        while (x + w > width && start > lineStart) {
            if (breakAt != std::string_view::npos && breakAt <= start) {
                x -= widthAtBreak;
                endLine(breakAt, breakAt);
            } else {
                x = 0;
                endLine(start, start);
            }
        }
        x += w;
        if (character == " " && start > lineStart) {
            breakAt = end;
            widthAtBreak = x;
        }
    }
    lines.push_back({lineStart, text.size() - lineStart});
    return lines;
}
