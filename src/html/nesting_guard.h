#ifndef ORVO_HTML_NESTING_GUARD_H_
#define ORVO_HTML_NESTING_GUARD_H_

#include <cstddef>
#include <string>
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

// Where that scan reads the end of a tag whose attributes start at pos: past the first '>' that
// is not inside a quoted value after '='; html.size() when there is none.
size_t NestingGuardTagEnd(std::string_view html, size_t pos);

// The depth that scan keeps, for a reader that walks the same tags itself: fed the same start
// and end tags (lower-case names), it refuses the same start tags.
class NestingDepth {
 public:
  explicit NestingDepth(size_t max_depth) : max_depth_(max_depth) {}
  // False for a start tag that would open an element deeper than max_depth.
  bool Open(std::string_view name);
  void Close(std::string_view name);

 private:
  size_t max_depth_;
  std::vector<std::string> open_;
};

#endif  // ORVO_HTML_NESTING_GUARD_H_
