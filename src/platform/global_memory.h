#ifndef ORVO_PLATFORM_GLOBAL_MEMORY_H_
#define ORVO_PLATFORM_GLOBAL_MEMORY_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

// A lockable memory block, the form in which clipboard data (a packed DIB, a TIFF, a file list)
// is handed around, as the platform's movable global memory is.
//
// The block's size is fixed when it is made. Lock() gives the address of its bytes and counts
// the lock; Unlock() takes one lock back. A block is shared through GlobalHandle: whoever holds
// a handle keeps the block alive, and freeing a handle gives up only that holder's share.
// Locking and unlocking are thread-safe; writing the bytes is the lock holders' business.
class GlobalBlock {
 public:
  explicit GlobalBlock(size_t size) : bytes_(size) {}
  explicit GlobalBlock(std::string_view bytes) : bytes_(bytes.begin(), bytes.end()) {}
  GlobalBlock(const GlobalBlock&) = delete;
  GlobalBlock& operator=(const GlobalBlock&) = delete;

  // The block's size in bytes.
  size_t Size() const { return bytes_.size(); }

  // The first byte, with the lock count raised; null (and no lock) for an empty block.
  uint8_t* Lock();

  // Lowers the lock count. True while the block is still locked afterwards; false once it is
  // unlocked (and for a block that was not locked at all).
  bool Unlock();

  int lock_count() const;

 private:
  std::vector<uint8_t> bytes_;
  int locks_ = 0;
};

using GlobalHandle = std::shared_ptr<GlobalBlock>;

// A new block holding a copy of `bytes`.
GlobalHandle MakeGlobalBlock(std::string_view bytes);

// Gives up this holder's share of the block and clears *handle.
void FreeGlobalBlock(GlobalHandle* handle);

#endif  // ORVO_PLATFORM_GLOBAL_MEMORY_H_
