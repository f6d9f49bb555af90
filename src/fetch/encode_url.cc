#include "fetch/encode_url.h"

namespace {

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsCopied(char c) {
  if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
  switch (c) {
    case '@':
    case '.':
    case '/':
    case '\\':
    case '-':
    case '_':
    case ':':
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string EncodeUrl(std::string_view url) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(url.size() * 3);
  for (size_t i = 0; i < url.size(); ++i) {
    char c = url[i];
    bool is_escape =
        c == '%' && i + 2 < url.size() && IsHexDigit(url[i + 1]) && IsHexDigit(url[i + 2]);
    if (IsCopied(c) || is_escape) {
      out.push_back(c);
      continue;
    }
    auto byte = static_cast<unsigned char>(c);
    out.push_back('%');
    out.push_back(kHex[byte >> 4]);
    out.push_back(kHex[byte & 0x0F]);
  }
  return out;
}
