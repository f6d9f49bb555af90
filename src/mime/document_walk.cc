#include "mime/document_walk.h"

#include <algorithm>
#include <functional>
#include <vector>

#include "html/css_scan.h"
#include "html/html_document.h"
#include "html/office_comments.h"
#include "html/srcset.h"
#include "mime/encode_options.h"
#include "mime/reference_resolution.h"
#include "mime/resource_embedding.h"
#include "mime/sheet_references.h"
#include "text/ascii.h"
#include "workspace/temp_workspace.h"
#include "workspace/url_path.h"

namespace {

void EraseQuotes(std::string& text) {
  text.erase(std::remove(text.begin(), text.end(), '"'), text.end());
}

// The filter bit that admits an element kind; 0 for kinds the walk skips, -1 for anchors,
// which are always admitted.
int32_t FilterBitOf(TagId kind) {
  switch (kind) {
    case TagId::kA:
      return -1;
    case TagId::kApplet:
      return kFilterApplets;
    case TagId::kBgsound:
      return kFilterSounds;
    case TagId::kEmbed:
      return kFilterEmbeds;
    case TagId::kLink:
    case TagId::kStyle:
      return kFilterStyleSheets;
    case TagId::kScript:
      return kFilterScripts;
    case TagId::kBody:
    case TagId::kDiv:
    case TagId::kGeneric:
    case TagId::kImg:
    case TagId::kInput:
    case TagId::kLi:
    case TagId::kTable:
    case TagId::kTd:
    case TagId::kTh:
      return kFilterImages;
    default:
      return 0;
  }
}

bool IsBackgroundKind(TagId kind) {
  return kind == TagId::kBody || kind == TagId::kDiv || kind == TagId::kTable ||
         kind == TagId::kTd || kind == TagId::kTh;
}

// The name without its namespace prefix: "imagedata" for "v:imagedata".
std::string_view LocalName(std::string_view name) {
  size_t colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// codebase + '/' + code, with the code's backslashes made slashes and its leading '/' dropped.
std::string AppletReference(const HtmlDocument& doc, int element) {
  std::string base = doc.GetAttribute(element, "codebase");
  if (!base.empty() && base.back() != '/') base += '/';
  std::string code = doc.GetAttribute(element, "code");
  for (char& c : code) {
    if (c == '\\') c = '/';
  }
  size_t first = code.find_first_not_of('/');
  code.erase(0, first == std::string::npos ? code.size() : first);
  return base + code;
}

std::string PrimaryRaw(const HtmlDocument& doc, int element, TagId kind) {
  auto attribute = [&](const char* name) { return doc.GetAttribute(element, name); };
  switch (kind) {
    case TagId::kA:
      return attribute("href");
    case TagId::kApplet:
      return AppletReference(doc, element);
    case TagId::kBgsound:
    case TagId::kEmbed:
    case TagId::kScript:
    case TagId::kGeneric:
      return attribute("src");
    case TagId::kImg:
    case TagId::kInput: {
      std::string src = attribute("src");
      return src.empty() ? attribute("lowsrc") : src;
    }
    case TagId::kLi:
      return attribute("background");
    case TagId::kLink: {
      std::string rel = attribute("rel");
      return EqualsIgnoringAsciiCase(rel, "stylesheet") ? rel : std::string();
    }
    default:
      if (!IsBackgroundKind(kind)) return {};
      std::string background = attribute("background");
      return background.empty() ? doc.GetStyleProperty(element, "backgroundimage") : background;
  }
}

class DocumentWalker {
 public:
  DocumentWalker(HtmlDocument& page, ResourceRegistry& registry, const std::string& base,
                 const EncodeOptions& options)
      : page_(page),
        base_(base),
        options_(options),
        target_{registry, options.workspace, std::string(), {}, {}, 0, {}, {}, {}},
        base_href_(GetBaseHref(page)) {}

  void Run();

 private:
  bool Takes(int32_t bit) const { return (options_.filter & bit) != 0; }
  // Whether the range reaches a node: the part of the page that is written is the part walked.
  bool InRange(bool in_body) const {
    return options_.range == EncodeRange::kWholeDocument || in_body;
  }
  bool PrefixMatch(const std::string& text) const {
    return PrefixMatches(options_.include_prefix, text);
  }
  ResolvedReference Resolve(const std::string& raw) const {
    return ResolveReference(raw, base_, options_.file_scope);
  }
  void UnescapeAsWritten(ResolvedReference& ref) const;
  bool ResolvePrimary(const HtmlDocument& doc, const std::string& raw, ResolvedReference* ref);
  std::string Embed(const ResolvedReference& ref, EmbedMode mode = EmbedMode::kContentId) {
    return EmbedResource(ref, target_, mode);
  }
  // The embedded name, or the reference as the page wrote it when it was not embedded.
  std::string EmbedOrRaw(const ResolvedReference& ref) {
    std::string result = Embed(ref);
    return result.empty() ? ref.raw : result;
  }
  static void Write(HtmlDocument& doc, int element, const char* name, const std::string& value);

  void ImportPass();
  void ProcessElement(HtmlDocument& doc, int element, bool extras = true);
  void Act(HtmlDocument& doc, int element, TagId kind, const ResolvedReference& ref);
  void ActOnApplet(HtmlDocument& doc, int element, const ResolvedReference& ref);
  void ActOnBackground(HtmlDocument& doc, int element, const ResolvedReference& ref);
  void ActOnLink(HtmlDocument& doc, int element);
  void StylePicture(HtmlDocument& doc, int element, const char* property, bool drop_quotes,
                    bool (DocumentWalker::*admit)(const ResolvedReference&) const);
  // The admissions of inline style pictures.
  bool UnderPrefixOrAnyScheme(const ResolvedReference& ref) const {
    return PrefixMatch(ref.resolved) || options_.file_scope == FileScope::kAll;
  }
  bool OutsidePrefix(const ResolvedReference& ref) const { return !PrefixMatch(ref.resolved); }
  bool UnderPrefix(const ResolvedReference& ref) const { return PrefixMatch(ref.resolved); }
  void LowResolutionSource(HtmlDocument& doc, int element);

  void OfficeVmlPass();
  void ProcessVml(const HtmlComment& comment);

  std::string EmbedLoose(const std::string& raw);
  void SrcsetCandidatesOf(HtmlDocument& doc, int element);
  void InlineStyleUrls(HtmlDocument& doc, int element, TagId kind);
  void StyleBlockUrls();

  HtmlDocument& page_;
  const std::string& base_;
  const EncodeOptions& options_;
  EmbedTarget target_;
  std::string base_href_;
};

void DocumentWalker::Run() {
  if (page_.body() < 0) return;  // a frameset page, or nothing parsed
  if (Takes(kFilterStyleSheets)) ImportPass();
  std::vector<int> listed;
  const std::vector<HtmlElement>& elements = page_.elements();
  for (size_t k = 0; k < elements.size(); ++k) {
    if (InRange(elements[k].in_body)) listed.push_back(static_cast<int>(k));
  }
  for (int element : listed) ProcessElement(page_, element);
  if (Takes(kFilterImages)) {
    OfficeVmlPass();
    StyleBlockUrls();
  }
  EmbedStyleSheetReferences(target_, options_);
}

void DocumentWalker::UnescapeAsWritten(ResolvedReference& ref) const {
  if ((ref.raw.size() > 8 && StartsWithIgnoringAsciiCase(ref.raw, "file:///")) || ref.is_relative) {
    ref.resolved = UnescapeUrl(ref.resolved);
  }
}

// An element's own reference: resolve, retry against the base element, unescape, admit.
bool DocumentWalker::ResolvePrimary(const HtmlDocument& doc, const std::string& raw,
                                    ResolvedReference* ref) {
  *ref = Resolve(raw);
  EraseQuotes(ref->resolved);
  if (!base_href_.empty() && !FileExists(ref->resolved) && !IsUrl(raw)) {
    *ref = Resolve(base_href_ + raw);
    EraseQuotes(ref->resolved);
    ref->raw = raw;  // a reference that is not embedded stays as the page wrote it
  }
  UnescapeAsWritten(*ref);
  if (ref->resolved.empty()) return false;
  return ref->is_relative || options_.file_scope != FileScope::kLocalAndWeb || !ref->is_url ||
         PrefixMatch(ref->resolved);
}

void DocumentWalker::Write(HtmlDocument& doc, int element, const char* name,
                           const std::string& value) {
  // An unchanged value is not written, so its bytes stay exactly as the page has them; an empty
  // value removes the attribute.
  bool change =
      value.empty() ? doc.HasAttribute(element, name) : doc.GetAttribute(element, name) != value;
  if (change) doc.SetAttribute(element, name, value);
}

void DocumentWalker::ProcessElement(HtmlDocument& doc, int element, bool extras) {
  TagId kind = doc.elements()[element].tag_id;
  int32_t bit = FilterBitOf(kind);
  if (extras && Takes(kFilterImages)) {
    SrcsetCandidatesOf(doc, element);
    InlineStyleUrls(doc, element, kind);
  }
  if (bit == 0 || (bit > 0 && !Takes(bit))) return;
  std::string raw = PrimaryRaw(doc, element, kind);
  if (raw.empty()) return;
  ResolvedReference ref;
  if (ResolvePrimary(doc, raw, &ref)) Act(doc, element, kind, ref);
}

void DocumentWalker::Act(HtmlDocument& doc, int element, TagId kind, const ResolvedReference& ref) {
  switch (kind) {
    case TagId::kA:
      return;
    case TagId::kApplet:
      return ActOnApplet(doc, element, ref);
    case TagId::kBgsound:
    case TagId::kEmbed:
      return Write(doc, element, "src", EmbedOrRaw(ref));
    case TagId::kGeneric:
      if (EqualsIgnoringAsciiCase(LocalName(doc.elements()[element].name), "imagedata")) {
        Write(doc, element, "src", EmbedOrRaw(ref));
      }
      return;
    case TagId::kImg:
    case TagId::kInput:
      Write(doc, element, "src", EmbedOrRaw(ref));
      return LowResolutionSource(doc, element);
    case TagId::kLi:
      Write(doc, element, "background", EmbedOrRaw(ref));
      StylePicture(doc, element, "liststyleimage", false, &DocumentWalker::UnderPrefix);
      return StylePicture(doc, element, "backgroundimage", false, &DocumentWalker::OutsidePrefix);
    case TagId::kLink:
      return ActOnLink(doc, element);
    case TagId::kScript: {
      std::string result = Embed(ref, EmbedMode::kFileName);
      return Write(doc, element, "src", result.empty() ? ref.raw : result);
    }
    default:
      if (IsBackgroundKind(kind)) ActOnBackground(doc, element, ref);
      return;
  }
}

// An applet's class is embedded with its codebase dropped: the embedded name stands alone.
void DocumentWalker::ActOnApplet(HtmlDocument& doc, int element, const ResolvedReference& ref) {
  std::string result = Embed(ref);
  if (result.empty()) return;
  Write(doc, element, "code", result);
  Write(doc, element, "codebase", "");
}

// A background attribute is written only where the element has one; the inline style's
// picture is its own reference.
void DocumentWalker::ActOnBackground(HtmlDocument& doc, int element, const ResolvedReference& ref) {
  std::string result = EmbedOrRaw(ref);
  if (!doc.GetAttribute(element, "background").empty()) Write(doc, element, "background", result);
  StylePicture(doc, element, "backgroundimage", true, &DocumentWalker::UnderPrefixOrAnyScheme);
}

void DocumentWalker::ActOnLink(HtmlDocument& doc, int element) {
  std::string href = doc.GetAttribute(element, "href");
  ResolvedReference ref = Resolve(href);
  if (!ref.is_url && options_.file_scope == FileScope::kUrlsOnly) return;
  if (ref.is_url && options_.file_scope == FileScope::kLocalAndWeb && !PrefixMatch(ref.resolved)) {
    return;
  }
  std::string result = Embed(ref);
  Write(doc, element, "href", result.empty() ? href : result);
}

// A picture of the inline style, admitted as admit says. Only an embedded picture is written:
// the page's own value stays as it is otherwise (writing it back inside a new url() would wrap
// it twice and break the style).
void DocumentWalker::StylePicture(HtmlDocument& doc, int element, const char* property,
                                  bool drop_quotes,
                                  bool (DocumentWalker::*admit)(const ResolvedReference&) const) {
  std::string value = doc.GetStyleProperty(element, property);
  if (value.empty() || EqualsIgnoringAsciiCase(value, "none")) return;
  ResolvedReference ref = Resolve(value);
  if (drop_quotes) EraseQuotes(ref.resolved);
  UnescapeAsWritten(ref);
  if (ref.resolved.empty() || !(this->*admit)(ref)) return;
  std::string result = Embed(ref);
  if (!result.empty()) doc.SetStyleProperty(element, property, "url(" + result + ")");
}

// The low-resolution picture of img and input; at scope kLocalAndWeb an empty one is removed.
void DocumentWalker::LowResolutionSource(HtmlDocument& doc, int element) {
  ResolvedReference ref = Resolve(doc.GetAttribute(element, "lowsrc"));
  UnescapeAsWritten(ref);
  bool local_and_web = options_.file_scope == FileScope::kLocalAndWeb;
  if (ref.resolved.empty()) {
    if (local_and_web) Write(doc, element, "lowsrc", "");
    return;
  }
  if (!PrefixMatch(ref.resolved) && !local_and_web) return;
  std::string result = Embed(ref);
  Write(doc, element, "lowsrc", result.empty() ? ref.raw : result);
}

void DocumentWalker::ImportPass() {
  const std::vector<HtmlStyleBlock>& blocks = page_.style_blocks();
  for (size_t b = 0; b < blocks.size(); ++b) {
    if (!InRange(blocks[b].in_body)) continue;
    for (size_t i = 0; i < blocks[b].imports.size(); ++i) {
      const HtmlStyleImport& import = blocks[b].imports[i];
      if (!import.terminated) break;  // a rule without ';' ends the scan
      ResolvedReference ref = Resolve(import.url);
      if (ref.resolved.empty() || !PrefixMatch(ref.resolved)) continue;
      std::string result = Embed(ref);
      if (!result.empty()) page_.ReplaceImportUrl(b, i, result);
    }
  }
}

// The VML copy of each picture Office writes (see html/office_comments.h).
void DocumentWalker::OfficeVmlPass() {
  for (const HtmlComment& comment : page_.comments()) {
    if (InRange(comment.in_body)) ProcessVml(comment);
  }
}

void DocumentWalker::ProcessVml(const HtmlComment& comment) {
  EditVmlComment(page_, comment, [this](HtmlDocument& vml) {
    for (size_t k = 0; k < vml.elements().size(); ++k) {
      if (vml.elements()[k].tag_id == TagId::kGeneric) {
        ProcessElement(vml, static_cast<int>(k), /*extras=*/false);
      }
    }
  });
}

// A reference outside the element rules (srcset, other url()s): resolved and admitted like an
// element's own reference. Empty when nothing was embedded.
std::string DocumentWalker::EmbedLoose(const std::string& raw) {
  ResolvedReference ref;
  if (raw.empty() || !ResolvePrimary(page_, raw, &ref)) return {};
  return Embed(ref);
}

void DocumentWalker::SrcsetCandidatesOf(HtmlDocument& doc, int element) {
  const std::string& name = doc.elements()[element].name;
  if (name != "img" && name != "source") return;
  std::string value = doc.GetAttribute(element, "srcset");
  std::vector<SrcsetCandidate> candidates = SrcsetCandidates(value);
  // From the last: a replacement leaves the offsets before it valid.
  for (auto it = candidates.rbegin(); it != candidates.rend(); ++it) {
    std::string result = EmbedLoose(value.substr(it->begin, it->end - it->begin));
    if (!result.empty()) value.replace(it->begin, it->end - it->begin, result);
  }
  if (!candidates.empty()) Write(doc, element, "srcset", value);
}

// Declarations whose picture the element's own rules (StylePicture) decide.
bool ReadByElementRules(TagId kind, const std::string& declaration) {
  bool background = declaration == "background" || declaration == "background-image";
  bool list_style = declaration == "list-style" || declaration == "list-style-image";
  return ((IsBackgroundKind(kind) || kind == TagId::kLi) && background) ||
         (kind == TagId::kLi && list_style);
}

// Replaces the URL of every url() in css[begin, end) that is embedded; edits go from the last.
bool ReplaceCssUrls(std::string& css, size_t begin, size_t end,
                    const std::function<std::string(const std::string&)>& embed) {
  std::vector<CssUrl> urls;
  CssUrl url;
  for (size_t at = begin; FindCssUrl(css, at, end, &url); at = url.end) urls.push_back(url);
  bool changed = false;
  for (auto it = urls.rbegin(); it != urls.rend(); ++it) {
    std::string result = embed(it->value);
    if (result.empty()) continue;
    css.replace(it->value_begin, it->value_end - it->value_begin, result);
    changed = true;
  }
  return changed;
}

void DocumentWalker::InlineStyleUrls(HtmlDocument& doc, int element, TagId kind) {
  std::string style = doc.GetAttribute(element, "style");
  if (style.find('(') == std::string::npos) return;
  std::vector<CssDeclaration> declarations = ParseCssDeclarations(style);
  bool changed = false;
  auto embed = [this](const std::string& raw) { return EmbedLoose(raw); };
  for (auto it = declarations.rbegin(); it != declarations.rend(); ++it) {
    if (ReadByElementRules(kind, it->name)) continue;
    changed |= ReplaceCssUrls(style, it->value_begin, it->value_end, embed);
  }
  if (changed) Write(doc, element, "style", style);
}

// url() references of style blocks; @import rules are the import pass's.
void DocumentWalker::StyleBlockUrls() {
  const std::vector<HtmlStyleBlock>& blocks = page_.style_blocks();
  for (size_t b = 0; b < blocks.size(); ++b) {
    if (!InRange(blocks[b].in_body)) continue;
    const std::string& text = blocks[b].text;
    std::vector<CssImport> imports = FindCssImports(text);
    size_t at = imports.empty() ? 0 : imports.back().end;
    std::vector<CssUrl> urls;
    CssUrl url;
    for (; FindCssUrl(text, at, text.size(), &url); at = url.end) urls.push_back(url);
    for (const CssUrl& u : urls) {
      std::string result = EmbedLoose(u.value);
      if (result.empty()) continue;
      page_.ReplaceStyleText(b, u.value_begin, u.value_end - u.value_begin,
                             EscapeCssUrl(result, 0));
    }
  }
}

}  // namespace

std::string GetBaseHref(const HtmlDocument& document) {
  std::vector<int> bases = document.ElementsByTagName("base");
  return bases.empty() ? std::string() : document.GetAttribute(bases.back(), "href");
}

bool CollectResources(HtmlDocument& document, ResourceRegistry& registry, const std::string& base,
                      const EncodeOptions& options) {
  if (!document.loaded()) return false;
  DocumentWalker(document, registry, base, options).Run();
  return true;
}
