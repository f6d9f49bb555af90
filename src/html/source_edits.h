#ifndef ORVO_HTML_SOURCE_EDITS_H_
#define ORVO_HTML_SOURCE_EDITS_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// One change to a text: the bytes [offset, offset + length) become replacement. A length of 0
// inserts.
struct SourceEdit {
  size_t offset = 0;
  size_t length = 0;
  std::string replacement;
};

// Writes text[begin, end) with the edits that lie inside it applied, into one buffer sized once.
// edits must be sorted by offset and must not overlap; insertions at one offset keep their order
// and come before a replacement at that offset. Edits outside the range are left out; an edit
// that straddles a range end is left out as well.
std::string ApplySourceEdits(std::string_view text, size_t begin, size_t end,
                             const std::vector<SourceEdit>& edits);

// Sorts edits by offset, insertions first at equal offsets, keeping the order of equals; drops
// an edit that overlaps the one before it. Returns whether every edit was kept.
bool SortSourceEdits(std::vector<SourceEdit>& edits);

#endif  // ORVO_HTML_SOURCE_EDITS_H_
