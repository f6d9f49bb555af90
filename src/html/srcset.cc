#include "html/srcset.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

}  // namespace

std::vector<SrcsetCandidate> SrcsetCandidates(std::string_view value) {
  std::vector<SrcsetCandidate> out;
  size_t k = 0;
  while (k < value.size()) {
    while (k < value.size() && (IsBlank(value[k]) || value[k] == ',')) ++k;
    size_t begin = k;
    while (k < value.size() && !IsBlank(value[k])) ++k;
    size_t end = k;
    while (end > begin && value[end - 1] == ',') --end;
    if (end > begin) out.push_back(SrcsetCandidate{begin, end});
    if (end < k) continue;  // a URL ended by a comma has no descriptor
    int depth = 0;
    while (k < value.size() && (depth > 0 || value[k] != ',')) {
      if (value[k] == '(') ++depth;
      if (value[k] == ')' && depth > 0) --depth;
      ++k;
    }
  }
  return out;
}
