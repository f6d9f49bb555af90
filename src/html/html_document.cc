#include "html/html_document.h"

#include <gumbo.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <unordered_map>

#include "html/css_scan.h"
#include "html/gumbo_parse.h"
#include "html/nesting_guard.h"
#include "html/page_tags.h"
#include "html/source_edits.h"
#include "html/start_tag_scan.h"
#include "text/ascii.h"

namespace {

constexpr size_t kNone = std::numeric_limits<size_t>::max();
// The parse and the tree read from it together; see HtmlLoadLimits.
constexpr size_t kBaseBudget = size_t{192} << 20;
constexpr size_t kBudgetPerByte = 1;

bool IsTagSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// name="value": the quote of the source is kept when the value allows it.
std::string FormatAttribute(std::string_view name, std::string_view value, char source_quote) {
  char quote = (source_quote == '\'' && value.find('\'') == std::string_view::npos) ? '\'' : '"';
  std::string out(name);
  out.reserve(name.size() + value.size() + 3);
  out += '=';
  out += quote;
  for (char c : value) {
    if (c == '&') {
      out += "&amp;";
    } else if (c == '"' && quote == '"') {
      out += "&quot;";
    } else {
      out += c;
    }
  }
  out += quote;
  return out;
}

enum class ImageProperty { kNone, kBackground, kListStyle };

ImageProperty ImagePropertyOf(std::string_view property) {
  std::string name = AsciiLowered(property);
  if (name == "backgroundimage" || name == "background-image") return ImageProperty::kBackground;
  if (name == "liststyleimage" || name == "list-style-image") return ImageProperty::kListStyle;
  return ImageProperty::kNone;
}

std::string_view LonghandName(ImageProperty p) {
  return p == ImageProperty::kBackground ? "background-image" : "list-style-image";
}

std::string_view ShorthandName(ImageProperty p) {
  return p == ImageProperty::kBackground ? "background" : "list-style";
}

std::string WithoutHyphens(std::string_view name) {
  std::string out;
  for (char c : name) {
    if (c != '-') out += AsciiLower(c);
  }
  return out;
}

// The declaration in force for a property: !important wins, then the later one.
const CssDeclaration* DeclarationInForce(const std::vector<CssDeclaration>& declarations,
                                         std::string_view longhand, std::string_view shorthand) {
  const CssDeclaration* best = nullptr;
  for (const CssDeclaration& d : declarations) {
    if (d.name != longhand && (shorthand.empty() || d.name != shorthand)) continue;
    if (best == nullptr || d.important || !best->important) best = &d;
  }
  return best;
}

}  // namespace

struct HtmlDocument::Impl {
  struct SourceAttribute {
    std::string name;  // lower case
    std::string value;
    std::string_view written_name;
    size_t begin = 0;
    size_t end = 0;
    char quote = 0;
    bool editable = false;
  };
  struct ElementSource {
    size_t tag_begin = 0;
    size_t tag_end = 0;
    size_t name_end = 0;
    size_t end_tag_begin = kNone;
    size_t inner_hi = 0;    // past the last byte of the content
    size_t element_hi = 0;  // past the last child element
    size_t lo = kNone;      // the element's bytes, start tag to end tag or content
    size_t hi = 0;
    size_t attr_first = 0;
    size_t attr_count = 0;
  };
  struct PendingAttribute {
    std::string name;   // lower case
    std::string value;  // empty: removed
  };
  struct ImportSource {
    size_t value_begin = 0;
    size_t value_end = 0;
    char quote = 0;
    std::string replacement;
    bool replaced = false;
  };

  std::string text;
  bool loaded = false;
  int root = -1;
  int head = -1;
  int body = -1;
  std::vector<HtmlElement> elements;
  std::vector<ElementSource> sources;
  std::vector<SourceAttribute> attributes;
  std::unordered_map<int, std::vector<PendingAttribute>> pending;
  std::vector<bool> has_pending;  // by element: a lookup that finds nothing costs a bit test
  std::vector<HtmlStyleBlock> blocks;
  std::vector<std::vector<ImportSource>> imports;
  std::vector<HtmlComment> comments;
  std::vector<size_t> block_text_begins;  // where each style block's text starts in text
  std::vector<SourceEdit> raw_edits;      // ReplaceSource and ReplaceStyleText, into text

  void Clear();
  bool Valid(int element) const {
    return element >= 0 && static_cast<size_t>(element) < elements.size();
  }
  const SourceAttribute* FindSourceAttribute(int element, std::string_view name) const;
  const PendingAttribute* FindPending(int element, std::string_view name) const;
  std::string Attribute(int element, std::string_view name, bool* present) const;
  void AttributeEdits(int element, std::vector<SourceEdit>& edits) const;
  void RemoveDuplicates(int element, const SourceAttribute& kept,
                        std::vector<SourceEdit>& edits) const;
  std::vector<SourceEdit> Edits() const;
  void ImpliedTags(std::vector<SourceEdit>& edits) const;
  void ExtendOpenEnds();
  size_t PreludeEnd() const;
  size_t HtmlClose() const;
  size_t HeadInsertionPoint() const;
  void AddStyleBlock(int index, size_t text_begin, size_t text_end);
};

