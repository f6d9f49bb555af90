#include "page_references.h"

#include <glib.h>

#include "html/css_scan.h"
#include "html/html_document.h"
#include "html/office_comments.h"

namespace mimecodec {
namespace {

constexpr const char* kUrlAttributes[] = {"src",  "href",   "background", "lowsrc",
                                          "data", "poster", "dynsrc"};
constexpr const char* kStyleImages[] = {"backgroundimage", "liststyleimage"};

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && g_ascii_isspace(text.front())) text.remove_prefix(1);
  while (!text.empty() && g_ascii_isspace(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view WithoutAngles(std::string_view id) {
  if (id.size() >= 2 && id.front() == '<' && id.back() == '>') return id.substr(1, id.size() - 2);
  return id;
}

// "url(x)" as the engine reports an inline style image; "" for "none" and anything else.
std::string_view UrlInside(std::string_view value) {
  if (value.size() < 5 || value.substr(0, 4) != "url(" || value.back() != ')') return {};
  return Trimmed(value.substr(4, value.size() - 5));
}

void RewriteAttributes(HtmlDocument& document, const PartReferences& parts) {
  for (size_t element = 0; element < document.elements().size(); ++element) {
    int index = static_cast<int>(element);
    for (const char* attribute : kUrlAttributes) {
      if (!document.HasAttribute(index, attribute)) continue;
      const std::string* file = parts.Find(document.GetAttribute(index, attribute));
      if (file != nullptr) document.SetAttribute(index, attribute, *file);
    }
    if (!document.HasAttribute(index, "style")) continue;
    for (const char* property : kStyleImages) {
      std::string value = document.GetStyleProperty(index, property);
      const std::string* file = parts.Find(UrlInside(value));
      if (file != nullptr) document.SetStyleProperty(index, property, "url(" + *file + ")");
    }
  }
}

// url() references anywhere in a style block (rules and url() imports alike), and imports
// written as a bare string.
void RewriteStyleBlocks(HtmlDocument& document, const PartReferences& parts) {
  const auto& blocks = document.style_blocks();
  for (size_t block = 0; block < blocks.size(); ++block) {
    const std::string& text = blocks[block].text;
    CssUrl url;
    for (size_t at = 0; at < text.size() && FindCssUrl(text, at, text.size(), &url); at = url.end) {
      const std::string* file = parts.Find(url.value);
      if (file == nullptr) continue;
      char before = url.value_begin > 0 ? text[url.value_begin - 1] : 0;
      char quote = before == '"' || before == '\'' ? before : 0;
      document.ReplaceStyleText(block, url.value_begin, url.value_end - url.value_begin,
                                EscapeCssUrl(*file, quote));
    }
    for (size_t import = 0; import < blocks[block].imports.size(); ++import) {
      const HtmlStyleImport& rule = blocks[block].imports[import];
      if (g_ascii_strncasecmp(rule.prelude.c_str(), "url(", 4) == 0) continue;
      const std::string* file = parts.Find(rule.url);
      if (file != nullptr) document.ReplaceImportUrl(block, import, *file);
    }
  }
}

// The VML copy of each picture an office suite writes, inside conditional comments the engine
// reads as comment text: its element attributes name the same parts as the page's own.
void RewriteVmlComments(HtmlDocument& document, const PartReferences& parts) {
  for (const HtmlComment& comment : document.comments()) {
    EditVmlComment(document, comment,
                   [&parts](HtmlDocument& markup) { RewriteAttributes(markup, parts); });
  }
}

}  // namespace

PartReferences::PartReferences(std::string page_location)
    : page_location_(std::move(page_location)) {}

std::string PartReferences::Resolve(std::string_view reference) const {
  if (page_location_.empty() || reference.empty()) return {};
  char* resolved = g_uri_resolve_relative(page_location_.c_str(), std::string(reference).c_str(),
                                          G_URI_FLAGS_NONE, nullptr);
  if (resolved == nullptr) return {};
  std::string result(resolved);
  g_free(resolved);
  return result;
}

void PartReferences::Add(std::string_view content_id, std::string_view location,
                         const std::string& file_name) {
  content_id = WithoutAngles(Trimmed(content_id));
  location = Trimmed(location);
  if (!content_id.empty()) by_id_.emplace(std::string(content_id), file_name);
  if (location.empty()) return;
  by_location_.emplace(std::string(location), file_name);
  std::string resolved = Resolve(location);
  if (!resolved.empty()) by_location_.emplace(std::move(resolved), file_name);
}

const std::string* PartReferences::Find(std::string_view reference) const {
  reference = Trimmed(reference);
  if (reference.empty()) return nullptr;
  if (reference.size() > 4 && g_ascii_strncasecmp(reference.data(), "cid:", 4) == 0) {
    auto found = by_id_.find(std::string(WithoutAngles(reference.substr(4))));
    return found == by_id_.end() ? nullptr : &found->second;
  }
  auto found = by_location_.find(std::string(reference));
  if (found != by_location_.end()) return &found->second;
  std::string resolved = Resolve(reference);
  if (resolved.empty()) return nullptr;
  found = by_location_.find(resolved);
  return found == by_location_.end() ? nullptr : &found->second;
}

std::string RewritePageReferences(std::string page, const PartReferences& parts) {
  if (parts.empty()) return page;
  HtmlDocument document;
  if (!document.Load(page)) return page;
  RewriteAttributes(document, parts);
  RewriteStyleBlocks(document, parts);
  RewriteVmlComments(document, parts);
  return document.SourceWithEdits();
}

}  // namespace mimecodec
