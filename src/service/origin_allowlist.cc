#include "service/origin_allowlist.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "text/ascii.h"

namespace {

std::string_view Trim(std::string_view text) {
  const char* kBlanks = " \t\r\n";
  size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

bool EndsWith(const std::string& text, std::string_view tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Browsers serialise an origin in lower case, without a path and without the scheme's default
// port; a hand-written list may not.
std::string Normalise(std::string_view origin) {
  std::string text = AsciiLowered(Trim(origin));
  if (!text.empty() && text.back() == '/') text.pop_back();
  if (text.rfind("https://", 0) == 0 && EndsWith(text, ":443")) text.resize(text.size() - 4);
  if (text.rfind("http://", 0) == 0 && EndsWith(text, ":80")) text.resize(text.size() - 3);
  return text;
}

}  // namespace

OriginAllowlist OriginAllowlist::FromText(std::string_view text) {
  OriginAllowlist list;
  list.restricted_ = true;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == '#') continue;
    list.origins_.push_back(Normalise(line));
  }
  return list;
}

OriginAllowlist OriginAllowlist::Load(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::exists(path, error) && !error) return OriginAllowlist();
  // Present but unreadable (permissions, a folder of that name): allow nothing.
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  return FromText(text.str());
}

bool OriginAllowlist::Allows(bool has_origin, std::string_view origin,
                             std::string_view fetch_site) const {
  if (!restricted_) return true;
  if (!has_origin) return !EqualsIgnoringAsciiCase(fetch_site, "cross-site");
  std::string wanted = Normalise(origin);
  if (wanted.empty()) return false;
  return std::find(origins_.begin(), origins_.end(), wanted) != origins_.end();
}
