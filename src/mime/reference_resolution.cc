#include "mime/reference_resolution.h"

#include <algorithm>

#include "text/ascii.h"
#include "workspace/url_path.h"

namespace {

// url(x) is read as x; a drive letter written "c|" is "c:"; quotes are not part of a path.
std::string Unwrap(std::string_view raw) {
  std::string copy(raw);
  size_t url = AsciiLowered(copy).find("url(");
  if (url != std::string::npos) {
    copy.erase(0, url + 4);
    if (!copy.empty() && copy.back() == ')') copy.pop_back();
  }
  for (char& c : copy) {
    if (c == '|') c = ':';
  }
  copy.erase(std::remove(copy.begin(), copy.end(), '"'), copy.end());
  return copy;
}

// A leading "file:" and the slashes after it go; one '/' stays, so that an absolute path stays
// absolute. Only a leading one: "http://h/get?f=file:a.png" is a web URL, not the path "a.png".
void DropFileScheme(std::string& copy) {
  if (!StartsWithIgnoringAsciiCase(copy, "file:")) return;
  copy.erase(0, 5);
  size_t slashes = copy.find_first_not_of('/');
  if (slashes == std::string::npos) slashes = copy.size();
  if (slashes > 1) copy.erase(0, slashes - 1);
}

bool IsWebScheme(std::string_view url) {
  size_t length = UrlSchemeLength(url);
  std::string scheme = AsciiLowered(url.substr(0, length));
  return scheme == "http" || scheme == "https" || scheme == "file";
}

std::string TrimLeft(const std::string& text) {
  size_t first = text.find_first_not_of(" \t\r\n\f");
  return first == std::string::npos ? std::string() : text.substr(first);
}

}  // namespace

bool PrefixMatches(std::string_view prefix, std::string_view text) {
  return !prefix.empty() && StartsWithIgnoringAsciiCase(text, prefix);
}

ResolvedReference ResolveReference(std::string_view raw, std::string_view base,
                                   FileScope file_scope) {
  ResolvedReference out;
  out.raw.assign(raw);
  if (raw.empty()) return out;
  std::string copy = Unwrap(raw);
  bool noted_url = IsUrl(copy);
  if (IsRelativePath(copy) && !noted_url) {
    out.is_relative = true;
    copy = CombineUrl(base, copy);
  }
  DropFileScheme(copy);
  if (copy.empty() || EqualsIgnoringAsciiCase(copy, base)) {
    out.is_url = noted_url;
    return out;
  }
  if (!IsUrl(copy)) {
    if (file_scope != FileScope::kUrlsOnly) out.resolved = copy;
    return out;
  }
  if (file_scope == FileScope::kLocalAndWeb && !IsWebScheme(copy)) return out;
  std::string trimmed = TrimLeft(copy);
  if (trimmed.size() > 5 && StartsWithIgnoringAsciiCase(trimmed, "data:")) return out;
  out.resolved = trimmed;
  out.is_url = true;
  return out;
}
