// Loads arbitrary bytes as a page, edits every element and serialises. The first byte chooses
// the edits; the rest is the page.

#include <cstddef>
#include <cstdint>
#include <string>

#include "html/html_document.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// Writes to every element with a start tag of its own, then what the page reads as: which
// elements are in the body, and both serialised forms.
std::string Written(HtmlDocument& doc, uint8_t choice) {
  std::string seen;
  for (size_t k = 0; k < doc.elements().size(); ++k) {
    if (!doc.elements()[k].has_start_tag) continue;
    seen += doc.elements()[k].in_body ? '+' : '-';
    doc.SetAttribute(static_cast<int>(k), (choice & 2) ? "src" : "style", "a&\"b");
    if (choice & 4) doc.SetStyleProperty(static_cast<int>(k), "backgroundimage", "url(x)");
  }
  for (const HtmlComment& comment : doc.comments()) seen += comment.in_body ? '+' : '-';
  return seen + "\n" + doc.OuterHtml() + "\n" + doc.BodyInnerHtml();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t choice = data[0];
  HtmlLoadLimits limits;
  limits.max_depth = 64 + choice;  // small enough that the guard takes part
  std::string page(reinterpret_cast<const char*>(data) + 1, size - 1);
  HtmlDocument doc;
  if (!doc.Load(page, limits)) return 0;

  // Untouched, the body is a run of the loaded bytes.
  std::string inner = doc.BodyInnerHtml();
  if (doc.body() >= 0 && doc.elements()[doc.body()].has_start_tag) {
    Check(doc.source().find(inner) != std::string::npos);
  }
  // A page read by its tags alone reads and writes as the parse's reading of it does.
  HtmlDocument by_tags;
  if (by_tags.LoadPage(page, limits)) {
    Check(Written(by_tags, choice) == Written(doc, choice));
  }

  const std::string value = (choice & 1) ? "cid:a&b\"c'd" : "";
  for (size_t k = 0; k < doc.elements().size(); ++k) {
    int e = static_cast<int>(k);
    if (doc.SetAttribute(e, (choice & 2) ? "src" : "style", value)) {
      Check(doc.GetAttribute(e, (choice & 2) ? "src" : "style") == value);
    }
    if (choice & 4) doc.SetStyleProperty(e, "backgroundimage", "url(cid:x)");
    if (choice & 8) doc.SetAttribute(e, "data-new", "n");
    doc.GetStyleProperty(e, "liststyleimage");
  }
  for (size_t b = 0; b < doc.style_blocks().size(); ++b) {
    for (size_t i = 0; i < doc.style_blocks()[b].imports.size(); ++i) {
      doc.ReplaceImportUrl(b, i, "cid:(i)");
    }
  }
  // Comment texts lie inside the page; replacing them keeps the rest of the page loadable.
  for (const HtmlComment& comment : doc.comments()) {
    Check(comment.text_begin <= comment.text_end && comment.text_end <= doc.source().size());
    if (choice & 16) {
      Check(doc.ReplaceSource(comment.text_begin, comment.text_end - comment.text_begin, "c"));
    }
  }
  std::string outer = doc.OuterHtml();
  doc.BodyInnerHtml();

  // What was written must load again.
  HtmlDocument again;
  Check(outer.empty() || again.Load(outer));
  return 0;
}
