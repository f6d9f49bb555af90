#include "html/page_tags.h"

#include <gumbo.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "html/name_set.h"
#include "html/nesting_guard.h"
#include "text/ascii.h"

namespace {

constexpr size_t kNone = std::string_view::npos;

bool IsTagSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Elements that change how the rest is read or whether their tags make elements at all.
bool NeedsTree(std::string_view name) {
  static constexpr NameSet<13> kNames(std::array<std::string_view, 13>{
      "svg", "math", "template", "select", "frameset", "frame", "noscript", "iframe", "noembed",
      "noframes", "xmp", "plaintext", "isindex"});
  return kNames.Has(name);
}

// Elements that never hold content: the parse closes them at once.
bool IsVoid(std::string_view name) {
  static constexpr NameSet<18> kNames(std::array<std::string_view, 18>{
      "area", "base", "basefont", "bgsound", "br", "col", "embed", "hr", "image", "img", "input",
      "keygen", "link", "meta", "param", "source", "track", "wbr"});
  return kNames.Has(name);
}

bool IsTablePart(std::string_view name) {
  static constexpr NameSet<9> kNames(std::array<std::string_view, 9>{
      "caption", "col", "colgroup", "tbody", "td", "tfoot", "th", "thead", "tr"});
  return kNames.Has(name);
}

// Elements the parse may keep in the head: a body tag after them still makes the body.
bool StaysInHead(std::string_view name) {
  static constexpr NameSet<10> kNames(std::array<std::string_view, 10>{
      "html", "head", "base", "basefont", "bgsound", "link", "meta", "title", "style", "script"});
  return kNames.Has(name);
}

// How often c occurs in text, eight bytes at a time: a byte-by-byte count of a page of
// megabytes took as long as reading its tags.
size_t CountOf(std::string_view text, char c) {
  constexpr uint64_t kLows = 0x7f7f7f7f7f7f7f7fu;
  const uint64_t spread = 0x0101010101010101u * static_cast<unsigned char>(c);
  size_t count = 0, i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    uint64_t x = word ^ spread;  // a zero byte where c stands
    // The high bit of each byte that is zero, and of no other (no borrow between bytes).
    uint64_t zeros = ~(((x & kLows) + kLows) | x | kLows);
    count += static_cast<size_t>(__builtin_popcountll(zeros));
  }
  for (; i < text.size(); ++i) count += text[i] == c;
  return count;
}

size_t SkipSpaces(std::string_view text, size_t i) {
  while (i < text.size() && IsTagSpace(text[i])) ++i;
  return i;
}

// Reads the attributes of a tag from i (past its name) up to and past its '>', as the
// tokenizer does: quoted values may hold '>', a '/' between attributes is a blank. kNone when
// the text ends inside the tag (the parse drops such a tag).
size_t ReadAttributes(std::string_view text, size_t i, std::vector<PageTagAttribute>* out) {
  const size_t n = text.size();
  while (true) {
    while (i < n && (IsTagSpace(text[i]) || text[i] == '/')) ++i;
    if (i >= n) return kNone;
    if (text[i] == '>') return i + 1;
    PageTagAttribute a;
    a.begin = i;
    // A name may begin with '='; after that '=' ends it.
    do {
      ++i;
    } while (i < n && !IsTagSpace(text[i]) && text[i] != '/' && text[i] != '>' && text[i] != '=');
    a.name_end = a.end = a.value_begin = a.value_end = i;
    size_t after = SkipSpaces(text, i);
    if (after < n && text[after] == '=') {
      size_t v = SkipSpaces(text, after + 1);
      if (v >= n) return kNone;
      if (text[v] == '"' || text[v] == '\'') {
        size_t close = text.find(text[v], v + 1);
        if (close == kNone) return kNone;
        a.quote = text[v];
        a.value_begin = v + 1;
        a.value_end = close;
        a.end = close + 1;
      } else {
        size_t e = v;
        while (e < n && !IsTagSpace(text[e]) && text[e] != '>') ++e;
        if (e >= n) return kNone;
        a.value_begin = v;
        a.value_end = a.end = e;
      }
      i = a.end;
    } else {
      i = after;
    }
    if (out != nullptr) out->push_back(a);
  }
}

