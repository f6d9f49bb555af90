#include "service/origin_allowlist.h"

#include <algorithm>

#include "platform/file_system.h"
#include "text/ascii.h"

namespace {

// A hand-written list is a few lines; a larger file is not one.
constexpr uint64_t kLargestList = 1 << 20;

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

}  // namespace

std::string NormaliseOrigin(std::string_view origin) {
  std::string text = AsciiLowered(Trim(origin));
  if (!text.empty() && text.back() == '/') text.pop_back();
  if (text.rfind("https://", 0) == 0 && EndsWith(text, ":443")) text.resize(text.size() - 4);
  if (text.rfind("http://", 0) == 0 && EndsWith(text, ":80")) text.resize(text.size() - 3);
  return text;
}

bool IsCrossSiteFetch(std::string_view fetch_site) {
  return EqualsIgnoringAsciiCase(Trim(fetch_site), "cross-site");
}

OriginAllowlist OriginAllowlist::FromText(std::string_view text) {
  OriginAllowlist list;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == '#') continue;
    if (line == "*") list.every_origin_ = true;
    list.origins_.push_back(NormaliseOrigin(line));
  }
  return list;
}

std::optional<OriginAllowlist> OriginAllowlist::Load(const std::string& path) {
  FileSystem& files = FileSystem::Default();
  if (!files.Status(path, FollowLinks::kYes).Exists()) return std::nullopt;
  std::string text;
  // Present but unreadable (permissions, a folder of that name): allow nothing.
  if (!files.ReadWholeFile(path, text, kLargestList)) return OriginAllowlist();
  return FromText(text);
}

bool OriginAllowlist::Allows(bool has_origin, std::string_view origin,
                             std::string_view fetch_site) const {
  if (every_origin_) return true;
  if (!has_origin) return !IsCrossSiteFetch(fetch_site);
  return Names(NormaliseOrigin(origin));
}

bool OriginAllowlist::Names(const std::string& normalised_origin) const {
  if (every_origin_) return true;
  if (normalised_origin.empty()) return false;
  return std::find(origins_.begin(), origins_.end(), normalised_origin) != origins_.end();
}
