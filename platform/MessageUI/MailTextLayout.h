#pragma once
// The lines of a text area: a text broken at its line breaks, then after the last space that fits
// a width (inside a word where none does), never inside a character as a person sees it (a letter
// with its accents, an emoji with its joiners). Laid out in one pass: each distinct character is
// measured once, so the time grows with the text's length, not with its square.
//
// Threads: any thread.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// A line: the bytes [start, start + length) of the text, without its line break.
struct MailTextLine {
    size_t start = 0;
    size_t length = 0;
};

// `advance` gives the width of one character on a line. A text ending in a line break ends with an
// empty line (where the caret goes); "" is one empty line.
std::vector<MailTextLine> mailTextLines(std::string_view text, double width,
                                        const std::function<double(std::string_view)>& advance);
