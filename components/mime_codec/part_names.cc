#include "part_names.h"

#include <glib.h>

#include <algorithm>
#include <cstring>

#include "text/path_names.h"

namespace mimecodec {
namespace {

std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = g_ascii_tolower(c);
  return lower;
}

// The text after the last '/' or '\': archives written on Windows name their parts by paths
// such as "file:///C:\Users\k\Doc.files\image001.png".
std::string LastSegment(std::string_view text) {
  return FileNamePart(text, PathSeparators::kSlashOrBackslash);
}

std::string PercentDecoded(std::string_view text) {
  std::string owned(text);
  char* decoded = g_uri_unescape_string(owned.c_str(), nullptr);
  if (decoded == nullptr) return owned;  // a broken escape: keep the text as written
  std::string result(decoded);
  g_free(decoded);
  return result;
}

std::string NameFromLocation(std::string_view location) {
  // A "cid:" location (browsers give frames and inline sheets one) names no file: the part's
  // Content-ID and media type make a better name ("frame-1@mhtml.blink.htm").
  if (location.size() >= 4 && g_ascii_strncasecmp(location.data(), "cid:", 4) == 0) return {};
  location = location.substr(0, location.find_first_of("?#"));
  return SafeLeafName(PercentDecoded(LastSegment(location)));
}

bool EndsWithNoCase(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         g_ascii_strcasecmp(text.c_str() + text.size() - suffix.size(), suffix.c_str()) == 0;
}

bool HasExtension(const std::string& name) {
  size_t dot = name.rfind('.');
  return dot != std::string::npos && dot > 0 && dot + 1 < name.size();
}

// The longest prefix of text of at most limit bytes that ends on a character boundary.
std::string_view CutUtf8(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

std::string Compose(std::string_view stem, unsigned suffix, std::string_view extension) {
  std::string tail = suffix == 0 ? std::string() : "_" + std::to_string(suffix);
  tail += extension;
  std::string name(CutUtf8(stem, kMaxNameBytes - std::min(tail.size(), kMaxNameBytes)));
  return name + tail;
}

}  // namespace

std::string SafeLeafName(std::string_view raw) {
  std::string name;
  name.reserve(raw.size());
  const char* cursor = raw.data();
  const char* end = raw.data() + raw.size();
  while (cursor < end) {
    const char* valid_end = nullptr;
    g_utf8_validate(cursor, end - cursor, &valid_end);
    for (; cursor < valid_end; ++cursor) {
      unsigned char c = static_cast<unsigned char>(*cursor);
      bool bad = c < 0x20 || c == 0x7F || std::strchr("/\\:*?\"<>|", c) != nullptr;
      name += bad ? '_' : static_cast<char>(c);
    }
    if (cursor < end) {  // a byte that starts no valid character (NUL included)
      name += '_';
      ++cursor;
    }
  }
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
  if (name == "." || name == "..") name.clear();
  return name;
}

std::string ExtensionOfMediaType(std::string_view media_type) {
  static const struct {
    const char* type;
    const char* extension;
  } kExtensions[] = {
      {"image/png", ".png"},
      {"image/jpeg", ".jpg"},
      {"image/pjpeg", ".jpg"},
      {"image/gif", ".gif"},
      {"image/bmp", ".bmp"},
      {"image/webp", ".webp"},
      {"image/svg+xml", ".svg"},
      {"image/tiff", ".tif"},
      {"image/x-icon", ".ico"},
      {"image/x-emf", ".emf"},
      {"image/x-wmf", ".wmf"},
      {"text/css", ".css"},
      {"text/html", ".htm"},
      {"text/plain", ".txt"},
      {"text/xml", ".xml"},
      {"application/xml", ".xml"},
      {"text/javascript", ".js"},
      {"application/javascript", ".js"},
      {"application/x-font-woff", ".woff"},
      {"font/woff", ".woff"},
      {"font/woff2", ".woff2"},
  };
  for (const auto& entry : kExtensions) {
    if (media_type == entry.type) return entry.extension;
  }
  return ".bin";
}

std::string DesiredPartName(const PartNaming& naming) {
  std::string name = NameFromLocation(naming.location);
  if (name.empty()) name = SafeLeafName(LastSegment(naming.file_name));
  if (name.empty()) {
    // A Content-ID's dots are those of a domain ("img1@example.com"), not an extension.
    name = SafeLeafName(naming.content_id);
    std::string extension = ExtensionOfMediaType(naming.media_type);
    if (!name.empty() && !EndsWithNoCase(name, extension)) name += extension;
  }
  if (name.empty()) name = "part";
  if (!HasExtension(name)) name += ExtensionOfMediaType(naming.media_type);
  return name;
}

NameRegistry::NameRegistry() { taken_.insert(kPageFileName); }

std::string NameRegistry::Claim(const std::string& name) {
  size_t dot = name.rfind('.');
  // An "extension" longer than a few characters is part of the stem, so that cutting to
  // length never has to eat into it.
  if (dot == std::string::npos || dot == 0 || name.size() - dot > 16) dot = name.size();
  std::string_view stem(name.data(), dot);
  std::string_view extension(name.data() + dot, name.size() - dot);
  std::string base_key = AsciiLower(name);
  unsigned& suffix = next_suffix_[base_key];
  for (;; ++suffix) {
    std::string candidate = Compose(stem, suffix, extension);
    if (taken_.insert(AsciiLower(candidate)).second) {
      ++suffix;
      return candidate;
    }
  }
}

}  // namespace mimecodec