// A value the tokenizer changes as it reads it: character references, and the characters it
// replaces or folds (NUL, carriage returns, bytes that may not be UTF-8).
bool ValueNeedsDecoding(std::string_view value) {
  for (char c : value) {
    if (c == '&' || c == '\0' || c == '\r' || static_cast<unsigned char>(c) >= 0x80) return true;
  }
  return false;
}

// The value of one attribute as the parser reads it: the attribute's text, alone in a tag of
// its own, parsed by the engine. Rare enough (an '&' in a URL) that a small parse costs nothing.
std::string DecodedValue(std::string_view attribute) {
  std::string snippet = "<p ";
  snippet.append(attribute.data(), attribute.size());
  snippet += '>';
  GumboOutput* output =
      gumbo_parse_with_options(&kGumboDefaultOptions, snippet.data(), snippet.size());
  std::string value;
  const GumboNode* node = output->root;
  // html > body > p: the last child at each level down to the first element that is not
  // made up.
  while (node != nullptr && node->type == GUMBO_NODE_ELEMENT &&
         node->v.element.tag != GUMBO_TAG_P) {
    const GumboVector& children = node->v.element.children;
    const GumboNode* next = nullptr;
    for (unsigned k = 0; k < children.length; ++k) {
      const GumboNode* child = static_cast<const GumboNode*>(children.data[k]);
      if (child->type == GUMBO_NODE_ELEMENT) next = child;
    }
    node = next;
  }
  if (node != nullptr && node->type == GUMBO_NODE_ELEMENT &&
      node->v.element.attributes.length > 0) {
    value = static_cast<const GumboAttribute*>(node->v.element.attributes.data[0])->value;
  }
  gumbo_destroy_output(&kGumboDefaultOptions, output);
  return value;
}

// The end tag that closes raw text or RCDATA: "</name" in any letter case followed by a blank,
// '/' or '>'. kNone when there is none, or when "</name" comes first followed by anything else.
size_t FindClosingTag(std::string_view text, size_t from, std::string_view name) {
  while (true) {
    size_t lt = text.find("</", from);
    if (lt == kNone || lt + 2 + name.size() >= text.size()) return kNone;
    if (EqualsIgnoringAsciiCase(text.substr(lt + 2, name.size()), name)) {
      char after = text[lt + 2 + name.size()];
      if (IsTagSpace(after) || after == '/' || after == '>') return lt;
      return kNone;  // "</stylex": the nesting guard would end the text here
    }
    from = lt + 2;
  }
}

class Reader {
 public:
  Reader(std::string_view page, PageTags* out, size_t max_depth,
         const std::vector<std::string_view>* only_carrying)
      : text_(page), out_(*out), only_carrying_(only_carrying), depth_(max_depth) {}

  bool Run() {
    bool read = Read();
    out_.balanced = balanced_ && open_.empty();
    return read;
  }

 private:
  bool Read() {
    size_t i = 0;
    while (i < text_.size()) {
      size_t lt = text_.find('<', i);
      if (!body_content_ && HasContent(i, lt == kNone ? text_.size() : lt)) NoteText();
      if (lt == kNone || lt + 1 >= text_.size()) return true;
      char c = text_[lt + 1];
      if (c == '!') {
        i = Declaration(lt);
      } else if (c == '?') {
        i = PastGreaterThan(lt + 2);
      } else if (c == '/') {
        i = EndTag(lt);
      } else if (IsAsciiAlpha(c)) {
        i = StartTag(lt);
      } else {
        NoteText();  // a '<' that starts no markup is text
        i = lt + 1;
      }
      if (i == kNone) return false;
    }
    return true;
  }

  bool HasContent(size_t begin, size_t end) const {
    for (size_t k = begin; k < end; ++k) {
      if (!IsTagSpace(text_[k])) return true;
    }
    return false;
  }

  // Text or a tag that the parse places in the body: an html, head or body tag after it is
  // merged into an element the parse made up, or dropped.
  void NoteText() { html_content_ = head_content_ = body_content_ = true; }

  size_t PastGreaterThan(size_t from) const {
    size_t gt = text_.find('>', from);
    return gt == kNone ? kNone : gt + 1;
  }

  size_t Declaration(size_t lt) {
    if (text_.compare(lt, 4, "<!--") != 0) return PastGreaterThan(lt + 2);  // doctype, bogus
    size_t begin = lt + 4;
    // "<!-->", "<!--->" and comments closed by "--!>" end where a reader would not look.
    if (text_.compare(begin, 1, ">") == 0 || text_.compare(begin, 2, "->") == 0) return kNone;
    size_t close = text_.find("-->", begin);
    if (close == kNone) return kNone;
    if (text_.substr(begin, close + 3 - begin).find("--!>") != kNone) return kNone;
    out_.comments.push_back(PageTags::Comment{begin, close});
    return close + 3;
  }

