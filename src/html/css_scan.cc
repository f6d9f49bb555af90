#include "html/css_scan.h"

#include "text/ascii.h"

namespace {

bool IsCssSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || static_cast<unsigned char>(c) >= 0x80;
}

bool StartsWithNoCase(std::string_view text, size_t at, std::string_view word) {
  return at <= text.size() && StartsWithIgnoringAsciiCase(text.substr(at), word);
}

size_t SkipComment(std::string_view css, size_t i) {
  size_t close = css.find("*/", i + 2);
  return close == std::string_view::npos ? css.size() : close + 2;
}

// i at the opening quote; returns past the closing quote (or the end of the text).
size_t SkipString(std::string_view css, size_t i) {
  char quote = css[i++];
  while (i < css.size() && css[i] != quote) i += css[i] == '\\' ? 2 : 1;
  return i < css.size() ? i + 1 : css.size();
}

bool IsComment(std::string_view css, size_t i) {
  return css[i] == '/' && i + 1 < css.size() && css[i + 1] == '*';
}

size_t SkipBlanks(std::string_view css, size_t i, size_t end) {
  while (i < end && IsCssSpace(css[i])) ++i;
  return i;
}

size_t TrimRight(std::string_view css, size_t begin, size_t end) {
  while (end > begin && IsCssSpace(css[end - 1])) --end;
  return end;
}

// A url( at css[i], not part of a longer name. Fills url and returns true when it is closed.
bool ReadUrlFunction(std::string_view css, size_t i, size_t end, CssUrl* url) {
  if (!StartsWithNoCase(css, i, "url(") || (i > 0 && IsNameChar(css[i - 1]))) return false;
  size_t pos = SkipBlanks(css, i + 4, end);
  size_t value_begin = pos;
  size_t value_end;
  if (pos < end && (css[pos] == '"' || css[pos] == '\'')) {
    size_t after = SkipString(css, pos);
    value_begin = pos + 1;
    value_end = after > value_begin && css[after - 1] == css[pos] ? after - 1 : after;
    pos = SkipBlanks(css, after, end);
  } else {
    while (pos < end && css[pos] != ')') pos += css[pos] == '\\' ? 2 : 1;
    pos = pos < end ? pos : end;
    value_end = TrimRight(css, value_begin, pos);
  }
  if (pos >= end || css[pos] != ')') return false;
  url->begin = i;
  url->end = pos + 1;
  url->value_begin = value_begin;
  url->value_end = value_end;
  url->is_function = true;
  url->value.assign(css.substr(value_begin, value_end - value_begin));
  return true;
}

void ReadDeclaration(std::string_view css, size_t begin, size_t end, size_t next,
                     std::vector<CssDeclaration>* out) {
  size_t colon = begin;
  while (colon < end && css[colon] != ':')
    colon = IsComment(css, colon) ? SkipComment(css, colon) : colon + 1;
  if (colon >= end) return;
  CssDeclaration d;
  size_t name_begin = SkipBlanks(css, begin, colon);
  while (name_begin < colon && IsComment(css, name_begin)) {
    name_begin = SkipBlanks(css, SkipComment(css, name_begin), colon);
  }
  for (size_t k = name_begin; k < TrimRight(css, name_begin, colon); ++k)
    d.name.push_back(AsciiLower(css[k]));
  if (d.name.empty()) return;
  d.begin = name_begin;
  d.end = next;
  d.value_begin = SkipBlanks(css, colon + 1, end);
  d.value_end = TrimRight(css, d.value_begin, end);
  size_t bang = css.substr(0, d.value_end).rfind('!');
  if (bang != std::string_view::npos && bang >= d.value_begin) {
    size_t word = SkipBlanks(css, bang + 1, d.value_end);
    if (StartsWithNoCase(css, word, "important") && word + 9 == d.value_end) {
      d.important = true;
      d.value_end = TrimRight(css, d.value_begin, bang);
    }
  }
  out->push_back(std::move(d));
}

