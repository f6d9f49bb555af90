#include "page_references.h"

#include <glib.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <unordered_map>
#include <vector>

#include "html/css_scan.h"
#include "html/html_document.h"
#include "html/office_comments.h"
#include "text/ascii.h"
#include "text/url_spelling.h"

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

std::string PercentDecoded(std::string_view text) {
  char* decoded = g_uri_unescape_string(std::string(text).c_str(), nullptr);
  if (decoded == nullptr) return {};
  std::string result(decoded);
  g_free(decoded);
  return result;
}

// Which of kUrlAttributes (bit k) and style (the bit after them) the element has.
uint32_t AttributesRead(const std::vector<std::string_view>& names) {
  uint32_t found = 0;
  for (std::string_view name : names) {
    for (size_t k = 0; k < std::size(kUrlAttributes); ++k) {
      if (name == kUrlAttributes[k]) found |= uint32_t{1} << k;
    }
    if (name == "style") found |= uint32_t{1} << std::size(kUrlAttributes);
  }
  return found;
}

void RewriteAttributes(HtmlDocument& document, const PartReferences& parts, std::string_view base) {
  std::vector<std::string_view> names;
  for (size_t element = 0; element < document.elements().size(); ++element) {
    int index = static_cast<int>(element);
    // Most elements carry none of the attributes read: one look at their names passes them.
    document.LoadedAttributeNames(index, &names);
    uint32_t present = AttributesRead(names);
    if (present == 0) continue;
    for (size_t k = 0; k < std::size(kUrlAttributes); ++k) {
      const char* attribute = kUrlAttributes[k];
      if ((present >> k & 1) == 0) continue;
      const std::string* file = parts.Find(document.GetAttribute(index, attribute), base);
      if (file != nullptr) document.SetAttribute(index, attribute, *file);
    }
    // A picture of the style is always written "url(" (the engine finds no other spelling).
    if ((present >> std::size(kUrlAttributes) & 1) == 0) continue;
    std::string style = document.GetAttribute(index, "style");
    if (AsciiLowered(style).find("url(") == std::string::npos) continue;
    for (const char* property : kStyleImages) {
      std::string value = document.GetStyleProperty(index, property);
      const std::string* file = parts.Find(UrlInside(value), base);
      if (file != nullptr) document.SetStyleProperty(index, property, "url(" + *file + ")");
    }
  }
}

// The quote a URL's value stands in ('"', '\'' or 0 for a bare url()).
char QuoteBefore(std::string_view css, size_t value_begin) {
  char before = value_begin > 0 ? css[value_begin - 1] : 0;
  return before == '"' || before == '\'' ? before : 0;
}

// url() references anywhere in a style block (rules and url() imports alike), and imports
// written as a bare string.
void RewriteStyleBlocks(HtmlDocument& document, const PartReferences& parts,
                        std::string_view base) {
  const auto& blocks = document.style_blocks();
  for (size_t block = 0; block < blocks.size(); ++block) {
    const std::string& text = blocks[block].text;
    CssUrl url;
    for (size_t at = 0; at < text.size() && FindCssUrl(text, at, text.size(), &url); at = url.end) {
      const std::string* file = parts.Find(url.value, base);
      if (file == nullptr) continue;
      document.ReplaceStyleText(block, url.value_begin, url.value_end - url.value_begin,
                                EscapeCssUrl(*file, QuoteBefore(text, url.value_begin)));
    }
    for (size_t import = 0; import < blocks[block].imports.size(); ++import) {
      const HtmlStyleImport& rule = blocks[block].imports[import];
      if (g_ascii_strncasecmp(rule.prelude.c_str(), "url(", 4) == 0) continue;
      const std::string* file = parts.Find(rule.url, base);
      if (file != nullptr) document.ReplaceImportUrl(block, import, *file);
    }
  }
}

// The VML copy of each picture an office suite writes, inside conditional comments the engine
// reads as comment text: its element attributes name the same parts as the page's own.
void RewriteVmlComments(HtmlDocument& document, const PartReferences& parts,
                        std::string_view base) {
  for (const HtmlComment& comment : document.comments()) {
    EditVmlComment(document, comment, [&parts, base](HtmlDocument& markup) {
      RewriteAttributes(markup, parts, base);
    });
  }
}

// The text after a location's last '/' (or '\'), percent-decoded: whatever spelling a
// reference uses, a reference that resolves to the location holds these characters in order,
// each written as itself or through an escape. "" when the escapes do not decode.
std::string DecodedTail(std::string_view location) {
  size_t slash = location.find_last_of("/\\");
  return PercentDecoded(slash == std::string_view::npos ? location : location.substr(slash + 1));
}

