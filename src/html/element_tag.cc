#include "html/element_tag.h"

#include <array>
#include <utility>

TagId TagIdFromName(std::string_view lower_name) {
  static constexpr std::array<std::pair<std::string_view, TagId>, 18> kTable = {{
      {"a", TagId::kA},
      {"applet", TagId::kApplet},
      {"bgsound", TagId::kBgsound},
      {"body", TagId::kBody},
      {"div", TagId::kDiv},
      {"embed", TagId::kEmbed},
      {"head", TagId::kHead},
      {"html", TagId::kHtml},
      {"img", TagId::kImg},
      {"input", TagId::kInput},
      {"li", TagId::kLi},
      {"link", TagId::kLink},
      {"meta", TagId::kMeta},
      {"script", TagId::kScript},
      {"style", TagId::kStyle},
      {"table", TagId::kTable},
      {"td", TagId::kTd},
      {"th", TagId::kTh},
  }};
  if (lower_name.find(':') != std::string_view::npos) return TagId::kGeneric;
  for (const auto& [name, id] : kTable) {
    if (name == lower_name) return id;
  }
  return TagId::kOther;
}