  size_t EndTag(size_t lt) {
    if (lt + 2 >= text_.size()) return kNone;
    // "</>" is dropped, but the engine's positions of the text after it come out wrong.
    if (text_[lt + 2] == '>') return kNone;
    // A bogus comment, which the nesting guard reads as text.
    if (!IsAsciiAlpha(text_[lt + 2])) return kNone;
    size_t name_end = lt + 2;
    while (name_end < text_.size() && !IsTagSpace(text_[name_end]) && text_[name_end] != '/' &&
           text_[name_end] != '>') {
      ++name_end;
    }
    std::string lowered = AsciiLowered(text_.substr(lt + 2, name_end - lt - 2));
    std::string_view name = lowered;
    size_t end = ReadAttributes(text_, name_end, nullptr);
    // The guard ends an end tag at its first '>', quoted or not.
    if (end == kNone || text_.find('>', name_end) + 1 != end) return kNone;
    depth_.Close(name);
    NoteEndTag(name, lt, end);
    // "</head>" ends the head; the others make the parse open the body.
    if (name == "head") html_content_ = head_content_ = true;
    if (name == "body" || name == "html" || name == "br") NoteText();
    if (name == "form") form_open_ = false;
    if (name == "table" && !tables_.empty()) tables_.pop_back();
    if (!tables_.empty() && (name == "td" || name == "th" || IsTablePart(name))) {
      tables_.back() = false;
    }
    return end;
  }

  size_t StartTag(size_t lt) {
    size_t name_end = lt + 1;
    while (name_end < text_.size() && !IsTagSpace(text_[name_end]) && text_[name_end] != '/' &&
           text_[name_end] != '>') {
      ++name_end;
    }
    std::string_view written = text_.substr(lt + 1, name_end - lt - 1);
    name_.assign(written.size(), '\0');
    for (size_t k = 0; k < written.size(); ++k) name_[k] = AsciiLower(written[k]);
    PageTag tag;
    tag.begin = lt;
    tag.name_length = name_end - lt - 1;
    tag.attr_first = out_.attributes.size();
    size_t end = ReadAttributes(text_, name_end, &out_.attributes);
    std::string_view name = name_;
    // The nesting guard must end the tag where it ends, or it counts other tags.
    if (end == kNone || NestingGuardTagEnd(text_, name_end) != end || NeedsTree(name) ||
        !Placed(name) || !KeepFirstAttributes(tag) || !depth_.Open(name)) {
      return kNone;
    }
    tag.end = end;
    if (!IsVoid(name)) open_.emplace_back(name);
    if (Listed(tag, name)) {
      out_.tags.push_back(tag);
    } else {
      out_.attributes.resize(tag.attr_first);
    }
    if (name == "script" || name == "style" || name == "title" || name == "textarea") {
      size_t close = FindClosingTag(text_, end, name);
      if (close == kNone) return kNone;
      // Inside "<!--" a script's text may hold "<script>", after which its end tag no longer
      // ends it.
      if (name == "script" && text_.substr(end, close - end).find("<!--") != kNone) return kNone;
      if (name == "style") out_.styles.push_back({out_.tags.size() - 1, end, close});
      return close;
    }
    return end;
  }

  void NoteEndTag(std::string_view name, size_t begin, size_t end) {
    if (open_.empty() || open_.back() != name) {
      balanced_ = false;
    } else {
      open_.pop_back();
    }
    PageTags::LandmarkEnd* landmark = name == "html"   ? &out_.html_end
                                      : name == "head" ? &out_.head_end
                                      : name == "body" ? &out_.body_end
                                                       : nullptr;
    if (landmark != nullptr && landmark->count++ == 0) {
      landmark->begin = begin;
      landmark->end = end;
    }
  }

  bool Listed(const PageTag& tag, std::string_view name) const {
    if (only_carrying_ == nullptr || name == "style") return true;
    for (size_t k = tag.attr_first; k < tag.attr_first + tag.attr_count; ++k) {
      const PageTagAttribute& a = out_.attributes[k];
      std::string_view written = text_.substr(a.begin, a.name_end - a.begin);
      for (std::string_view wanted : *only_carrying_) {
        if (written.size() == wanted.size() && EqualsIgnoringAsciiCase(written, wanted)) {
          return true;
        }
      }
    }
    return false;
  }

