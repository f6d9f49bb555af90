#include <sys/mman.h>

#include <cstdint>

#include "platform/memory_advice.h"

namespace {

// The size of a transparent huge page on x86-64 and most other systems.
constexpr uintptr_t kLargePage = uintptr_t{2} << 20;

}  // namespace

void AdviseLargePages(void* begin, size_t size) {
  auto first = reinterpret_cast<uintptr_t>(begin);
  uintptr_t from = (first + kLargePage - 1) & ~(kLargePage - 1);
  uintptr_t to = (first + size) & ~(kLargePage - 1);
  if (to <= from) return;
  // Ignored where transparent huge pages are off; nothing to do about a refusal either way.
  ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
}