// Stray end tags and comments at the end of a page belong to no element of the tree, but they
// are bytes the editor sent: an html or body element left open runs to where it is closed,
// or to the end of the text.
// The same holds at the start: a page without an html tag begins after its document type,
// comments and blanks, and an implied body where the head ends, so that tags the parser
// ignores there ("</div>", "<isindex>") are not lost.
void HtmlDocument::Impl::ExtendOpenEnds() {
  ElementSource& html = sources[root];
  size_t content_start = elements[root].has_start_tag ? html.tag_end : PreludeEnd();
  if (!elements[root].has_start_tag) {
    html.lo = std::min(html.lo, content_start);
    html.hi = std::max(html.hi, content_start);
  }
  if (html.end_tag_begin == kNone) html.hi = text.size();
  if (body < 0 || sources[body].lo == kNone) return;
  ElementSource& b = sources[body];
  if (!elements[body].has_start_tag) {
    bool head_written = head >= 0 && sources[head].lo != kNone;
    b.lo = std::min(b.lo, head_written ? std::max(sources[head].hi, content_start) : content_start);
  }
  if (b.end_tag_begin != kNone) return;
  size_t limit = html.end_tag_begin != kNone ? html.end_tag_begin : text.size();
  b.hi = std::max(b.hi, limit);
  b.inner_hi = std::max(b.inner_hi, limit);
}

// Past the byte-order mark, blanks, comments and declarations that precede a page's content.
size_t HtmlDocument::Impl::PreludeEnd() const {
  size_t i = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (i < text.size()) {
    if (IsTagSpace(text[i])) {
      ++i;
    } else if (text.compare(i, 4, "<!--") == 0) {
      size_t close = text.find("-->", i + 2);
      i = close == std::string::npos ? text.size() : close + 3;
    } else if (text.compare(i, 2, "<!") == 0 || text.compare(i, 2, "<?") == 0) {
      size_t close = text.find('>', i);
      i = close == std::string::npos ? text.size() : close + 1;
    } else {
      break;
    }
  }
  return i;
}

// Where content that closes the html element goes: before its end tag when it has one.
size_t HtmlDocument::Impl::HtmlClose() const {
  const ElementSource& html = sources[root];
  if (html.lo == kNone) return 0;
  return html.end_tag_begin != kNone ? std::max(html.end_tag_begin, html.lo) : html.hi;
}

// An empty head the source leaves out goes before the first written element after it.
size_t HtmlDocument::Impl::HeadInsertionPoint() const {
  for (size_t k = head + 1; k < elements.size(); ++k) {
    if (elements[k].parent == root && sources[k].lo != kNone) return sources[k].lo;
  }
  return HtmlClose();
}

// Lets go of the memory too: a refused page leaves nothing held.
void HtmlDocument::Impl::Clear() { *this = Impl(); }

// A style element whose text is text[begin, end); begin kNone for one without a start tag of
// its own, whose text is not in the loaded bytes.
void HtmlDocument::Impl::AddStyleBlock(int index, size_t begin, size_t end) {
  HtmlStyleBlock block;
  block.element = index;
  block.in_body = elements[index].in_body;
  std::vector<ImportSource> sources;
  if (begin != kNone) {
    if (end > begin) block.text = text.substr(begin, end - begin);
    for (CssImport& rule : FindCssImports(block.text)) {
      ImportSource source;
      source.value_begin = begin + rule.url.value_begin;
      source.value_end = begin + rule.url.value_end;
      char before = rule.url.value_begin > 0 ? block.text[rule.url.value_begin - 1] : 0;
      if (before == '"' || before == '\'') source.quote = before;
      sources.push_back(source);
      block.imports.push_back(
          HtmlStyleImport{std::move(rule.prelude), std::move(rule.url.value), rule.terminated});
    }
  }
  blocks.push_back(std::move(block));
  imports.push_back(std::move(sources));
  block_text_begins.push_back(begin);
}

// ---------------------------------------------------------------------------------------------
// Reading the parse tree into the element list, iteratively: nesting depth costs no stack.

namespace {

const GumboVector& ChildrenOf(const GumboNode* node) {
  return node->type == GUMBO_NODE_DOCUMENT ? node->v.document.children : node->v.element.children;
}

bool IsElementNode(const GumboNode* node) {
  return node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE;
}

class TreeReader {
 public:
  TreeReader(HtmlDocument::Impl& doc, const char* base) : doc_(doc), base_(base) {}

  void Read(const GumboNode* document) {
    stack_.push_back(Frame{document, -1, 0, kNone, 0});
    while (!stack_.empty()) {
      Frame& frame = stack_.back();
      const GumboVector& children = ChildrenOf(frame.node);
      if (frame.next < children.length) {
        const GumboNode* child = static_cast<const GumboNode*>(children.data[frame.next++]);
        Visit(child, frame.index);
      } else {
        Finish();
      }
    }
  }

 private:
  struct Frame {
    const GumboNode* node;
    int index;
    unsigned next;
    size_t lo;  // the content's bytes
    size_t hi;
    size_t element_hi = 0;  // past the last child element
  };

  size_t Offset(const char* pointer) const { return static_cast<size_t>(pointer - base_); }

  // Pieces the parser made up (the form it builds for <isindex>) point at its own constants.
  bool InText(const GumboStringPiece& piece) const {
    return piece.length > 0 && piece.data >= base_ && piece.data <= base_ + doc_.text.size() &&
           piece.length <= doc_.text.size() - Offset(piece.data);
  }

  void Widen(Frame& frame, size_t lo, size_t hi) {
    frame.lo = std::min(frame.lo, lo);
    frame.hi = std::max(frame.hi, hi);
  }

