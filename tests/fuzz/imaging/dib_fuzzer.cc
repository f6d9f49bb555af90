// A packed DIB straight from the clipboard: Attach must accept only blocks whose every row and
// every byte SaveAsBmp copies lie inside the block.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "imaging/dib_data.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  GlobalHandle block = MakeGlobalBlock(std::string_view(reinterpret_cast<const char*>(data), size));
  CDibData dib;
  if (!dib.Attach(block)) return 0;
  // Touch the first and last byte of each row; the sanitizer catches a row outside the block.
  volatile uint8_t sink = 0;
  uint64_t stride_bits =
      uint64_t{static_cast<uint32_t>(dib.depth())} *
      (data[4] | (data[5] << 8) | (data[6] << 16) | (static_cast<uint32_t>(data[7]) << 24));
  size_t row_bytes = static_cast<size_t>((stride_bits + 7) / 8);
  for (size_t i = 0; i < dib.row_count(); ++i) {
    sink = sink + dib.row(i)[0] + dib.row(i)[row_bytes - 1];
  }
  dib.SaveAsBmp("/dev/null");
  dib.Detach();
  return 0;
}
