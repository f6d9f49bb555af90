#include "html/start_tag_scan.h"

#include "text/ascii.h"

namespace {

bool IsTagSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

size_t SkipSpaces(std::string_view tag, size_t i) {
  while (i < tag.size() && IsTagSpace(tag[i])) ++i;
  return i;
}

// i at the first byte after '='-and-blanks; returns past the value.
size_t SkipValue(std::string_view tag, size_t i) {
  if (i < tag.size() && (tag[i] == '"' || tag[i] == '\'')) {
    size_t close = tag.find(tag[i], i + 1);
    return close == std::string_view::npos ? tag.size() : close + 1;
  }
  while (i < tag.size() && !IsTagSpace(tag[i]) && tag[i] != '>') ++i;
  return i;
}

}  // namespace

size_t StartTagNameLength(std::string_view tag) {
  size_t i = 1;
  while (i < tag.size() && !IsTagSpace(tag[i]) && tag[i] != '/' && tag[i] != '>') ++i;
  return i - 1;
}

std::vector<ScannedAttribute> ScanStartTagAttributes(std::string_view tag) {
  std::vector<ScannedAttribute> out;
  size_t i = 1 + StartTagNameLength(tag);
  while (i < tag.size()) {
    while (i < tag.size() && (IsTagSpace(tag[i]) || tag[i] == '/')) ++i;
    if (i >= tag.size() || tag[i] == '>') break;
    ScannedAttribute a;
    a.begin = i;
    // A name may begin with '=' ("<a =x>"); after that '=' ends it.
    do {
      a.name.push_back(AsciiLower(tag[i++]));
    } while (i < tag.size() && !IsTagSpace(tag[i]) && tag[i] != '/' && tag[i] != '>' &&
             tag[i] != '=');
    a.end = i;
    size_t after = SkipSpaces(tag, i);
    if (after < tag.size() && tag[after] == '=') {
      a.end = SkipValue(tag, SkipSpaces(tag, after + 1));
    }
    i = a.end;
    out.push_back(std::move(a));
  }
  return out;
}
