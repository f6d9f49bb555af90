#ifndef ORVO_TEXT_TEXT_CONVERSION_H_
#define ORVO_TEXT_TEXT_CONVERSION_H_

#include <string>
#include <string_view>

// The one pair of conversions between the JSON side and the platform side. On this platform
// both sides hold UTF-8, so the pair keeps its one observable effect: byte sequences that are
// not valid UTF-8 (stray continuation bytes, truncated or over-long sequences, surrogates,
// values above U+10FFFF) are replaced by U+FFFD, never rejected. Valid text comes back
// unchanged; empty in, empty out.
std::string WideToUtf8(std::string_view text);
std::string Utf8ToWide(std::string_view text);

// Whether text is valid UTF-8 in the sense above.
bool IsValidUtf8(std::string_view text);

#endif  // ORVO_TEXT_TEXT_CONVERSION_H_
