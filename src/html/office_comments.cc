#include "html/office_comments.h"

#include <string>

#include "html/html_document.h"
#include "text/ascii.h"

bool VmlCommentMarkup(std::string_view comment, size_t* begin, size_t* end) {
  size_t first = comment.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos || comment.size() - first < 3 ||
      !EqualsIgnoringAsciiCase(comment.substr(first, 3), "[if")) {
    return false;
  }
  size_t close = comment.find("]>", first);
  if (close == std::string_view::npos) return false;
  if (AsciiLowered(comment.substr(first, close - first)).find("vml") == std::string::npos) {
    return false;
  }
  size_t endif = AsciiLowered(comment).rfind("<![endif]");
  *begin = close + 2;
  *end = endif == std::string::npos || endif < *begin ? comment.size() : endif;
  return true;
}

bool EditVmlComment(HtmlDocument& page, const HtmlComment& comment,
                    const std::function<void(HtmlDocument& markup)>& edit) {
  std::string_view text = std::string_view(page.source())
                              .substr(comment.text_begin, comment.text_end - comment.text_begin);
  size_t begin = 0;
  size_t end = 0;
  if (!VmlCommentMarkup(text, &begin, &end)) return false;
  std::string markup(text.substr(begin, end - begin));
  HtmlDocument vml;
  // An office page holds one such comment per picture: a whole parse of each would cost more
  // than the page's own reading.
  if (!vml.LoadTags(markup) && !vml.Load(markup)) return false;
  edit(vml);
  std::string edited = vml.SourceWithEdits();
  if (edited != markup) page.ReplaceSource(comment.text_begin + begin, end - begin, edited);
  return true;
}
