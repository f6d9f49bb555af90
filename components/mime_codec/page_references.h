#ifndef ORVO_COMPONENTS_MIME_CODEC_PAGE_REFERENCES_H_
#define ORVO_COMPONENTS_MIME_CODEC_PAGE_REFERENCES_H_

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace mimecodec {

// Where each part of an archive went, looked up by the references a page makes to it. Used by
// one thread at a time, the const members included.
class PartReferences {
 public:
  // page_location: the page part's Content-Location ("" when it has none); relative references
  // and relative part locations are resolved against it.
  explicit PartReferences(std::string page_location);
  ~PartReferences();
  PartReferences(PartReferences&&) noexcept;
  PartReferences& operator=(PartReferences&&) noexcept;

  // A part written as file_name; content_id without '<' '>', location as written (either may
  // be empty). The first part to claim a key keeps it.
  void Add(std::string_view content_id, std::string_view location, const std::string& file_name);

  // The file name a reference points to: "cid:" + a Content-ID (the scheme without regard to
  // case, the ID percent-decoded or as written), a part's location as written, or the
  // reference resolved against base (the referring part's location; the page's when empty).
  // Locations match however their percent escapes are spelt. Null when it names no part.
  const std::string* Find(std::string_view reference, std::string_view base = {}) const;

  bool empty() const { return by_id_.empty() && by_location_.empty(); }

  // False only when no reference in page, resolved against base (the page's location when
  // empty), can name a part: page holds none of the parts' names, in any spelling of escapes
  // that the HTML engine would decode. True whenever that cannot be told from page's bytes.
  bool MayBeNamedIn(std::string_view page, std::string_view base) const;

 private:
  const std::string* FindLocation(const std::string& location) const;
  // reference resolved against base as g_uri_resolve_relative resolves it; "" when either is
  // empty or they do not combine.
  std::string Resolve(std::string_view base, std::string_view reference) const;

  // The base last resolved against, parsed: the parts' locations and a page's references
  // mostly share one base, and parsing it again for each took as long as the resolving.
  class ParsedBase;
  mutable std::unique_ptr<ParsedBase> parsed_base_;
  std::string page_location_;
  std::unordered_map<std::string, std::string> by_id_;
  std::unordered_map<std::string, std::string> by_location_;
};

// The page with every reference that names a part rewritten to the part's file name: element
// attributes that carry URLs (src, href, background, lowsrc, data, poster, dynsrc), background
// and list-style images of inline styles, every url() and @import of style blocks, and the same
// attributes of the VML markup inside Office conditional comments ("<!--[if gte vml 1]>...",
// such as v:imagedata's src). Edits are spliced into the page's own bytes, so everything else
// stays as it was. A page the HTML engine cannot load is returned unchanged. Relative
// references are resolved against base, the location of the part the page came from (the
// page's own when empty): a frame's part refers to its neighbours from where it stood.
std::string RewritePageReferences(std::string page, const PartReferences& parts,
                                  std::string_view base = {});

// How RewritePageReferences reads the page: kAny by its tags alone where that reading is sure
// to be the parse's (html/page_tags.h), and with the HTML engine's whole parse otherwise. The
// others force one reading, so that the two can be held to the same bytes; kTagsOnly leaves a
// page that needs the parse unchanged and says so through *read (when given).
enum class PageReading { kAny, kEngine, kTagsOnly };
std::string RewritePageReferences(std::string page, const PartReferences& parts,
                                  std::string_view base, PageReading reading, bool* read = nullptr);

// A style sheet part with every url() and every @import that names a part rewritten to the
// part's file name, relative references resolved against base (the sheet's own location).
// Everything else stays byte for byte.
std::string RewriteSheetReferences(std::string sheet, const PartReferences& parts,
                                   std::string_view base);

}  // namespace mimecodec

#endif  // ORVO_COMPONENTS_MIME_CODEC_PAGE_REFERENCES_H_
