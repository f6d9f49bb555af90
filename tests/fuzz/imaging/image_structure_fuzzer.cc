// The PNG and JPEG structure walk on arbitrary bytes: it must stay inside them, and a whole
// picture's header part must lie inside them too.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "imaging/image_structure.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so that the sanitizer sees any read past the end.
  std::unique_ptr<char[]> bytes(new char[size]);
  std::copy(data, data + size, bytes.get());
  size_t header_bytes = 0;
  if (WalkImageStructure(std::string_view(bytes.get(), size), &header_bytes) ==
          ImageStructure::kWhole &&
      (header_bytes == 0 || header_bytes > size)) {
    std::abort();
  }
  return 0;
}
