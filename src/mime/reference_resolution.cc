#include "mime/reference_resolution.h"

#include <algorithm>

#include "workspace/url_path.h"

namespace {

char LowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// url(x) is read as x; a drive letter written "c|" is "c:"; quotes are not part of a path.
std::string Unwrap(std::string_view raw) {
  std::string copy(raw);
  size_t url = AsciiLower(copy).find("url(");
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
  if (!StartsWithIgnoringCase(copy, "file:")) return;
  copy.erase(0, 5);
  size_t slashes = copy.find_first_not_of('/');
  if (slashes == std::string::npos) slashes = copy.size();
  if (slashes > 1) copy.erase(0, slashes - 1);
}

bool IsWebScheme(std::string_view url) {
  size_t length = UrlSchemeLength(url);
  std::string scheme = AsciiLower(url.substr(0, length));
  return scheme == "http" || scheme == "https" || scheme == "file";
}

std::string TrimLeft(const std::string& text) {
  size_t first = text.find_first_not_of(" \t\r\n\f");
  return first == std::string::npos ? std::string() : text.substr(first);
}

}  // namespace

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerChar(c);
  return out;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); ++k) {
    if (LowerChar(a[k]) != LowerChar(b[k])) return false;
  }
  return true;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

bool PrefixMatches(std::string_view prefix, std::string_view text) {
  return !prefix.empty() && StartsWithIgnoringCase(text, prefix);
}

ResolvedReference ResolveReference(std::string_view raw, std::string_view base, int file_scope) {
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
  if (copy.empty() || EqualsIgnoringCase(copy, base)) {
    out.is_url = noted_url;
    return out;
  }
  if (!IsUrl(copy)) {
    if (file_scope != static_cast<int>(FileScope::kUrlsOnly)) out.resolved = copy;
    return out;
  }
  if (file_scope == static_cast<int>(FileScope::kLocalAndWeb) && !IsWebScheme(copy)) return out;
  std::string trimmed = TrimLeft(copy);
  if (trimmed.size() > 5 && StartsWithIgnoringCase(trimmed, "data:")) return out;
  out.resolved = trimmed;
  out.is_url = true;
  return out;
}
