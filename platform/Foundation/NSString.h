#pragma once
// String helpers of the platform's string class. Strings are UTF-8 std::string.

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

// printf-style formatting into a std::string (the platform's stringWithFormat:, with %s for %@).
std::string stringWithFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string stringWithFormatV(const char* format, va_list args)
    __attribute__((format(printf, 1, 0)));

// The length the platform reports for a string: its number of UTF-16 code units.
// Invalid UTF-8 bytes count one unit each.
size_t utf16Length(std::string_view utf8);

// The byte offset at which the last composed character of `utf8` begins (what a person sees as
// one character: a letter with its combining accents, an emoji with its joiners); 0 for "".
// Invalid UTF-8 bytes count one character each.
size_t startOfLastComposedCharacter(std::string_view utf8);

// `text` with each ill-formed UTF-8 sequence (a stray or missing continuation byte, an overlong
// form, a surrogate, a code point past U+10FFFF) replaced by U+FFFD, as ICU decodes it.
std::string stringByReplacingInvalidUTF8(std::string_view text);

// The last path component ("a/b/c.txt" -> "c.txt"; trailing slashes are ignored).
std::string lastPathComponent(std::string_view path);
// Joins with exactly one "/" between the parts.
std::string stringByAppendingPathComponent(std::string_view path, std::string_view component);
// "~" or "~/..." expanded with $HOME.
std::string stringByExpandingTildeInPath(std::string_view path);
// `path` with every symbolic link among its folders resolved and its last component as it is
// (a link there stays a link); `path` unchanged when its folder cannot be resolved.
std::string stringByResolvingFolderLinksInPath(std::string_view path);
