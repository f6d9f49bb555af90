#ifndef ORVO_HTML_SRCSET_H_
#define ORVO_HTML_SRCSET_H_

#include <cstddef>
#include <string_view>
#include <vector>

// One image candidate of a "srcset" attribute: where its URL stands in the value.
struct SrcsetCandidate {
  size_t begin;
  size_t end;
};

// The URLs of a srcset value, in order. Candidates are separated by commas; a URL's own
// trailing commas separate too, but a comma inside it (a data: URL) does not, and the
// descriptor after a URL runs to the next comma outside parentheses.
std::vector<SrcsetCandidate> SrcsetCandidates(std::string_view value);

#endif  // ORVO_HTML_SRCSET_H_
