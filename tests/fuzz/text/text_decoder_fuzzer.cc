// Feeds arbitrary bytes to the text decoder: byte-order marks, the UTF-8 test, the meta
// charset scan and the code-page conversions. The starting code page comes from the first
// byte, so single- and double-byte hosts are both covered.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "text/text_conversion.h"
#include "text/text_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kCodePages[] = {"1252", "949", "932", "936", "950"};
  if (size == 0) return 0;
  setenv("ORVO_ANSI_CODEPAGE", kCodePages[data[0] % 5], 1);
  std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string text;
  if (DecodeTextBytes(bytes, text) && !IsValidUtf8(text)) abort();
  int code_page = -1;
  SniffHtmlCharset(bytes, code_page);
  LooksLikeUtf8(bytes);
  return 0;
}
