// Signature sniffing, the decoder allow-list, the metafile header reader and the deflate block
// reader on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "imaging/deflate_end.h"
#include "imaging/image_decoder.h"
#include "imaging/image_utils.h"
#include "imaging/metafile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  SniffImageFormat(data, size);
  DetectDecodableFormat(bytes);
  DeflateEnd end;
  if (FindDeflateEnd(bytes, &end) && end.final_block_bit >= size * 8) __builtin_trap();
  EmfHeader header;
  if (ParseEmfHeader(bytes, &header)) {
    // Bounds are read as they are; the sizes derived from them must not overflow.
    volatile int64_t width = int64_t{header.bounds.right} - header.bounds.left + 1;
    (void)width;
  }
  return 0;
}
