// A decoded page's references rewritten twice, once from the page read by its tags alone and
// once from the whole parse: wherever both readings take the page, the bytes must agree. Each
// input byte picks a piece of markup (bytes past the table stand for themselves), so that
// inputs reach tags, quotes, comments, raw text and the elements that need the tree quickly.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

#include "page_references.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

constexpr const char* kPieces[] = {
    "<",        ">",          "</",       "/",          "=",         "\"",       "'",
    " ",        "\n",         "\r\n",     "&amp;",      "&#46;",     "&",        "\0",
    "img",      "src",        "SRC",      "href",       "style",     "background", "lowsrc",
    "a.png",    "cid:x@y",    "url(",     ")",          "a&#46;png", "<!--",     "-->",
    "--!>",     "<!",         "<?",       "[if gte vml 1]>", "<![endif]", "v:imagedata", "table",
    "td",       "tr",         "th",       "caption",    "body",      "head",     "html",
    "form",     "script",     "style",    "title",      "textarea",  "svg",      "math",
    "select",   "template",   "noscript", "p",          "div",       "li",       "a",
    "@import ", ";",          "background:url(a.png)", "list-style-image:url('a.png')",
    "<img src=a.png>", "<p style=\"background:url(a.png)\">", "</table>", "</td>",
};

const mimecodec::PartReferences& Parts() {
  static const mimecodec::PartReferences* parts = [] {
    auto* p = new mimecodec::PartReferences("https://x.test/d/page.htm");
    p->Add("", "https://x.test/d/a.png", "f1.png");
    p->Add("<x@y>", "", "f2.png");
    return p;
  }();
  return *parts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string page;
  for (size_t k = 0; k < size; ++k) {
    if (data[k] < std::size(kPieces)) {
      const char* piece = kPieces[data[k]];
      page += *piece == '\0' ? std::string(1, '\0') : std::string(piece);  // the NUL piece
    } else {
      page += static_cast<char>(data[k]);
    }
  }
  using mimecodec::PageReading;
  bool by_tags = false;
  bool by_parse = false;
  std::string tags = mimecodec::RewritePageReferences(page, Parts(), {}, PageReading::kTagsOnly,
                                                      &by_tags);
  std::string parse =
      mimecodec::RewritePageReferences(page, Parts(), {}, PageReading::kEngine, &by_parse);
  if (by_tags && by_parse) Check(tags == parse);
  return 0;
}