  void Visit(const GumboNode* child, int parent) {
    if (IsElementNode(child)) {
      int index = AddElement(child, parent);
      stack_.push_back(Frame{child, index, 0, kNone, 0});
      return;
    }
    if (child->type == GUMBO_NODE_DOCUMENT) return;
    const GumboText& t = child->v.text;
    if (!InText(t.original_text)) return;
    if (child->type == GUMBO_NODE_COMMENT) AddComment(t.original_text, parent);
    if (parent < 0) return;
    size_t lo = Offset(t.original_text.data);
    // The parser's span can run on over end tags read before the text was flushed; those
    // bytes lie inside the parent anyway.
    Widen(stack_.back(), lo, lo + t.original_text.length);
  }

  void Finish() {
    Frame frame = stack_.back();
    stack_.pop_back();
    if (frame.index < 0) return;
    HtmlDocument::Impl::ElementSource& s = doc_.sources[frame.index];
    s.inner_hi = frame.hi == 0 ? (s.lo == kNone ? 0 : s.tag_end) : frame.hi;
    s.lo = std::min(s.lo, frame.lo);
    s.hi = std::max(s.hi, frame.hi);
    if (doc_.elements[frame.index].tag_id == TagId::kStyle &&
        frame.node->v.element.tag_namespace == GUMBO_NAMESPACE_HTML) {
      AddStyleBlock(frame.index);
    }
    s.element_hi = frame.element_hi;
    if (!stack_.empty() && stack_.back().index >= 0 && s.lo != kNone) {
      Widen(stack_.back(), s.lo, s.hi);
      stack_.back().element_hi = std::max(stack_.back().element_hi, s.hi);
    }
  }

  int AddElement(const GumboNode* node, int parent);
  void ReadTags(const GumboElement& e, bool copied, HtmlElement& element,
                HtmlDocument::Impl::ElementSource& s) const;
  void NoteLandmark(const HtmlElement& element, int index);
  void AddComment(const GumboStringPiece& original, int parent);
  void AddAttributes(const GumboElement& e, bool copied, HtmlDocument::Impl::ElementSource& s);
  void AddStyleBlock(int index);

  HtmlDocument::Impl& doc_;
  const char* base_;
  std::vector<Frame> stack_;
};

int TreeReader::AddElement(const GumboNode* node, int parent) {
  const GumboElement& e = node->v.element;
  int index = static_cast<int>(doc_.elements.size());
  bool copied = (node->parse_flags & (GUMBO_INSERTION_RECONSTRUCTED_FORMATTING_ELEMENT |
                                      GUMBO_INSERTION_ADOPTION_AGENCY_CLONED)) != 0;
  HtmlElement element;
  HtmlDocument::Impl::ElementSource s;
  ReadTags(e, copied, element, s);
  element.name = e.tag == GUMBO_TAG_UNKNOWN ? AsciiLowered(element.tag_name)
                                            : std::string(gumbo_normalized_tagname(e.tag));
  if (e.tag_namespace == GUMBO_NAMESPACE_HTML) element.tag_id = TagIdFromName(element.name);
  element.parent = parent;
  element.in_body = parent >= 0 && (parent == doc_.body || doc_.elements[parent].in_body);
  NoteLandmark(element, index);
  AddAttributes(e, copied, s);
  doc_.elements.push_back(std::move(element));
  doc_.sources.push_back(s);
  return index;
}

// Where the element's start tag stands, when the source has one of the element's own (a copy
// the parser made for a misnested formatting element shares its original's), and its end tag.
void TreeReader::ReadTags(const GumboElement& e, bool copied, HtmlElement& element,
                          HtmlDocument::Impl::ElementSource& s) const {
  bool written = InText(e.original_tag) && e.original_tag.length > 1 &&
                 e.original_tag.data[0] == '<' && e.original_tag.data[1] != '/';
  if (written) {
    std::string_view tag(e.original_tag.data, e.original_tag.length);
    size_t begin = Offset(e.original_tag.data);
    element.tag_name = std::string_view(doc_.text).substr(begin + 1, StartTagNameLength(tag));
    s.tag_begin = begin;
    s.tag_end = begin + tag.size();
    s.name_end = begin + 1 + element.tag_name.size();
    if (!copied) {
      s.lo = s.tag_begin;
      s.hi = s.tag_end;
    }
  } else {
    element.tag_name = gumbo_normalized_tagname(e.tag);
  }
  element.has_start_tag = written && !copied;
  if (InText(e.original_end_tag)) {  // a copy's end tag is its own
    s.end_tag_begin = Offset(e.original_end_tag.data);
    s.lo = std::min(s.lo, s.end_tag_begin);
    s.hi = std::max(s.hi, s.end_tag_begin + e.original_end_tag.length);
  }
}

// The html, head and body elements that the document's accessors name: the first of each in
// the place a browser's document holds it.
void TreeReader::NoteLandmark(const HtmlElement& element, int index) {
  int parent = element.parent;
  if (parent < 0 && doc_.root < 0 && element.name == "html") doc_.root = index;
  if (parent < 0 || parent != doc_.root) return;
  if (element.name == "head" && doc_.head < 0) doc_.head = index;
  if (element.name == "body" && doc_.body < 0) doc_.body = index;
}

void TreeReader::AddComment(const GumboStringPiece& original, int parent) {
  std::string_view written(original.data, original.length);
  if (written.compare(0, 4, "<!--") != 0) return;  // "<!x>" and "<?x>" hold no markup
  HtmlComment comment;
  comment.text_begin = Offset(original.data) + 4;
  size_t end = Offset(original.data) + original.length;
  bool closed = written.size() >= 7 && written.compare(written.size() - 3, 3, "-->") == 0;
  comment.text_end = closed ? end - 3 : end;
  comment.parent = parent;
  comment.in_body = parent >= 0 && (parent == doc_.body || doc_.elements[parent].in_body);
  doc_.comments.push_back(comment);
}

void TreeReader::AddAttributes(const GumboElement& e, bool copied,
                               HtmlDocument::Impl::ElementSource& s) {
  s.attr_first = doc_.attributes.size();
  s.attr_count = e.attributes.length;
  for (unsigned k = 0; k < e.attributes.length; ++k) {
    const GumboAttribute* a = static_cast<const GumboAttribute*>(e.attributes.data[k]);
    HtmlDocument::Impl::SourceAttribute attribute;
    attribute.name = AsciiLowered(a->name);
    attribute.value = a->value;
    bool valueless = a->original_value.data == a->original_name.data;
    if (!InText(a->original_name) ||
        (!valueless && a->original_value.length > 0 && !InText(a->original_value))) {
      doc_.attributes.push_back(std::move(attribute));  // readable, not editable
      continue;
    }
    attribute.begin = Offset(a->original_name.data);
    attribute.written_name =
        std::string_view(doc_.text).substr(attribute.begin, a->original_name.length);
    attribute.end = valueless ? attribute.begin + a->original_name.length
                              : Offset(a->original_value.data) + a->original_value.length;
    if (!valueless && a->original_value.length > 0 &&
        (a->original_value.data[0] == '"' || a->original_value.data[0] == '\'')) {
      attribute.quote = a->original_value.data[0];
    }
    attribute.editable =
        !copied && attribute.end <= doc_.text.size() && attribute.begin < attribute.end;
    doc_.attributes.push_back(std::move(attribute));
  }
}

void TreeReader::AddStyleBlock(int index) {
  const HtmlDocument::Impl::ElementSource& s = doc_.sources[index];
  if (!doc_.elements[index].has_start_tag) {
    doc_.AddStyleBlock(index, kNone, kNone);
    return;
  }
  doc_.AddStyleBlock(index, s.tag_end, s.end_tag_begin != kNone ? s.end_tag_begin : s.inner_hi);
}

// What the element list of a parse will hold, counted before it is built, so that the list
// is sized once and a tree that would pass the budget is refused before it is built.
struct TreeCount {
  size_t elements = 0;
  size_t attributes = 0;
  size_t comments = 0;
  size_t heap_bytes = 0;  // strings longer than a std::string holds in place, style text

