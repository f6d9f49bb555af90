#include "text/charset_table.h"

int CodePageOfCharset(std::string_view value) {
  for (const CharsetEntry& entry : CharsetTable) {
    if (value.substr(0, entry.name.size()) == entry.name) return entry.code_page;
  }
  return 0;  // not reached: the last entry matches everything
}
