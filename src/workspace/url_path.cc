#include "workspace/url_path.h"

#include <glib.h>

#include "workspace/path_macros.h"

namespace {

bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (IsAsciiDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// GLib owns the RFC 3986 resolution; a base it cannot parse leaves the reference as it is.
std::string ResolveAgainstUrl(const std::string& base, const std::string& reference) {
  gchar* resolved =
      g_uri_resolve_relative(base.c_str(), reference.c_str(), G_URI_FLAGS_NONE, nullptr);
  if (resolved == nullptr) return reference;
  std::string out(resolved);
  g_free(resolved);
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
  return FolderPart(base) + std::string(reference);
}

std::string UnescapeUrl(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t k = 0; k < text.size(); ++k) {
    if (text[k] == '%' && k + 2 < text.size()) {
      int high = HexValue(text[k + 1]);
      int low = HexValue(text[k + 2]);
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
