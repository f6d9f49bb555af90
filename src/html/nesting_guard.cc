#include "html/nesting_guard.h"

#include <algorithm>
#include <array>
#include <string>

#include "text/ascii.h"

namespace {

bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsTagSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

template <size_t N>
bool IsOneOf(std::string_view name, const std::array<std::string_view, N>& names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

bool IsVoid(std::string_view name) {
  static constexpr std::array<std::string_view, 21> kVoid = {
      "area",  "base", "basefont", "bgsound", "br",    "col",     "embed",
      "frame", "hr",   "image",    "img",     "input", "isindex", "keygen",
      "link",  "meta", "param",    "source",  "track", "wbr",     "menuitem"};
  return IsOneOf(name, kVoid);
}

bool IsRawText(std::string_view name) {
  static constexpr std::array<std::string_view, 9> kRaw = {
      "script", "style", "textarea", "title", "xmp", "iframe", "noembed", "noframes", "noscript"};
  return IsOneOf(name, kRaw);
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
  Scanner(std::string_view html, size_t max_depth) : html_(html), max_depth_(max_depth) {}

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

  // Skips attributes up to and past the closing '>', honouring quoted values.
  size_t SkipAttributes(size_t pos) const {
    while (pos < html_.size()) {
      char c = html_[pos];
      if (c == '>') return pos + 1;
      if (c == '=') {
        ++pos;
        while (pos < html_.size() && IsTagSpace(html_[pos])) ++pos;
        if (pos < html_.size() && (html_[pos] == '"' || html_[pos] == '\'')) {
          pos = After(html_.find(html_[pos], pos + 1), 1);
          continue;
        }
        continue;
      }
      ++pos;
    }
    return pos;
  }

  size_t EndTag(size_t name_pos) {
    size_t pos = ReadName(name_pos, name_);
    for (size_t k = open_.size(); k-- > 0;) {
      if (open_[k] == name_) {
        open_.resize(k);
        break;
      }
    }
    return After(html_.find('>', pos), 1);
  }

  size_t StartTag(size_t lt) {
    size_t pos = SkipAttributes(ReadName(lt + 1, name_));
    if (name_ == "plaintext") return html_.size();
    if (IsRawText(name_)) return SkipRawText(pos);
    if (IsVoid(name_) || name_ == "html" || name_ == "head" || name_ == "body") return pos;
    CloseSameGroup();
    if (open_.size() >= max_depth_) {
      over_deep_.push_back(lt);
    } else {
      open_.push_back(name_);
    }
    return pos;
  }

  void CloseSameGroup() {
    int group = AutoCloseGroup(name_);
    if (group == 0) return;
    for (size_t k = open_.size(); k-- > 0;) {
      if (AutoCloseGroup(open_[k]) == group) {
        open_.resize(k);
        return;
      }
    }
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
  size_t max_depth_;
  std::string name_;
  std::vector<std::string> open_;
  std::vector<size_t> over_deep_;
};

}  // namespace

std::vector<size_t> FindOverDeepStartTags(std::string_view html, size_t max_depth) {
  return Scanner(html, max_depth).Run();
}