// Where an escape starts that a reference is decoded through before it is compared: a percent
// escape, or a character reference (one that can only give '&', '<', '>', '"' or a character
// outside ASCII is harmless: no searched name holds those). CSS escapes stay as written.
bool StartsEscape(std::string_view page, size_t at) {
  char c = page[at];
  if (c == '%') {
    return at + 2 < page.size() && g_ascii_isxdigit(page[at + 1]) && g_ascii_isxdigit(page[at + 2]);
  }
  if (c != '&' || at + 1 >= page.size()) return false;
  std::string_view name = page.substr(at + 1, 4);
  if (!g_ascii_isalpha(name[0]) && name[0] != '#') return false;
  for (std::string_view harmless : {"amp", "AMP", "lt", "LT", "gt", "GT", "quot", "QUOT", "nbsp"}) {
    if (name.substr(0, harmless.size()) == harmless) return false;
  }
  return true;
}

// A searched name can be found with plain bytes only when it is printable ASCII without the
// characters that the harmless references give.
bool Searchable(std::string_view name) {
  if (name.size() < 4) return false;
  for (char c : name) {
    if (c < 0x20 || c > 0x7E || c == '&' || c == '<' || c == '>' || c == '"') return false;
  }
  return true;
}

// The tail that a reference without a path of its own ("?q", "#f", "") takes from base.
std::string_view PathTail(std::string_view location) {
  size_t slash = location.rfind('/');
  std::string_view tail = slash == std::string_view::npos ? location : location.substr(slash + 1);
  return tail.substr(0, tail.find_first_of("?#"));
}

// Whether any of names (lower case, four bytes or more) occurs in page without regard to ASCII
// case, or page holds an escape that could spell one. One pass: the last bytes of every name
// (as many as the shortest has, up to eight) are looked up at each byte, so thousands of names
// cost about what one does.
bool AnyNameOrEscapeIn(std::string_view page, const std::vector<std::string>& names) {
  if (names.empty()) return false;
  size_t key_size = 8;
  for (const std::string& name : names) key_size = std::min(key_size, name.size());
  const uint64_t mask = key_size == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * key_size)) - 1;
  constexpr int kFilterBits = 18;
  auto slot = [](uint64_t key) { return (key * 0x9E3779B97F4A7C15u) >> (64 - kFilterBits); };
  std::vector<uint64_t> filter((size_t{1} << kFilterBits) / 64);
  std::unordered_map<uint64_t, std::vector<const std::string*>> by_ending;
  for (const std::string& name : names) {
    uint64_t key = 0;
    for (size_t k = name.size() - key_size; k < name.size(); ++k) {
      key = key << 8 | static_cast<unsigned char>(name[k]);
    }
    filter[slot(key) / 64] |= uint64_t{1} << (slot(key) % 64);
    by_ending[key].push_back(&name);
  }
  uint64_t key = 0;
  for (size_t at = 0; at < page.size(); ++at) {
    char c = page[at];
    if ((c == '%' || c == '&') && StartsEscape(page, at)) return true;
    key =
        (key << 8 | static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c)) & mask;
    uint64_t bit = slot(key);
    if ((filter[bit / 64] >> (bit % 64) & 1) == 0 || at + 1 < key_size) continue;
    auto found = by_ending.find(key);
    if (found == by_ending.end()) continue;
    for (const std::string* name : found->second) {
      if (name->size() <= at + 1 && g_ascii_strncasecmp(page.data() + at + 1 - name->size(),
                                                        name->c_str(), name->size()) == 0)
        return true;
    }
  }
  return false;
}

struct SheetEdit {
  size_t begin;
  size_t end;
  std::string text;
};

}  // namespace

class PartReferences::ParsedBase {
 public:
  explicit ParsedBase(std::string_view text)
      : text_(text), uri_(g_uri_parse(text_.c_str(), G_URI_FLAGS_ENCODED, nullptr)) {}
  ~ParsedBase() {
    if (uri_ != nullptr) g_uri_unref(uri_);
  }
  ParsedBase(const ParsedBase&) = delete;
  ParsedBase& operator=(const ParsedBase&) = delete;

  const std::string& text() const { return text_; }

  // What g_uri_resolve_relative gives for this base (it parses the base with the flags used
  // here, then does the same).
  std::string Resolve(std::string_view reference) const {
    if (uri_ == nullptr) return {};
    GUri* resolved =
        g_uri_parse_relative(uri_, std::string(reference).c_str(), G_URI_FLAGS_ENCODED, nullptr);
    if (resolved == nullptr) return {};
    char* text = g_uri_to_string(resolved);
    g_uri_unref(resolved);
    std::string result(text);
    g_free(text);
    return result;
  }

 private:
  std::string text_;
  GUri* uri_;  // null when text_ is no URI
};

PartReferences::PartReferences(std::string page_location)
    : page_location_(std::move(page_location)) {}
PartReferences::~PartReferences() = default;
PartReferences::PartReferences(PartReferences&&) noexcept = default;
PartReferences& PartReferences::operator=(PartReferences&&) noexcept = default;

std::string PartReferences::Resolve(std::string_view base, std::string_view reference) const {
  if (base.empty() || reference.empty()) return {};
  if (parsed_base_ == nullptr || parsed_base_->text() != base) {
    parsed_base_ = std::make_unique<ParsedBase>(base);
  }
  return parsed_base_->Resolve(reference);
}

