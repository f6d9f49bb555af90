#include "text/url_spelling.h"

namespace {

bool IsUnreserved(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

}  // namespace

std::string NormalizeUrlEscapes(std::string_view url) {
  static const char kUpperHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(url.size());
  for (size_t i = 0; i < url.size(); ++i) {
    int high = i + 2 < url.size() && url[i] == '%' ? HexDigitValue(url[i + 1]) : -1;
    int low = high >= 0 ? HexDigitValue(url[i + 2]) : -1;
    if (low < 0) {
      out += url[i];
      continue;
    }
    unsigned char byte = static_cast<unsigned char>(high * 16 + low);
    if (IsUnreserved(byte)) {
      out += static_cast<char>(byte);
    } else {
      out += '%';
      out += kUpperHex[high];
      out += kUpperHex[low];
    }
    i += 2;
  }
  return out;
}