// Returns past the unit starting at css[i]: a comment, a string, a bracketed block, or one byte.
size_t SkipUnit(std::string_view css, size_t i) {
  char c = css[i];
  if (IsComment(css, i)) return SkipComment(css, i);
  if (c == '"' || c == '\'') return SkipString(css, i);
  if (c == '\\') return i + 2 < css.size() ? i + 2 : css.size();
  if (c != '(' && c != '{' && c != '[') return i + 1;
  int depth = 0;
  while (i < css.size()) {
    char d = css[i];
    if (d == '(' || d == '{' || d == '[') {
      ++depth;
      ++i;
    } else if (d == ')' || d == '}' || d == ']') {
      ++i;
      if (--depth == 0) return i;
    } else {
      i = SkipUnit(css, i);  // never a bracket here, so this goes one level deep at most
    }
  }
  return css.size();
}

void ReadImport(std::string_view css, size_t at, std::vector<CssImport>* out, size_t* resume) {
  size_t i = at + 7;
  CssImport rule;
  rule.begin = at;
  bool have_url = false;
  while (i < css.size() && css[i] != ';') {
    if (!have_url && ReadUrlFunction(css, i, css.size(), &rule.url)) {
      have_url = true;
      i = rule.url.end;
      continue;
    }
    size_t next = SkipUnit(css, i);
    if (!have_url && (css[i] == '"' || css[i] == '\'')) {
      have_url = true;
      rule.url = CssUrl{
          i, next, i + 1, next > i + 1 && css[next - 1] == css[i] ? next - 1 : next, false, {}};
      rule.url.value.assign(
          css.substr(rule.url.value_begin, rule.url.value_end - rule.url.value_begin));
    }
    i = next;
  }
  rule.terminated = i < css.size();
  rule.end = rule.terminated ? i + 1 : css.size();
  size_t text_begin = SkipBlanks(css, at + 7, i);
  rule.prelude.assign(css.substr(text_begin, TrimRight(css, text_begin, i) - text_begin));
  if (have_url) out->push_back(std::move(rule));
  *resume = rule.end;
}

}  // namespace

std::vector<CssDeclaration> ParseCssDeclarations(std::string_view css) {
  std::vector<CssDeclaration> out;
  size_t begin = 0;
  size_t i = 0;
  while (i <= css.size()) {
    if (i == css.size() || css[i] == ';') {
      ReadDeclaration(css, begin, i, i < css.size() ? i + 1 : i, &out);
      begin = ++i;
      continue;
    }
    i = SkipUnit(css, i);
  }
  return out;
}

bool FindCssUrl(std::string_view css, size_t begin, size_t end, CssUrl* url) {
  end = end < css.size() ? end : css.size();
  for (size_t i = begin; i < end;) {
    if (ReadUrlFunction(css, i, end, url)) return true;
    char c = css[i];
    i = (IsComment(css, i) || c == '"' || c == '\'' || c == '\\') ? SkipUnit(css, i) : i + 1;
  }
  return false;
}

std::vector<CssImport> FindCssImports(std::string_view css) {
  std::vector<CssImport> out;
  size_t i = 0;
  while (i < css.size()) {
    if (css[i] == '@' && StartsWithNoCase(css, i + 1, "import") &&
        (i + 7 >= css.size() || !IsNameChar(css[i + 7]))) {
      ReadImport(css, i, &out, &i);
      continue;
    }
    i = SkipUnit(css, i);
  }
  return out;
}

std::string EscapeCssUrl(std::string_view url, char quote) {
  std::string out;
  out.reserve(url.size());
  for (char c : url) {
    bool special = c == '\\' ||
                   (quote != 0 ? c == quote
                               : (c == ')' || c == '(' || c == '"' || c == '\'' || IsCssSpace(c)));
    if (c == '\n' || c == '\r' || c == '\f') {
      out += "\\a ";
      continue;
    }
    if (special) out.push_back('\\');
    out.push_back(c);
  }
  return out;
}
