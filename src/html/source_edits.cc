#include "html/source_edits.h"

#include <algorithm>

std::string ApplySourceEdits(std::string_view text, size_t begin, size_t end,
                             const std::vector<SourceEdit>& edits) {
  end = std::min(end, text.size());
  if (begin >= end && edits.empty()) return {};
  size_t size = end > begin ? end - begin : 0;
  auto inside = [&](const SourceEdit& e) {
    return e.offset >= begin && e.offset + e.length <= end && (e.length > 0 || e.offset <= end);
  };
  for (const SourceEdit& e : edits) {
    if (inside(e)) size += e.replacement.size() - e.length;
  }
  std::string out;
  out.reserve(size);
  size_t at = begin;
  for (const SourceEdit& e : edits) {
    if (!inside(e) || e.offset < at) continue;
    out.append(text.data() + at, e.offset - at);
    out += e.replacement;
    at = e.offset + e.length;
  }
  if (at < end) out.append(text.data() + at, end - at);
  return out;
}

bool SortSourceEdits(std::vector<SourceEdit>& edits) {
  std::stable_sort(edits.begin(), edits.end(), [](const SourceEdit& a, const SourceEdit& b) {
    if (a.offset != b.offset) return a.offset < b.offset;
    return a.length == 0 && b.length != 0;
  });
  size_t kept = 0;
  size_t reach = 0;
  for (size_t k = 0; k < edits.size(); ++k) {
    if (kept > 0 && edits[k].offset < reach) continue;
    reach = std::max(reach, edits[k].offset + edits[k].length);
    if (kept != k) edits[kept] = std::move(edits[k]);
    ++kept;
  }
  bool all = kept == edits.size();
  edits.resize(kept);
  return all;
}
