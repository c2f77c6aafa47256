#include "platform/MessageUI/MailTextLayout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Every character is 10 wide: a width of 45 holds four.
double tenWide(std::string_view) {
    return 10;
}

std::vector<std::string> linesOf(const std::string& text, double width = 45) {
    std::vector<std::string> lines;
    for (const MailTextLine& line : mailTextLines(text, width, tenWide))
        lines.push_back(text.substr(line.start, line.length));
    return lines;
}

TEST(MailTextLayoutTest, BreaksAtLineBreaksThenAfterTheLastSpaceThatFitsElseInsideAWord) {
    struct Case {
        std::string text;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"", {""}},
        {"abcd", {"abcd"}},
        {"abcde", {"abcd", "e"}},
        {"ab cd", {"ab ", "cd"}},
        {"ab cdefghij", {"ab ", "cdef", "ghij"}},
        {"a\nb\n", {"a", "b", ""}},
        {"a\r\nb", {"a", "b"}},
        {"\n\n", {"", "", ""}},
        {" abcdef", {" abc", "def"}},  // a space first on a line is no place to break
        // A letter and its accent, an emoji with its skin tone: one character each.
        {"abce\xCC\x81"
         "f",
         {"abce\xCC\x81", "f"}},
        {"abc\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", {"abc\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"}},
    };
    for (const Case& c : cases) EXPECT_EQ(linesOf(c.text), c.lines) << c.text;
}

TEST(MailTextLayoutTest, EachDistinctCharacterIsMeasuredOnceHoweverLongTheText) {
    // A long unbroken paste: the measuring does not grow with the line's length.
    std::string text;
    for (int i = 0; i < 8000; ++i) text += static_cast<char>('a' + i % 26);
    int measured = 0;
    const auto lines = mailTextLines(text, 300, [&](std::string_view) {
        ++measured;
        return 7.5;
    });
    EXPECT_EQ(measured, 26);
    ASSERT_EQ(lines.size(), 8000u / 40);  // 40 characters of 7.5 fit in 300
    size_t next = 0;
    for (const MailTextLine& line : lines) {
        EXPECT_EQ(line.start, next);
        EXPECT_EQ(line.length, 40u);
        next = line.start + line.length;
    }
}

}  // namespace