  // In a table only its parts stand where they are written: the parse moves anything else
  // outside a cell before the table, and a part inside a cell closes the cell first. Such a
  // page keeps its elements but not their order.
  void NoteTableContext(std::string_view name) {
    if (tables_.empty() || name == "table") return;
    bool part = IsTablePart(name) && name != "caption";
    bool kept = tables_.back() ? !part : part || name == "style" || name == "script";
    if (!kept || name == "caption") balanced_ = false;
  }

  // Whether the parse makes an element of this start tag, with these attributes, wherever it
  // stands in the tree; updates what later tags depend on.
  bool Placed(std::string_view name) {
    NoteTableContext(name);
    bool first_content = !html_content_;
    if (name == "html") {
      if (html_tags_++ > 0 || !first_content) return false;
      html_content_ = true;
      return true;
    }
    html_content_ = true;
    if (name == "head") {
      if (head_tags_++ > 0 || head_content_) return false;
      head_content_ = true;
      return true;
    }
    head_content_ = true;
    if (name == "body") {
      if (body_tags_++ > 0 || body_content_) return false;
      body_content_ = true;
      return true;
    }
    if (!StaysInHead(name)) body_content_ = true;
    if (name == "form") {
      if (form_open_) return false;
      form_open_ = true;
    } else if (name == "table") {
      if (!tables_.empty() && !tables_.back()) return false;  // a table directly in a table
      tables_.push_back(false);
    } else if (IsTablePart(name)) {
      if (tables_.empty()) return false;
      tables_.back() = name == "td" || name == "th";
    }
    return true;
  }

  // The first of each attribute name; the parse drops the later ones. An html or body tag
  // with duplicates is refused: the parse may merge it into an element without a tag.
  bool KeepFirstAttributes(PageTag& tag) {
    std::vector<PageTagAttribute>& all = out_.attributes;
    size_t kept = tag.attr_first;
    for (size_t k = tag.attr_first; k < all.size(); ++k) {
      std::string_view name = text_.substr(all[k].begin, all[k].name_end - all[k].begin);
      bool duplicate = false;
      for (size_t j = tag.attr_first; j < kept && !duplicate; ++j) {
        duplicate = EqualsIgnoringAsciiCase(
            text_.substr(all[j].begin, all[j].name_end - all[j].begin), name);
      }
      if (duplicate) {
        if (std::string_view(name_) == "html" || std::string_view(name_) == "body") return false;
        continue;
      }
      all[k].decoded = ValueNeedsDecoding(
          text_.substr(all[k].value_begin, all[k].value_end - all[k].value_begin));
      all[kept++] = all[k];
    }
    all.resize(kept);
    tag.attr_count = kept - tag.attr_first;
    return true;
  }

  std::string_view text_;
  PageTags& out_;
  const std::vector<std::string_view>* only_carrying_;
  // The engine reads tags nested deeper than this as text (html/nesting_guard.h): the pages
  // read here are those whose tags its guard reads as they are read here, so the same count
  // finds them.
  NestingDepth depth_;
  std::string name_;  // of the start tag being read

  bool html_content_ = false;  // anything the html tag must come before
  bool head_content_ = false;
  bool body_content_ = false;
  int html_tags_ = 0;
  int head_tags_ = 0;
  int body_tags_ = 0;
  bool form_open_ = false;
  std::vector<bool> tables_;  // open tables, innermost last: whether a cell of it is open
  // Elements opened and not yet closed by their own end tag, innermost last.
  std::vector<std::string> open_;
  bool balanced_ = true;
};

}  // namespace

bool ReadPageTags(std::string_view page, PageTags* out, size_t max_depth,
                  const std::vector<std::string_view>* only_carrying) {
  *out = PageTags();
  // Sized once from a count of the page's tags, rather than grown and copied.
  size_t marks = CountOf(page, '<');
  out->tags.reserve(marks / 2 + 16);
  out->attributes.reserve(marks / 2 + 16);
  return Reader(page, out, max_depth, only_carrying).Run();
}

std::string DecodedAttributeValue(std::string_view page, const PageTagAttribute& attribute) {
  return DecodedValue(page.substr(attribute.begin, attribute.end - attribute.begin));
}
