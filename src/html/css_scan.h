#ifndef ORVO_HTML_CSS_SCAN_H_
#define ORVO_HTML_CSS_SCAN_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Just enough of CSS tokenization to find declarations, url() references and @import rules:
// comments, strings with backslash escapes, and parenthesised and braced blocks are stepped
// over as units, so a ';' or "url(" inside them is never taken for structure. Offsets are into
// the scanned text.

// A url(...) function or a string token that names a resource.
struct CssUrl {
  size_t begin = 0;  // the token: "url(" ... ")" or the quoted string with its quotes
  size_t end = 0;
  size_t value_begin = 0;  // the URL itself, without quotes and surrounding blanks
  size_t value_end = 0;
  bool is_function = false;  // url(...) rather than a bare string
  std::string value;
};

struct CssDeclaration {
  std::string name;  // lower case
  size_t begin = 0;  // the declaration, through its ';' when it has one
  size_t end = 0;
  size_t value_begin = 0;  // blanks and "!important" excluded
  size_t value_end = 0;
  bool important = false;
};

struct CssImport {
  size_t begin = 0;           // the '@'
  size_t end = 0;             // past the ';' (or the end of the text when the rule is not ended)
  bool terminated = false;    // ended by ';'
  std::string prelude;  // the text between "@import" and ';', trimmed
  CssUrl url;
};

// The declarations of a declaration list (an inline style attribute), in order. Pieces without
// a ':' are skipped.
std::vector<CssDeclaration> ParseCssDeclarations(std::string_view css);

// The first url(...) function in css[begin, end). False when there is none.
bool FindCssUrl(std::string_view css, size_t begin, size_t end, CssUrl* url);

// The top-level @import rules of a style sheet whose URL is a url() or a string, in order.
std::vector<CssImport> FindCssImports(std::string_view css);

// Text for a URL inside url( ... ) or a string quoted with quote ('"' or '\''; 0 for url()
// without quotes): the characters that would end the token are escaped with a backslash.
std::string EscapeCssUrl(std::string_view url, char quote);

#endif  // ORVO_HTML_CSS_SCAN_H_
