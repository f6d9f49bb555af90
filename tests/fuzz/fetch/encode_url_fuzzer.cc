// EncodeUrl on arbitrary bytes: the result is at most three times as long, holds only bytes a
// request line can carry, encodes nothing twice, and decodes back to what the input meant.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fetch/download_url.h"
#include "fetch/encode_url.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes valid escapes and leaves every other byte, a lone '%' included.
std::string Decode(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

bool IsRequestLineByte(char c) { return c > 0x20 && c < 0x7F; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string once = EncodeUrl(input);
  if (once.size() > input.size() * 3) abort();
  for (char c : once) {
    if (!IsRequestLineByte(c)) abort();
  }
  if (EncodeUrl(once) != once) abort();
  if (Decode(once) != Decode(input)) abort();
  // The whole request path: no fragment ever reaches the library.
  std::string request = RequestUrl(input);
  if (request.find('#') != std::string::npos) abort();
  return 0;
}
