#include "workspace/url_path.h"

#include <glib.h>

#include <vector>

#include "text/url_spelling.h"
#include "workspace/path_macros.h"

namespace {

bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// GLib owns the RFC 3986 resolution; a base it cannot parse leaves the reference as it is.
std::string ResolveAgainstUrl(const std::string& base, const std::string& reference) {
  gchar* resolved =
      g_uri_resolve_relative(base.c_str(), reference.c_str(), G_URI_FLAGS_NONE, nullptr);
  if (resolved == nullptr) return reference;
  std::string out(resolved);
  g_free(resolved);
  return out;
}

// path with its "." and ".." segments resolved as a file: URL's are: "/a/b/../c" is "/a/c"; a
// ".." above the root stays at the root.
std::string WithoutDotSegments(const std::string& path) {
  std::vector<std::string_view> kept;
  std::string_view rest(path);
  bool absolute = !rest.empty() && rest[0] == '/';
  bool ends_in_folder = false;
  while (!rest.empty()) {
    size_t slash = rest.find('/');
    std::string_view segment = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    ends_in_folder = segment == "." || segment == ".." || (segment.empty() && rest.empty());
    if (segment == "..") {
      if (!kept.empty() && kept.back() != "..") {
        kept.pop_back();
      } else if (!absolute) {
        kept.push_back(segment);
      }
    } else if (!segment.empty() && segment != ".") {
      kept.push_back(segment);
    }
  }
  std::string out = absolute ? "/" : "";
  for (size_t k = 0; k < kept.size(); ++k) {
    if (k > 0) out += '/';
    out += kept[k];
  }
  if (ends_in_folder && !kept.empty()) out += '/';
  return out;
}

}  // namespace

size_t UrlSchemeLength(std::string_view text) {
  if (text.empty() || !IsAsciiAlpha(text[0])) return 0;
  size_t k = 1;
  while (k < text.size() && (IsAsciiAlpha(text[k]) || IsAsciiDigit(text[k]) || text[k] == '+' ||
                             text[k] == '-' || text[k] == '.')) {
    ++k;
  }
  if (k >= text.size() || text[k] != ':' || k < 2) return 0;
  return k;
}

bool IsUrl(std::string_view text) { return UrlSchemeLength(text) > 0; }

bool IsRelativePath(std::string_view path) { return path.empty() || path[0] != '/'; }

std::string CombineUrl(std::string_view base, std::string_view reference) {
  if (reference.empty()) return {};
  if (base.empty() || IsUrl(reference)) return std::string(reference);
  if (IsUrl(base)) return ResolveAgainstUrl(std::string(base), std::string(reference));
  if (!IsRelativePath(reference)) return std::string(reference);
  return WithoutDotSegments(FolderPart(base) + std::string(reference));
}

std::string UnescapeUrl(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t k = 0; k < text.size(); ++k) {
    if (text[k] == '%' && k + 2 < text.size()) {
      int high = HexDigitValue(text[k + 1]);
      int low = HexDigitValue(text[k + 2]);
      if (high >= 0 && low >= 0 && (high | low) != 0) {
        out += static_cast<char>(high * 16 + low);
        k += 2;
        continue;
      }
    }
    out += text[k];
  }
  return out;
}
