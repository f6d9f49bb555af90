#ifndef ORVO_HTML_PAGE_TAGS_H_
#define ORVO_HTML_PAGE_TAGS_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// A page read by its tags alone, in one pass and without building the tree. The tokenizer of an
// HTML parser depends on the tree only through a few elements (raw text, foreign content,
// select, frames, templates, table parts and landmarks that may be dropped or merged); on a page
// without them, the start tags as written are exactly the elements the parse makes, with the
// same attributes at the same offsets. ReadPageTags refuses every page where that is not sure,
// so a caller can fall back on the whole parse.

// Offsets are into the page.
struct PageTagAttribute {
  size_t begin = 0;  // the name
  size_t name_end = 0;
  size_t value_begin = 0;  // the value as written, inside its quotes
  size_t value_end = 0;
  size_t end = 0;  // past the value (past its closing quote), or past the name without one
  char quote = 0;  // '"' or '\'' for a quoted value
  // The parser reads the value otherwise than written (character references, NUL, carriage
  // returns, bytes that may not be UTF-8): see DecodedAttributeValue.
  bool decoded = false;
};

// A start tag, which makes an element of its own.
struct PageTag {
  size_t begin = 0;  // '<'
  size_t end = 0;    // past '>'
  size_t name_length = 0;
  size_t attr_first = 0;  // into PageTags::attributes: the first of each name, in order
  size_t attr_count = 0;
};

struct PageTags {
  std::vector<PageTag> tags;
  std::vector<PageTagAttribute> attributes;
  // The text of each style element: [text_begin, text_end) of the page.
  struct StyleText {
    size_t tag;
    size_t text_begin;
    size_t text_end;
  };
  std::vector<StyleText> styles;
  // Comments written with "<!--": the bytes between it and "-->".
  struct Comment {
    size_t text_begin;
    size_t text_end;
  };
  std::vector<Comment> comments;
  // The end tags of html, head and body, for a caller that places those elements itself: the
  // first of each ('<' and past its '>'; begin npos when there is none) and how many there
  // are.
  struct LandmarkEnd {
    size_t begin = std::string_view::npos;
    size_t end = std::string_view::npos;
    int count = 0;
  };
  LandmarkEnd html_end;
  LandmarkEnd head_end;
  LandmarkEnd body_end;
  // Every end tag closed the innermost open element, and none was left open (void elements
  // aside): the parse then closes each element where it is written, and no end tag of it is
  // ignored or moved.
  bool balanced = false;
};

// Reads page's tags into *out; false when the page holds anything whose reading could depend
// on the tree: svg or math, select, template, frames, noscript and the other rarely used raw
// text elements, a script that opens a comment, a table part outside a table or a table
// directly inside one, a nested form, an html, head or body tag that the parse would drop or
// merge into an element it made up, and markup the text ends inside of (a tag, a comment, raw
// text), or a comment closed in one of the rare ways; and pages whose tags the engine's nesting
// guard (html/nesting_guard.h) could read otherwise, or would find nested deeper than
// max_depth. *out is unspecified then.
//
// With only_carrying, a start tag is listed only when it carries one of those attributes (lower
// case) or is a style element, for a caller that reads nothing else: a page of many plain
// tags then costs little more than its scan.
bool ReadPageTags(std::string_view page, PageTags* out, size_t max_depth,
                  const std::vector<std::string_view>* only_carrying = nullptr);

// The value of an attribute whose value the parser does not read as written, as it reads it.
std::string DecodedAttributeValue(std::string_view page, const PageTagAttribute& attribute);

#endif  // ORVO_HTML_PAGE_TAGS_H_
