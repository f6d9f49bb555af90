#ifndef ORVO_HTML_NAME_SET_H_
#define ORVO_HTML_NAME_SET_H_

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// A fixed set of element names asked about for every tag of a page. Most tags ("p", "div",
// "span") have a length no name of the set has, and are turned away by one bit test before any
// name is compared. Names of the set are shorter than 64 bytes.
template <size_t N>
class NameSet {
 public:
  constexpr explicit NameSet(const std::array<std::string_view, N>& names) : names_(names) {
    for (std::string_view name : names) lengths_ |= uint64_t{1} << name.size();
  }

  bool Has(std::string_view name) const {
    if (name.size() >= 64 || (lengths_ >> name.size() & 1) == 0) return false;
    return std::find(names_.begin(), names_.end(), name) != names_.end();
  }

 private:
  std::array<std::string_view, N> names_;
  uint64_t lengths_ = 0;
};

#endif  // ORVO_HTML_NAME_SET_H_
