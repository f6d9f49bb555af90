#ifndef ORVO_HTML_START_TAG_SCAN_H_
#define ORVO_HTML_START_TAG_SCAN_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// An attribute of a start tag as the tokenizer reads it. Offsets are into the tag text.
struct ScannedAttribute {
  std::string name;  // lower case
  size_t begin = 0;  // the name
  size_t end = 0;    // past the value (past its closing quote), or past the name without one
};

// The length of the tag name of tag, which starts with '<'.
size_t StartTagNameLength(std::string_view tag);

// Every attribute of the start tag `tag` ("<img src=a ...>"), duplicates included, in order.
std::vector<ScannedAttribute> ScanStartTagAttributes(std::string_view tag);

#endif  // ORVO_HTML_START_TAG_SCAN_H_
