#ifndef ORVO_TEXT_CHARSET_TABLE_H_
#define ORVO_TEXT_CHARSET_TABLE_H_

#include <cstddef>
#include <string_view>

// The character-set names an HTML meta declaration may give, with the Windows code page each
// selects. Searched in order; a value matches an entry when it begins with the entry's name,
// so the last entry (empty name) matches every value and gives code page 0 (the ANSI code
// page) to names no other entry knows. Immutable; safe to read from any thread.
struct CharsetEntry {
  int code_page;
  std::string_view name;
};

inline constexpr CharsetEntry CharsetTable[] = {
    {65001, "utf-8"},  {51949, "euc-kr"},      {949, "ksc5601"}, {932, "shift_jis"},
    {51932, "euc-jp"}, {50220, "iso-2022-jp"}, {936, "gb2312"},  {950, "big5"},
    {0, ""},
};

// The code page of the first entry whose name begins value (value already in lower case).
int CodePageOfCharset(std::string_view value);

#endif  // ORVO_TEXT_CHARSET_TABLE_H_
