#ifndef ORVO_TEXT_ASCII_H_
#define ORVO_TEXT_ASCII_H_

#include <string>
#include <string_view>

// Case folding of ASCII letters only. Markup names, command codes, media types and file
// extensions compare this way; other bytes (UTF-8 included) compare as they are, and the result
// never depends on the process locale.

inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// text with every ASCII capital letter made small.
std::string AsciiLowered(std::string_view text);

// Whether a and b are equal when ASCII letters are compared without regard to case.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

// Whether text starts with prefix, compared as EqualsIgnoringAsciiCase does.
bool StartsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix);

#endif  // ORVO_TEXT_ASCII_H_
