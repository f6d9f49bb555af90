#ifndef ORVO_HTML_NESTING_GUARD_H_
#define ORVO_HTML_NESTING_GUARD_H_

#include <cstddef>
#include <string_view>
#include <vector>

// The tree builder checks element scope by walking the stack of open elements, so each tag costs
// time in proportion to the nesting depth: 100,000 nested <div>s take the parser half a minute.
// Browsers cap the depth for the same reason. This scan follows the tokenizer's outline (tags,
// comments, raw-text elements, quoted attribute values, elements whose end tags may be left out)
// and returns the offsets of the '<' of every start tag that would open an element deeper than
// max_depth. The caller parses a copy in which those '<' are blanked, so the parser reads those
// tags as text while every offset still matches the original bytes. Runs in linear time.
std::vector<size_t> FindOverDeepStartTags(std::string_view html, size_t max_depth);

#endif  // ORVO_HTML_NESTING_GUARD_H_
