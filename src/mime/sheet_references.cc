#include "mime/sheet_references.h"

#include <algorithm>
#include <vector>

#include "html/css_scan.h"
#include "platform/file_system.h"
#include "text/ascii.h"
#include "workspace/path_macros.h"
#include "workspace/temp_workspace.h"
#include "workspace/url_path.h"

namespace {

// One reference a sheet makes: the URL's place in the text.
struct SheetReference {
  size_t begin;
  size_t end;
  std::string value;
  bool is_import;
  char quote;  // the quote the URL stands in; 0 for a bare url()
};

bool IsStyleSheet(const ResourceEntry& entry) {
  return EqualsIgnoringAsciiCase(FileExtension(entry.file_name), ".css");
}

char QuoteBefore(const std::string& css, size_t value_begin) {
  char before = value_begin > 0 ? css[value_begin - 1] : 0;
  return before == '"' || before == '\'' ? before : 0;
}

// Every url() and every @import of css, in text order; a url() that is an import's own counts
// as the import.
std::vector<SheetReference> ReferencesOf(const std::string& css) {
  std::vector<SheetReference> out;
  std::vector<CssImport> imports = FindCssImports(css);
  auto add = [&](const CssUrl& url, bool is_import) {
    out.push_back(
        {url.value_begin, url.value_end, url.value, is_import, QuoteBefore(css, url.value_begin)});
  };
  for (const CssImport& rule : imports) add(rule.url, true);
  CssUrl url;
  for (size_t at = 0; FindCssUrl(css, at, css.size(), &url); at = url.end) {
    bool own = std::any_of(imports.begin(), imports.end(), [&](const CssImport& rule) {
      return rule.url.is_function && rule.url.begin == url.begin;
    });
    if (!own) add(url, false);
  }
  std::sort(out.begin(), out.end(),
            [](const SheetReference& a, const SheetReference& b) { return a.begin < b.begin; });
  return out;
}

class SheetEmbedder {
 public:
  SheetEmbedder(EmbedTarget& target, const EncodeOptions& options)
      : target_(target), options_(options) {}

  void Run() {
    // Entries grow while sheets are processed: the sheets they add are reached in turn.
    size_t sheets = 0;
    for (size_t k = 0; k < target_.registry.entries().size() && sheets < kMaxStyleSheets; ++k) {
      if (!IsStyleSheet(target_.registry.entries()[k])) continue;
      Process(k);
      ++sheets;
    }
  }

 private:
  std::string EmbedOne(const SheetReference& reference, const std::string& sheet_location);
  void Process(size_t index);

  EmbedTarget& target_;
  const EncodeOptions& options_;
};

// The "cid:" reference for one reference of a sheet; empty when it is not embedded.
std::string SheetEmbedder::EmbedOne(const SheetReference& reference,
                                    const std::string& sheet_location) {
  int32_t bit = reference.is_import ? kFilterStyleSheets : kFilterImages;
  if ((options_.filter & bit) == 0 || reference.value.empty()) return {};
  ResolvedReference ref = ResolveReference(reference.value, sheet_location, options_.file_scope);
  // A local name is written as a URL would be ("a%20b.png"); a web URL keeps its escapes.
  if (!ref.is_url) ref.resolved = UnescapeUrl(ref.resolved);
  if (ref.resolved.empty()) return {};
  bool admitted = ref.is_relative || options_.file_scope != FileScope::kLocalAndWeb ||
                  !ref.is_url || PrefixMatches(options_.include_prefix, ref.resolved);
  return admitted ? EmbedResource(ref, target_, EmbedMode::kContentId) : std::string();
}

void SheetEmbedder::Process(size_t index) {
  // Copied: embedding adds entries, which may move this one.
  const ResourceEntry sheet = target_.registry.entries()[index];
  std::string css;
  if (!FileSystem::Default().ReadWholeFile(sheet.local_file, css, kMaxRewrittenSheetBytes)) return;
  std::vector<SheetReference> references = ReferencesOf(css);
  std::vector<std::string> results;
  results.reserve(references.size());
  bool changed = false;
  for (const SheetReference& reference : references) {
    results.push_back(EmbedOne(reference, sheet.location));
    changed |= !results.back().empty();
  }
  if (!changed) return;
  // From the last, so that the offsets before each edit stay valid.
  for (size_t k = references.size(); k-- > 0;) {
    if (results[k].empty()) continue;
    const SheetReference& reference = references[k];
    css.replace(reference.begin, reference.end - reference.begin,
                EscapeCssUrl(results[k], reference.quote));
  }
  // The user's own file is never changed: the archive takes a copy from the workspace.
  std::string copy =
      UniqueFilePath(target_.workspace.substr(0, target_.workspace.size() - 1), "css");
  if (copy.empty() || !FileSystem::Default().WriteFile(copy, css, WriteMode::kExclusive)) return;
  target_.registry.ReplaceFile(index, copy);
}

}  // namespace

void EmbedStyleSheetReferences(EmbedTarget& target, const EncodeOptions& options) {
  SheetEmbedder(target, options).Run();
}
