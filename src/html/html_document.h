#ifndef ORVO_HTML_HTML_DOCUMENT_H_
#define ORVO_HTML_HTML_DOCUMENT_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "html/element_tag.h"

// An HTML page parsed for reading and for small edits: the engine that the document walk, the
// clipboard and the Word round trip use in place of a browser's document object.
//
// The page is never written out from the parse tree. Every change is kept as an edit against
// the bytes that were loaded and applied when text is asked for, so everything the editor sent
// stays byte for byte except what was changed: quoting, letter case, entities, comments, Office
// conditional comments and markup the parser would drop or move.
//
// Elements are numbered by their place in the `all` collection (document order, the root first).
// Not thread-safe: a document belongs to the one request thread that loaded it.

struct HtmlElement {
  std::string_view tag_name;  // as written ("v:imagedata", "IMG"); the standard lower-case
                              // name for an element the parser implied
  std::string name;           // lower case, as the element is looked up ("img" for <IMG>)
  TagId tag_id = TagId::kOther;
  int parent = -1;             // -1 for the root
  bool in_body = false;        // a descendant of the body element (not the body itself)
  bool has_start_tag = false;  // a start tag of its own in the loaded text
};

struct HtmlStyleImport {
  std::string prelude;      // the text between "@import" and ';', trimmed
  std::string url;          // the URL the rule names, without url( ) and quotes
  bool terminated = false;  // the rule ends with ';'
};

// A <style> element and the @import rules of its text.
struct HtmlStyleBlock {
  int element = -1;
  bool in_body = false;
  std::string text;  // the element's text as loaded
  std::vector<HtmlStyleImport> imports;
};

// A comment's text: the bytes between "<!--" and "-->" (or the end of the page). Office writes
// markup for its own renderer inside conditional comments ("<!--[if gte vml 1]>...").
struct HtmlComment {
  size_t text_begin = 0;  // offsets into source()
  size_t text_end = 0;
  int parent = -1;  // the element that holds it; -1 at document level
  bool in_body = false;
};

// A page's parse takes many times the page's bytes (a page of bare tags, 60 to 70 times; an
// office page about 15 times, tree included), so both the page and the memory of its load are
// bounded: a request that loads a page holds at most a small multiple of it.
struct HtmlLoadLimits {
  int max_errors = 100;    // parse errors recorded (they are not reported; this bounds memory)
  size_t max_depth = 512;  // deeper start tags are read as text; their bytes are kept
  size_t max_bytes = size_t{64} << 20;  // a longer text is refused unparsed
  // The parser's memory and the element tree read from it, together; a page that needs more is
  // refused. 0: 192 MiB plus 1 byte per byte of text. The edits made later are bounded by the
  // tree: at most a few per element.
  size_t memory_budget = 0;
};

class HtmlDocument {
 public:
  HtmlDocument();
  ~HtmlDocument();
  HtmlDocument(const HtmlDocument&) = delete;
  HtmlDocument& operator=(const HtmlDocument&) = delete;

  // Parses text as a whole page, dropping any earlier document and its edits. False (and no
  // document, nothing held) for empty text and for text whose parse and tree do not fit the
  // memory budget; the refused text is then moved to *refused when given, so that a caller can
  // still pass the page on as it stands.
  bool Load(std::string text, const HtmlLoadLimits& limits = HtmlLoadLimits(),
            std::string* refused = nullptr);

  // Reads text by its tags alone (see html/page_tags.h), many times faster than Load, when
  // that reading is sure to give the elements, attributes, style blocks and comments Load
  // gives, so that the same edits give the same SourceWithEdits. There is no tree: no
  // elements the parser would imply, parent -1 and in_body false throughout, document_element,
  // head and body -1, OuterHtml and BodyInnerHtml empty. False (and no document) for a page
  // that needs the parse, an empty one and one longer than limits.max_bytes; pages nested
  // deeper than limits.max_depth need the parse too. With only_carrying, elements() lists
  // only the elements that carry one of those attributes (lower case) and style elements, in
  // document order: for a caller that reads and writes nothing else. On false, the text is
  // moved to *refused when given.
  bool LoadTags(std::string text, const HtmlLoadLimits& limits = HtmlLoadLimits(),
                const std::vector<std::string_view>* only_carrying = nullptr,
                std::string* refused = nullptr);

