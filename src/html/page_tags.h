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

struct PageTagAttribute {
  std::string name;   // lower case
  std::string value;  // character references decoded as the parser decodes them
  size_t begin = 0;   // the name, into the page
  size_t end = 0;     // past the value (past its closing quote), or past the name without one
  char quote = 0;     // '"' or '\'' for a quoted value
};

// A start tag, which makes an element of its own.
struct PageTag {
  size_t begin = 0;  // '<'
  size_t end = 0;    // past '>'
  size_t name_length = 0;
  std::string name;  // lower case, as the parser names the element ("img" for <IMAGE>)
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
};

// Reads page's tags into *out; false when the page holds anything whose reading could depend
// on the tree: svg or math, select, template, frames, noscript and the other rarely used raw
// text elements, a script that opens a comment, a table part outside a table or a table
// directly inside one, a nested form, an html, head or body tag that the parse would drop or
// merge into an element it made up, and markup the text ends inside of (a tag, a comment, raw
// text), or a comment closed in one of the rare ways. *out is unspecified then.
bool ReadPageTags(std::string_view page, PageTags* out);

#endif  // ORVO_HTML_PAGE_TAGS_H_