  static size_t StringBytes(size_t length) { return length > 15 ? length + 24 : 0; }

  void Add(const GumboNode* node) {
    if (node->type == GUMBO_NODE_COMMENT) ++comments;
    const GumboNode* parent = node->parent;
    if (node->type == GUMBO_NODE_TEXT && parent != nullptr && IsElementNode(parent) &&
        parent->v.element.tag == GUMBO_TAG_STYLE) {
      heap_bytes += StringBytes(node->v.text.original_text.length);  // the block's text
    }
    if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE) return;
    const GumboElement& e = node->v.element;
    ++elements;
    if (e.tag == GUMBO_TAG_UNKNOWN && e.original_tag.length > 1) {
      std::string_view tag(e.original_tag.data, e.original_tag.length);
      heap_bytes += StringBytes(StartTagNameLength(tag));
    }
    attributes += e.attributes.length;
    for (unsigned k = 0; k < e.attributes.length; ++k) {
      const GumboAttribute* a = static_cast<const GumboAttribute*>(e.attributes.data[k]);
      heap_bytes += StringBytes(std::strlen(a->name)) + StringBytes(std::strlen(a->value));
    }
  }

  size_t Bytes() const {
    return elements * (sizeof(HtmlElement) + sizeof(HtmlDocument::Impl::ElementSource) + 1) +
           attributes * sizeof(HtmlDocument::Impl::SourceAttribute) +
           comments * sizeof(HtmlComment) + heap_bytes;
  }
};