  // Reads a whole page by its tags, as LoadTags does, when its html, head and body elements
  // are written so plainly that the tags alone place them as the parse does: an html tag
  // first, a body tag, one body and one html end tag with only blanks after each, and a head
  // written or left out with nothing but what stays in a head before the body tag. Then
  // document_element, head, body, in_body, OuterHtml and BodyInnerHtml are those Load gives
  // (parent is set for the head and the body only), many times faster. False (and no
  // document; the text moved to *refused when given) for every other page, which needs Load.
  bool LoadPage(std::string text, const HtmlLoadLimits& limits = HtmlLoadLimits(),
                std::string* refused = nullptr);
  bool loaded() const;

  // The text as loaded, without edits.
  const std::string& source() const;

  // The `all` collection: every element in document order.
  const std::vector<HtmlElement>& elements() const;
  int document_element() const;  // the html element; -1 without a document
  int head() const;
  int body() const;  // -1 without a document, or for a frameset page

  // Elements whose lower-case name equals name without regard to case, in document order.
  std::vector<int> ElementsByTagName(std::string_view name) const;

  // Attributes by name, without regard to case. The value is the one the source gives (the
  // first of duplicated attributes, as the parser keeps it) with character references decoded,
  // or the last value written. Empty when absent; HasAttribute tells an empty value apart.
  bool HasAttribute(int element, std::string_view name) const;
  // The lower-case names of the element's attributes as loaded (the first of duplicates), in
  // order, into *names; writes made since are not reflected.
  void LoadedAttributeNames(int element, std::vector<std::string_view>* names) const;
  std::string GetAttribute(int element, std::string_view name) const;

  // Sets an attribute: its value is replaced where it stands, quoted and with '&' and the quote
  // escaped; an absent attribute is added after the tag name; an empty value removes the
  // attribute (and any later duplicates of it in the same tag, which would otherwise come into
  // force). Writes to one element compose. False, changing nothing, when the element has no
  // start tag of its own to carry the change (an element the parser implied or copied).
  bool SetAttribute(int element, std::string_view name, std::string_view value);

  // Inline style properties in the platform's names: "backgroundimage" ("background-image")
  // and "liststyleimage" ("list-style-image") are read from the longhand or from the
  // `background` / `list-style` shorthand, whichever is in force, and reported as the platform
  // does: "url(a.png)" (quotes dropped) or "none"; empty when not set. Other names read the
  // value of that declaration as written.
  std::string GetStyleProperty(int element, std::string_view property) const;

  // Writes a style property: the url() in force is replaced in place (inside a shorthand too);
  // otherwise a longhand declaration is set or added. An empty value removes the longhand (in a
  // shorthand the url() becomes "none"). False when the style attribute cannot be written.
  bool SetStyleProperty(int element, std::string_view property, std::string_view value);

  // The comments written with "<!--", in document order.
  const std::vector<HtmlComment>& comments() const;

  // Replaces source bytes [offset, offset + length) by replacement when text is asked for: for
  // changes the element model does not reach, such as markup inside a comment. The range must
  // not overlap a tag or an @import URL that is edited too (the overlapping change is dropped).
  // False, changing nothing, for a range outside the source.
  bool ReplaceSource(size_t offset, size_t length, std::string replacement);

  // The <style> elements in document order, with their @import rules.
  const std::vector<HtmlStyleBlock>& style_blocks() const;

  // Replaces the URL of one @import rule in place, keeping its url() or string form. False for
  // indexes out of range.
  bool ReplaceImportUrl(size_t block, size_t import, std::string_view url);

  // Replaces text[offset, offset + length) of one style block's text (HtmlStyleBlock::text) by
  // replacement, in place. False, changing nothing, for a range outside the text or a block
  // whose text is not in the loaded bytes. An edit that overlaps another one is dropped when
  // text is asked for.
  bool ReplaceStyleText(size_t block, size_t offset, size_t length, std::string replacement);

  // The document element's outer HTML with the edits applied. When the source leaves out the
  // html, head or body tags, they are written around the original bytes as a browser's
  // document would hold them. Empty without a document.
  std::string OuterHtml() const;

  // The whole text as loaded with the edits applied and nothing added: what a saved page
  // should hold after its references were changed. Empty without a document.
  std::string SourceWithEdits() const;

  // The body's inner HTML with the edits applied; empty without a body.
  std::string BodyInnerHtml() const;

  // The loaded state, defined beside the implementation.
  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

#endif  // ORVO_HTML_HTML_DOCUMENT_H_
