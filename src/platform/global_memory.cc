#include "platform/global_memory.h"

#include <mutex>

namespace {
std::mutex& LockCountMutex() {
  static std::mutex m;
  return m;
}
}  // namespace

uint8_t* GlobalBlock::Lock() {
  if (bytes_.empty()) return nullptr;
  std::lock_guard<std::mutex> guard(LockCountMutex());
  ++locks_;
  return bytes_.data();
}

bool GlobalBlock::Unlock() {
  std::lock_guard<std::mutex> guard(LockCountMutex());
  if (locks_ > 0) --locks_;
  return locks_ > 0;
}

int GlobalBlock::lock_count() const {
  std::lock_guard<std::mutex> guard(LockCountMutex());
  return locks_;
}

GlobalHandle MakeGlobalBlock(std::string_view bytes) {
  return std::make_shared<GlobalBlock>(bytes);
}

void FreeGlobalBlock(GlobalHandle* handle) { handle->reset(); }