TreeCount CountTree(const GumboNode* document) {
  TreeCount count;
  std::vector<std::pair<const GumboNode*, unsigned>> stack{{document, 0}};
  while (!stack.empty()) {
    auto& [node, next] = stack.back();
    const GumboVector& children = ChildrenOf(node);
    if (next == children.length) {
      stack.pop_back();
      continue;
    }
    const GumboNode* child = static_cast<const GumboNode*>(children.data[next++]);
    count.Add(child);
    if (IsElementNode(child)) stack.push_back({child, 0});
  }
  return count;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

HtmlDocument::HtmlDocument() : impl_(std::make_unique<Impl>()) {}
HtmlDocument::~HtmlDocument() = default;

bool HtmlDocument::Load(std::string text, const HtmlLoadLimits& limits, std::string* refused) {
  impl_->Clear();
  if (text.empty() || text.size() > limits.max_bytes ||
      text.size() > std::numeric_limits<unsigned int>::max()) {
    if (refused != nullptr) *refused = std::move(text);
    return false;
  }
  impl_->text = std::move(text);
  std::string& source = impl_->text;
  size_t budget = limits.memory_budget != 0 ? limits.memory_budget
                                            : kBaseBudget + kBudgetPerByte * source.size();
  // Over-deep tags are blanked for the parse only, in place: offsets stay, no copy is made.
  std::vector<size_t> over_deep = FindOverDeepStartTags(source, limits.max_depth);
  for (size_t offset : over_deep) source[offset] = ' ';
  GumboParse parse;
  bool parsed = parse.Run(source, limits.max_errors, budget);
  for (size_t offset : over_deep) source[offset] = '<';
  // The tree read from the parse is held beside the parse's own: both count against the budget.
  TreeCount count = parsed ? CountTree(parse.output()->document) : TreeCount();
  if (!parsed || count.Bytes() > budget - std::min(budget, parse.bytes_reserved())) {
    if (refused != nullptr) *refused = std::move(impl_->text);
    impl_->Clear();
    return false;
  }
  impl_->elements.reserve(count.elements);
  impl_->sources.reserve(count.elements);
  impl_->attributes.reserve(count.attributes);
  impl_->comments.reserve(count.comments);
  TreeReader(*impl_, source.data()).Read(parse.output()->document);
  parse.Release();
  impl_->loaded = impl_->root >= 0;
  impl_->has_pending.assign(impl_->elements.size(), false);
  if (impl_->loaded) impl_->ExtendOpenEnds();
  if (!impl_->loaded) impl_->Clear();
  return impl_->loaded;
}

namespace {

// Fills a cleared document from the tags read from text: one element per start tag, in order;
// with an implied head, a head element without a tag of its own comes second, after the html
// element, as the parse puts it.
void FillFromTags(HtmlDocument::Impl& d, std::string text, const PageTags& tags,
                  bool implied_head) {
  using Impl = HtmlDocument::Impl;
  d.text = std::move(text);
  d.elements.reserve(tags.tags.size() + 1);
  d.sources.reserve(tags.tags.size() + 1);
  d.attributes.reserve(tags.attributes.size());
  std::string_view source(d.text);
  for (size_t t = 0; t < tags.tags.size(); ++t) {
    if (t == 1 && implied_head) {
      HtmlElement head;
      head.tag_name = "head";
      head.name = "head";
      head.tag_id = TagIdFromName(head.name);
      d.elements.push_back(std::move(head));
      d.sources.emplace_back();
      d.sources.back().attr_first = d.attributes.size();
    }
    const PageTag& tag = tags.tags[t];
    HtmlElement element;
    element.tag_name = source.substr(tag.begin + 1, tag.name_length);
    element.name = AsciiLowered(element.tag_name);
    if (element.name == "image") element.name = "img";  // as the parser renames it
    element.tag_id = TagIdFromName(element.name);
    element.has_start_tag = true;
    Impl::ElementSource s;
    s.tag_begin = s.lo = tag.begin;
    s.tag_end = s.hi = s.inner_hi = tag.end;
    s.name_end = tag.begin + 1 + tag.name_length;
    s.attr_first = d.attributes.size();
    s.attr_count = tag.attr_count;
    for (size_t k = tag.attr_first; k < tag.attr_first + tag.attr_count; ++k) {
      const PageTagAttribute& a = tags.attributes[k];
      d.attributes.emplace_back();
      Impl::SourceAttribute& attribute = d.attributes.back();
      attribute.written_name = source.substr(a.begin, a.name_end - a.begin);
      attribute.name = AsciiLowered(attribute.written_name);
      if (a.decoded) {
        attribute.value = DecodedAttributeValue(source, a);
      } else {
        attribute.value.assign(source.substr(a.value_begin, a.value_end - a.value_begin));
      }
      attribute.begin = a.begin;
      attribute.end = a.end;
      attribute.quote = a.quote;
      attribute.editable = a.begin < a.end;
    }
    d.elements.push_back(std::move(element));
    d.sources.push_back(s);
  }
}

void AddTagStylesAndComments(HtmlDocument::Impl& d, const PageTags& tags, bool implied_head) {
  for (const PageTags::StyleText& style : tags.styles) {
    size_t index = style.tag + (implied_head && style.tag >= 1 ? 1 : 0);
    d.sources[index].end_tag_begin = style.text_end;
    d.AddStyleBlock(static_cast<int>(index), style.text_begin, style.text_end);
  }
  for (const PageTags::Comment& comment : tags.comments) {
    d.comments.push_back(HtmlComment{comment.text_begin, comment.text_end, -1, false});
  }
  d.has_pending.assign(d.elements.size(), false);
  d.loaded = true;
}

bool IsBlankText(std::string_view text) {
  for (char c : text) {
    if (!IsTagSpace(c)) return false;
  }
  return true;
}

// The start tags of the html, head and body elements of a page whose landmarks are plainly
// written (see LoadPage); false for any other page.
struct PlainLandmarks {
  size_t html = 0;
  size_t head = kNone;  // kNone: the parse implies the head
  size_t body = kNone;
};

bool FindPlainLandmarks(std::string_view text, const PageTags& tags, PlainLandmarks* out) {
  auto named = [&](size_t t, std::string_view name) {
    const PageTag& tag = tags.tags[t];
    return tag.name_length == name.size() &&
           EqualsIgnoringAsciiCase(text.substr(tag.begin + 1, tag.name_length), name);
  };
  if (tags.tags.empty() || !named(0, "html")) return false;
  // The tag reader admits head and body tags only where they make their elements, and only
  // elements that stay in the head before the body tag.
  for (size_t t = 1; t < tags.tags.size() && out->body == kNone; ++t) {
    if (named(t, "head")) out->head = t;
    if (named(t, "body")) out->body = t;
  }
  if (out->body == kNone || !tags.balanced) return false;
  const PageTags::LandmarkEnd& html_end = tags.html_end;
  const PageTags::LandmarkEnd& body_end = tags.body_end;
  const PageTags::LandmarkEnd& head_end = tags.head_end;
  // Only blanks after the body's end tag: whatever else stands there the parse moves.
  if (html_end.count != 1 || body_end.count != 1 || body_end.begin < tags.tags[out->body].end ||
      html_end.begin < body_end.end ||
      !IsBlankText(text.substr(body_end.end, html_end.begin - body_end.end)) ||
      !IsBlankText(text.substr(html_end.end))) {
    return false;
  }
  if (head_end.count == 0) return true;
  return out->head != kNone && head_end.count == 1 && head_end.begin >= tags.tags[out->head].end &&
         head_end.end <= tags.tags[out->body].begin;
}

}  // namespace

bool HtmlDocument::LoadTags(std::string text, const HtmlLoadLimits& limits,
                            const std::vector<std::string_view>* only_carrying,
                            std::string* refused) {
  impl_->Clear();
  PageTags tags;
  if (text.empty() || text.size() > limits.max_bytes ||
      !ReadPageTags(text, &tags, limits.max_depth, only_carrying)) {
    if (refused != nullptr) *refused = std::move(text);
    return false;
  }
  FillFromTags(*impl_, std::move(text), tags, false);
  AddTagStylesAndComments(*impl_, tags, false);
  return true;
}

bool HtmlDocument::LoadPage(std::string text, const HtmlLoadLimits& limits, std::string* refused) {
  impl_->Clear();
  PageTags tags;
  PlainLandmarks marks;
  if (text.empty() || text.size() > limits.max_bytes ||
      !ReadPageTags(text, &tags, limits.max_depth) || !FindPlainLandmarks(text, tags, &marks)) {
    if (refused != nullptr) *refused = std::move(text);
    return false;
  }
  Impl& d = *impl_;
  bool implied_head = marks.head == kNone;
  FillFromTags(d, std::move(text), tags, implied_head);
  d.root = 0;
  d.head = implied_head ? 1 : static_cast<int>(marks.head);
  d.body = static_cast<int>(marks.body) + (implied_head ? 1 : 0);
  for (size_t k = d.body + 1; k < d.elements.size(); ++k) d.elements[k].in_body = true;
  d.elements[d.head].parent = d.elements[d.body].parent = d.root;
  Impl::ElementSource& html = d.sources[d.root];
  Impl::ElementSource& head = d.sources[d.head];
  Impl::ElementSource& body = d.sources[d.body];
  html.end_tag_begin = tags.html_end.begin;
  // Blanks after the html end tag are the body's text in the parse, and so inside the html.
  html.hi = tags.html_end.end < d.text.size() ? d.text.size() : tags.html_end.end;
  body.end_tag_begin = tags.body_end.begin;
  body.hi = tags.body_end.end;
  if (tags.head_end.count != 0) {
    head.end_tag_begin = tags.head_end.begin;
    head.hi = tags.head_end.end;
  } else {
    // An open head holds what stands before the body tag: its elements, blanks and comments.
    if (implied_head && d.body > d.head + 1) head.lo = d.sources[d.head + 1].lo;
    if (head.lo != kNone) head.hi = body.tag_begin;
  }
  AddTagStylesAndComments(d, tags, implied_head);
  for (HtmlComment& comment : d.comments) {
    comment.in_body = comment.text_begin > body.tag_end && comment.text_end <= body.end_tag_begin;
  }
  for (HtmlStyleBlock& block : d.blocks) block.in_body = d.elements[block.element].in_body;
  return true;
}

bool HtmlDocument::loaded() const { return impl_->loaded; }
const std::string& HtmlDocument::source() const { return impl_->text; }
const std::vector<HtmlElement>& HtmlDocument::elements() const { return impl_->elements; }
int HtmlDocument::document_element() const { return impl_->root; }
int HtmlDocument::head() const { return impl_->head; }
int HtmlDocument::body() const { return impl_->body; }
const std::vector<HtmlStyleBlock>& HtmlDocument::style_blocks() const { return impl_->blocks; }
const std::vector<HtmlComment>& HtmlDocument::comments() const { return impl_->comments; }

bool HtmlDocument::ReplaceSource(size_t offset, size_t length, std::string replacement) {
  if (!impl_->loaded || offset > impl_->text.size() || length > impl_->text.size() - offset) {
    return false;
  }
  impl_->raw_edits.push_back(SourceEdit{offset, length, std::move(replacement)});
  return true;
}

std::vector<int> HtmlDocument::ElementsByTagName(std::string_view name) const {
  std::vector<int> out;
  for (size_t k = 0; k < impl_->elements.size(); ++k) {
    if (EqualsIgnoringAsciiCase(impl_->elements[k].name, name)) out.push_back(static_cast<int>(k));
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Attributes

const HtmlDocument::Impl::SourceAttribute* HtmlDocument::Impl::FindSourceAttribute(
    int element, std::string_view name) const {
  const ElementSource& s = sources[element];
  for (size_t k = s.attr_first; k < s.attr_first + s.attr_count; ++k) {
    if (EqualsIgnoringAsciiCase(attributes[k].name, name)) return &attributes[k];
  }
  return nullptr;
}

const HtmlDocument::Impl::PendingAttribute* HtmlDocument::Impl::FindPending(
    int element, std::string_view name) const {
  if (!has_pending[element]) return nullptr;
  auto it = pending.find(element);
  if (it == pending.end()) return nullptr;
  for (const PendingAttribute& p : it->second) {
    if (EqualsIgnoringAsciiCase(p.name, name)) return &p;
  }
  return nullptr;
}

std::string HtmlDocument::Impl::Attribute(int element, std::string_view name, bool* present) const {
  *present = false;
  if (!Valid(element)) return {};
  if (const PendingAttribute* p = FindPending(element, name)) {
    *present = !p->value.empty();
    return p->value;
  }
  const SourceAttribute* a = FindSourceAttribute(element, name);
  if (a == nullptr) return {};
  *present = true;
  return a->value;
}

void HtmlDocument::LoadedAttributeNames(int element, std::vector<std::string_view>* names) const {
  names->clear();
  if (!impl_->Valid(element)) return;
  const Impl::ElementSource& s = impl_->sources[element];
  for (size_t k = s.attr_first; k < s.attr_first + s.attr_count; ++k) {
    names->push_back(impl_->attributes[k].name);
  }
}

bool HtmlDocument::HasAttribute(int element, std::string_view name) const {
  bool present;
  impl_->Attribute(element, name, &present);
  return present;
}

std::string HtmlDocument::GetAttribute(int element, std::string_view name) const {
  bool present;
  return impl_->Attribute(element, name, &present);
}

bool HtmlDocument::SetAttribute(int element, std::string_view name, std::string_view value) {
  if (!impl_->Valid(element) || name.empty()) return false;
  const Impl::SourceAttribute* a = impl_->FindSourceAttribute(element, name);
  bool writable = a != nullptr ? a->editable : impl_->elements[element].has_start_tag;
  if (!writable) return false;
  impl_->has_pending[element] = true;
  std::vector<Impl::PendingAttribute>& list = impl_->pending[element];
  for (Impl::PendingAttribute& p : list) {
    if (EqualsIgnoringAsciiCase(p.name, name)) {
      p.value.assign(value);
      return true;
    }
  }
  list.push_back(Impl::PendingAttribute{AsciiLowered(name), std::string(value)});
  return true;
}

// ---------------------------------------------------------------------------------------------
// Inline style

std::string HtmlDocument::GetStyleProperty(int element, std::string_view property) const {
  std::string style = GetAttribute(element, "style");
  if (style.empty()) return {};
  std::vector<CssDeclaration> declarations = ParseCssDeclarations(style);
  ImageProperty kind = ImagePropertyOf(property);
  if (kind == ImageProperty::kNone) {
    std::string wanted = WithoutHyphens(property);
    const CssDeclaration* found = nullptr;
    for (const CssDeclaration& d : declarations) {
      if (WithoutHyphens(d.name) == wanted &&
          (found == nullptr || d.important || !found->important))
        found = &d;
    }
    return found ? style.substr(found->value_begin, found->value_end - found->value_begin) : "";
  }
  const CssDeclaration* d =
      DeclarationInForce(declarations, LonghandName(kind), ShorthandName(kind));
  if (d == nullptr) return {};
  CssUrl url;
  if (FindCssUrl(style, d->value_begin, d->value_end, &url)) return "url(" + url.value + ")";
  if (d->name == ShorthandName(kind)) return "none";
  return style.substr(d->value_begin, d->value_end - d->value_begin);
}

bool HtmlDocument::SetStyleProperty(int element, std::string_view property,
                                    std::string_view value) {
  if (!impl_->Valid(element)) return false;
  std::string style = GetAttribute(element, "style");
  std::vector<CssDeclaration> declarations = ParseCssDeclarations(style);
  ImageProperty kind = ImagePropertyOf(property);
  std::string longhand =
      kind == ImageProperty::kNone ? AsciiLowered(property) : std::string(LonghandName(kind));
  std::string_view shorthand = kind == ImageProperty::kNone ? "" : ShorthandName(kind);
  const CssDeclaration* d = DeclarationInForce(declarations, longhand, shorthand);
  CssUrl url;
  bool has_url = d != nullptr && kind != ImageProperty::kNone &&
                 FindCssUrl(style, d->value_begin, d->value_end, &url);
  bool is_longhand = d != nullptr && d->name == longhand;
  if (has_url && (!value.empty() || !is_longhand)) {
    style.replace(url.begin, url.end - url.begin, value.empty() ? "none" : std::string(value));
  } else if (is_longhand && value.empty()) {
    size_t end = style.find_first_not_of(" \t\r\n\f", d->end);
    style.erase(d->begin, (end == std::string::npos ? style.size() : end) - d->begin);
  } else if (is_longhand) {
    style.replace(d->value_begin, d->value_end - d->value_begin, value);
  } else if (!value.empty()) {
    size_t end = style.find_last_not_of(" \t\r\n\f");
    style.resize(end == std::string::npos ? 0 : end + 1);
    if (!style.empty()) style += style.back() == ';' ? " " : "; ";
    style += longhand + ": " + std::string(value);
  } else {
    return true;
  }
  return SetAttribute(element, "style", style);
}

// ---------------------------------------------------------------------------------------------
// Style sheets

bool HtmlDocument::ReplaceImportUrl(size_t block, size_t import, std::string_view url) {
  if (block >= impl_->imports.size() || import >= impl_->imports[block].size()) return false;
  Impl::ImportSource& source = impl_->imports[block][import];
  source.replacement = EscapeCssUrl(url, source.quote);
  source.replaced = true;
  impl_->blocks[block].imports[import].url.assign(url);
  return true;
}

bool HtmlDocument::ReplaceStyleText(size_t block, size_t offset, size_t length,
                                    std::string replacement) {
  if (block >= impl_->blocks.size() || impl_->block_text_begins[block] == kNone) return false;
  const std::string& text = impl_->blocks[block].text;
  if (offset > text.size() || length > text.size() - offset) return false;
  impl_->raw_edits.push_back(
      SourceEdit{impl_->block_text_begins[block] + offset, length, std::move(replacement)});
  return true;
}

// ---------------------------------------------------------------------------------------------
// Serialisation

void HtmlDocument::Impl::RemoveDuplicates(int element, const SourceAttribute& kept,
                                          std::vector<SourceEdit>& edits) const {
  const ElementSource& s = sources[element];
  if (!elements[element].has_start_tag || kept.begin < s.tag_begin || kept.end > s.tag_end) return;
  std::string_view tag = std::string_view(text).substr(s.tag_begin, s.tag_end - s.tag_begin);
  for (const ScannedAttribute& a : ScanStartTagAttributes(tag)) {
    if (a.name != kept.name || s.tag_begin + a.begin == kept.begin) continue;
    size_t begin = s.tag_begin + a.begin;
    while (begin > s.name_end && IsTagSpace(text[begin - 1])) --begin;
    edits.push_back(SourceEdit{begin, s.tag_begin + a.end - begin, {}});
  }
}

void HtmlDocument::Impl::AttributeEdits(int element, std::vector<SourceEdit>& edits) const {
  auto it = pending.find(element);
  if (it == pending.end()) return;
  std::string added;
  for (const PendingAttribute& p : it->second) {
    const SourceAttribute* a = FindSourceAttribute(element, p.name);
    if (a == nullptr) {
      if (!p.value.empty()) added += " " + FormatAttribute(p.name, p.value, '"');
      continue;
    }
    if (p.value.empty()) {
      size_t begin = a->begin;
      while (begin > 0 && IsTagSpace(text[begin - 1])) --begin;
      edits.push_back(SourceEdit{begin, a->end - begin, {}});
    } else {
      edits.push_back(SourceEdit{a->begin, a->end - a->begin,
                                 FormatAttribute(a->written_name, p.value, a->quote)});
    }
    RemoveDuplicates(element, *a, edits);
  }
  if (!added.empty()) edits.push_back(SourceEdit{sources[element].name_end, 0, std::move(added)});
}

std::vector<SourceEdit> HtmlDocument::Impl::Edits() const {
  std::vector<SourceEdit> edits = raw_edits;
  for (const auto& [element, list] : pending) AttributeEdits(element, edits);
  for (const std::vector<ImportSource>& block : imports) {
    for (const ImportSource& import : block) {
      if (import.replaced) {
        edits.push_back(SourceEdit{import.value_begin, import.value_end - import.value_begin,
                                   import.replacement});
      }
    }
  }
  return edits;
}

// The html, head and body tags the source leaves out, placed as a browser's document holds them.
void HtmlDocument::Impl::ImpliedTags(std::vector<SourceEdit>& edits) const {
  const ElementSource& html = sources[root];
  size_t html_lo = html.lo == kNone ? 0 : html.lo;
  size_t html_hi = html.lo == kNone ? 0 : html.hi;
  auto insert = [&](size_t at, const char* tag) { edits.push_back(SourceEdit{at, 0, tag}); };
  if (!elements[root].has_start_tag) insert(html_lo, "<html>");
  bool body_written = body >= 0 && sources[body].lo != kNone;
  size_t body_at = body_written ? sources[body].lo : HtmlClose();
  if (head >= 0) {
    const ElementSource& s = sources[head];
    bool has_end = s.end_tag_begin != kNone;
    if (s.lo == kNone) {
      insert(HeadInsertionPoint(), "<head></head>");
    } else {
      if (!elements[head].has_start_tag) insert(s.lo, "<head>");
      if (!has_end) insert(std::max(s.lo, std::min(s.hi, body_at)), "</head>");
    }
  }
  if (body >= 0) {
    const ElementSource& s = sources[body];
    if (!body_written) {
      insert(HtmlClose(), "<body></body>");
    } else {
      if (!elements[body].has_start_tag) insert(s.lo, "<body>");
      if (s.end_tag_begin == kNone) insert(s.hi, "</body>");
    }
  }
  if (html.end_tag_begin == kNone) insert(html_hi, "</html>");
}

std::string HtmlDocument::OuterHtml() const {
  if (!impl_->loaded || impl_->root < 0) return {};
  const Impl::ElementSource& html = impl_->sources[impl_->root];
  std::vector<SourceEdit> edits = impl_->Edits();
  impl_->ImpliedTags(edits);
  SortSourceEdits(edits);
  size_t lo = html.lo == kNone ? 0 : html.lo;
  size_t hi = html.lo == kNone ? 0 : html.hi;
  return ApplySourceEdits(impl_->text, lo, hi, edits);
}

std::string HtmlDocument::SourceWithEdits() const {
  if (!impl_->loaded) return {};
  std::vector<SourceEdit> edits = impl_->Edits();
  SortSourceEdits(edits);
  return ApplySourceEdits(impl_->text, 0, impl_->text.size(), edits);
}

std::string HtmlDocument::BodyInnerHtml() const {
  if (!impl_->loaded || impl_->body < 0) return {};
  const Impl::ElementSource& s = impl_->sources[impl_->body];
  if (s.lo == kNone) return {};
  size_t begin = impl_->elements[impl_->body].has_start_tag ? s.tag_end : s.lo;
  // With an end tag, the content ends there, unless the parser moved elements written after
  // it into the body. (A text span may run on over the end tag: it is not taken.)
  size_t end = s.end_tag_begin != kNone ? std::max(s.end_tag_begin, s.element_hi) : s.inner_hi;
  if (end <= begin) return {};
  std::vector<SourceEdit> edits = impl_->Edits();
  SortSourceEdits(edits);
  return ApplySourceEdits(impl_->text, begin, end, edits);
}
