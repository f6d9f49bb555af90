#include "html/nesting_guard.h"

#include <algorithm>
#include <array>
#include <string>

#include "html/name_set.h"
#include "text/ascii.h"

namespace {

bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsTagSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool IsVoid(std::string_view name) {
  static constexpr NameSet<21> kVoid(std::array<std::string_view, 21>{
      "area",  "base", "basefont", "bgsound", "br",    "col",     "embed",
      "frame", "hr",   "image",    "img",     "input", "isindex", "keygen",
      "link",  "meta", "param",    "source",  "track", "wbr",     "menuitem"});
  return kVoid.Has(name);
}

bool IsRawText(std::string_view name) {
  static constexpr NameSet<9> kRaw(std::array<std::string_view, 9>{
      "script", "style", "textarea", "title", "xmp", "iframe", "noembed", "noframes", "noscript"});
  return kRaw.Has(name);
}

// Elements whose start tag closes an open one of the same group (a new <li> ends the last <li>).
int AutoCloseGroup(std::string_view name) {
  if (name == "p") return 1;
  if (name == "li") return 2;
  if (name == "dd" || name == "dt") return 3;
  if (name == "option" || name == "optgroup") return 4;
  if (name == "tr") return 5;
  if (name == "td" || name == "th") return 6;
  if (name == "tbody" || name == "thead" || name == "tfoot") return 7;
  if (name == "rb" || name == "rp" || name == "rt" || name == "rtc") return 8;
  if (name == "caption" || name == "colgroup") return 9;
  return 0;
}

class Scanner {
 public:
  Scanner(std::string_view html, size_t max_depth) : html_(html), depth_(max_depth) {}

  std::vector<size_t> Run() {
    size_t i = 0;
    while (i < html_.size()) {
      size_t lt = html_.find('<', i);
      if (lt == std::string_view::npos) break;
      i = Markup(lt);
    }
    return std::move(over_deep_);
  }

 private:
  // Handles the markup at html_[lt] == '<' and returns where scanning goes on.
  size_t Markup(size_t lt) {
    std::string_view rest = html_.substr(lt);
    if (rest.substr(0, 4) == "<!--") return After(html_.find("-->", lt + 4), 3);
    if (rest.size() < 2) return html_.size();
    if (rest[1] == '!' || rest[1] == '?') return After(html_.find('>', lt + 1), 1);
    if (rest[1] == '/' && rest.size() > 2 && IsAsciiAlpha(rest[2])) return EndTag(lt + 2);
    if (IsAsciiAlpha(rest[1])) return StartTag(lt);
    return lt + 1;
  }

  size_t After(size_t pos, size_t length) const {
    return pos == std::string_view::npos ? html_.size() : pos + length;
  }

  size_t ReadName(size_t pos, std::string& name) const {
    name.clear();
    while (pos < html_.size() && !IsTagSpace(html_[pos]) && html_[pos] != '/' && html_[pos] != '>')
      name.push_back(AsciiLower(html_[pos++]));
    return pos;
  }

  size_t EndTag(size_t name_pos) {
    size_t pos = ReadName(name_pos, name_);
    depth_.Close(name_);
    return After(html_.find('>', pos), 1);
  }

  size_t StartTag(size_t lt) {
    size_t pos = NestingGuardTagEnd(html_, ReadName(lt + 1, name_));
    if (name_ == "plaintext") return html_.size();
    if (!depth_.Open(name_)) over_deep_.push_back(lt);
    if (IsRawText(name_)) return SkipRawText(pos);
    return pos;
  }

  // Raw text runs to the first "</name" in any letter case.
  size_t SkipRawText(size_t pos) const {
    while (pos < html_.size()) {
      size_t lt = html_.find("</", pos);
      if (lt == std::string_view::npos) return html_.size();
      size_t k = 0;
      while (k < name_.size() && lt + 2 + k < html_.size() &&
             AsciiLower(html_[lt + 2 + k]) == name_[k])
        ++k;
      if (k == name_.size()) return lt;
      pos = lt + 2;
    }
    return pos;
  }

  std::string_view html_;
  NestingDepth depth_;
  std::string name_;
  std::vector<size_t> over_deep_;
};

}  // namespace

size_t NestingGuardTagEnd(std::string_view html, size_t pos) {
  auto after = [&](size_t found) {
    return found == std::string_view::npos ? html.size() : found + 1;
  };
  while (pos < html.size()) {
    char c = html[pos];
    if (c == '>') return pos + 1;
    ++pos;
    if (c != '=') continue;
    while (pos < html.size() && IsTagSpace(html[pos])) ++pos;
    if (pos < html.size() && (html[pos] == '"' || html[pos] == '\'')) {
      pos = after(html.find(html[pos], pos + 1));
    }
  }
  return pos;
}

bool NestingDepth::Open(std::string_view name) {
  if (IsRawText(name) || IsVoid(name) || name == "html" || name == "head" || name == "body") {
    return true;
  }
  // A start tag closes an open element of its group (a new <li> ends the last <li>).
  int group = AutoCloseGroup(name);
  if (group != 0) {
    for (size_t k = open_.size(); k-- > 0;) {
      if (AutoCloseGroup(open_[k]) == group) {
        open_.resize(k);
        break;
      }
    }
  }
  if (open_.size() >= max_depth_) return false;
  open_.emplace_back(name);
  return true;
}

void NestingDepth::Close(std::string_view name) {
  for (size_t k = open_.size(); k-- > 0;) {
    if (open_[k] == name) {
      open_.resize(k);
      return;
    }
  }
}

std::vector<size_t> FindOverDeepStartTags(std::string_view html, size_t max_depth) {
  return Scanner(html, max_depth).Run();
}