void PartReferences::Add(std::string_view content_id, std::string_view location,
                         const std::string& file_name) {
  content_id = WithoutAngles(Trimmed(content_id));
  location = Trimmed(location);
  if (!content_id.empty()) by_id_.emplace(std::string(content_id), file_name);
  if (location.empty()) return;
  by_location_.emplace(NormalizeUrlEscapes(location), file_name);
  std::string resolved = Resolve(page_location_, location);
  if (!resolved.empty()) by_location_.emplace(NormalizeUrlEscapes(resolved), file_name);
}

const std::string* PartReferences::FindLocation(const std::string& location) const {
  auto found = by_location_.find(NormalizeUrlEscapes(location));
  return found == by_location_.end() ? nullptr : &found->second;
}

const std::string* PartReferences::Find(std::string_view reference, std::string_view base) const {
  reference = Trimmed(reference);
  if (reference.empty()) return nullptr;
  if (reference.size() > 4 && g_ascii_strncasecmp(reference.data(), "cid:", 4) == 0) {
    // A "cid:" URL carries the ID percent-encoded; some writers leave it as the header has it.
    std::string_view id = WithoutAngles(reference.substr(4));
    for (const std::string& key : {std::string(id), PercentDecoded(id)}) {
      auto found = by_id_.find(key);
      if (found != by_id_.end()) return &found->second;
    }
  }
  // A part may be located by a "cid:" URL of its own, with no Content-ID header to match.
  if (const std::string* file = FindLocation(std::string(reference))) return file;
  std::string resolved = Resolve(base.empty() ? page_location_ : base, reference);
  return resolved.empty() ? nullptr : FindLocation(resolved);
}

bool PartReferences::MayBeNamedIn(std::string_view page, std::string_view base) const {
  std::string_view base_tail = PathTail(base.empty() ? page_location_ : base);
  std::vector<std::string> names;
  for (const auto& [id, file] : by_id_) {
    if (!Searchable(id)) return true;
    names.push_back(AsciiLowered(id));
  }
  for (const auto& [location, file] : by_location_) {
    std::string_view tail = std::string_view(location).substr(location.rfind('/') + 1);
    if (tail.compare(0, base_tail.size(), base_tail) == 0 &&
        (tail.size() == base_tail.size() || tail[base_tail.size()] == '?' ||
         tail[base_tail.size()] == '#')) {
      return true;  // a reference like "?q" names it without holding its name
    }
    std::string name = DecodedTail(location);
    if (!Searchable(name)) return true;
    names.push_back(AsciiLowered(name));
  }
  return AnyNameOrEscapeIn(page, names);
}

std::string RewritePageReferences(std::string page, const PartReferences& parts,
                                  std::string_view base) {
  return RewritePageReferences(std::move(page), parts, base, PageReading::kAny);
}

std::string RewritePageReferences(std::string page, const PartReferences& parts,
                                  std::string_view base, PageReading reading, bool* read) {
  if (read != nullptr) *read = false;
  // A whole parse takes most of the time: a page that cannot name a part is not read at all,
  // and most others are read by their tags.
  if (parts.empty() || !parts.MayBeNamedIn(page, base)) return page;
  HtmlDocument document;
  // Only the elements that carry an attribute read below are listed: most tags carry none.
  static const std::vector<std::string_view> kRead = [] {
    std::vector<std::string_view> names(std::begin(kUrlAttributes), std::end(kUrlAttributes));
    names.push_back("style");
    return names;
  }();
  bool loaded = false;
  if (reading != PageReading::kEngine) {
    loaded = document.LoadTags(std::move(page), HtmlLoadLimits(), &kRead, &page);
  }
  if (!loaded && reading != PageReading::kTagsOnly) {
    loaded = document.Load(std::move(page), HtmlLoadLimits(), &page);
  }
  if (!loaded) return page;
  if (read != nullptr) *read = true;
  RewriteAttributes(document, parts, base);
  RewriteStyleBlocks(document, parts, base);
  RewriteVmlComments(document, parts, base);
  return document.SourceWithEdits();
}

std::string RewriteSheetReferences(std::string sheet, const PartReferences& parts,
                                   std::string_view base) {
  std::vector<SheetEdit> edits;
  auto note = [&](const CssUrl& url) {
    const std::string* file = parts.Find(url.value, base);
    if (file == nullptr) return;
    std::string text = EscapeCssUrl(*file, QuoteBefore(sheet, url.value_begin));
    edits.push_back({url.value_begin, url.value_end, std::move(text)});
  };
  CssUrl url;
  for (size_t at = 0; at < sheet.size() && FindCssUrl(sheet, at, sheet.size(), &url);
       at = url.end) {
    note(url);
  }
  for (const CssImport& rule : FindCssImports(sheet)) {
    if (!rule.url.is_function) note(rule.url);
  }
  // From the last, so that the offsets of the edits before stay valid.
  std::sort(edits.begin(), edits.end(),
            [](const SheetEdit& a, const SheetEdit& b) { return a.begin > b.begin; });
  for (const SheetEdit& edit : edits) sheet.replace(edit.begin, edit.end - edit.begin, edit.text);
  return sheet;
}

}  // namespace mimecodec
