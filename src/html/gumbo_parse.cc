#include "html/gumbo_parse.h"

#include <gumbo.h>

#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <mutex>

namespace {

constexpr size_t kBlockSize = size_t{1} << 20;
constexpr size_t kLargePiece = kBlockSize / 4;  // larger pieces get a block of their own
constexpr size_t kHeader = 8;                   // a piece's class, just before it
constexpr size_t kAlignment = 8;                // the parser keeps pointers and sizes only
constexpr size_t kExactLimit = 2048;            // up to here classes are 8 bytes apart
constexpr uint32_t kOwnBlock = 0xFFFFFFFF;
// Blocks kept between parses: the first 16 MiB of a parse come from memory already touched,
// without the kernel clearing fresh pages for them. More kept no time on a 3 MB page and held
// 36 MB more in an idle service.
constexpr size_t kPooledBlocks = 16;

struct PieceHeader {
  uint32_t size_class;
  uint32_t own_block;  // for a piece with a block of its own, the block's index
};
static_assert(sizeof(PieceHeader) == kHeader, "the header keeps pieces aligned");

// Size classes: multiples of 8 bytes up to kExactLimit, powers of two above.
size_t ClassOf(size_t size) {
  if (size <= kExactLimit) return (size + kAlignment - 1) / kAlignment;
  size_t capacity = kExactLimit * 2;
  size_t index = kExactLimit / kAlignment + 1;
  while (capacity < size) {
    capacity *= 2;
    ++index;
  }
  return index;
}

size_t CapacityOf(size_t size_class) {
  if (size_class <= kExactLimit / kAlignment) return size_class * kAlignment;
  return kExactLimit << (size_class - kExactLimit / kAlignment);
}

// Blocks shared by every parse of the process, whichever thread runs it.
class BlockPool {
 public:
  void* Take() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (count_ > 0) return blocks_[--count_];
    }
    return std::malloc(kBlockSize);
  }
  void Give(void* block) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (count_ < kPooledBlocks) {
        blocks_[count_++] = block;
        return;
      }
    }
    std::free(block);
  }

 private:
  std::mutex mutex_;
  void* blocks_[kPooledBlocks] = {};
  size_t count_ = 0;
};

// Never destroyed: a parse may still run on another thread while the process exits.
BlockPool& Pool() {
  static BlockPool* pool = new BlockPool;
  return *pool;
}

// Kept apart from any object with a destructor: longjmp may leave this frame.
GumboOutput* ParseOrEscape(std::jmp_buf* escape, const GumboOptions* options, const char* data,
                           size_t size) {
  if (setjmp(*escape) != 0) return nullptr;
  return gumbo_parse_with_options(options, data, size);
}

}  // namespace

GumboParse::~GumboParse() { Release(); }

void GumboParse::Release() {
  for (void* block : blocks_) Pool().Give(block);
  for (void* block : own_blocks_) std::free(block);
  blocks_.clear();
  own_blocks_.clear();
  own_sizes_.clear();
  free_.clear();
  cursor_ = nullptr;
  left_ = 0;
  reserved_ = 0;
  output_ = nullptr;
}

bool GumboParse::Run(std::string_view bytes, int max_errors, size_t memory_budget) {
  Release();
  budget_ = memory_budget;
  free_.assign(ClassOf(kLargePiece) + 1, nullptr);
  GumboOptions options = kGumboDefaultOptions;
  options.allocator = &GumboParse::Allocate;
  options.deallocator = &GumboParse::Deallocate;
  options.userdata = this;
  options.max_errors = max_errors;
  std::jmp_buf escape;
  escape_ = &escape;
  output_ = ParseOrEscape(&escape, &options, bytes.data(), bytes.size());
  escape_ = nullptr;
  if (output_ == nullptr) Release();
  return output_ != nullptr;
}

void* GumboParse::Allocate(void* self, size_t size) {
  return static_cast<GumboParse*>(self)->Take(size);
}

void GumboParse::Deallocate(void* self, void* pointer) {
  if (pointer != nullptr) static_cast<GumboParse*>(self)->Return(pointer);
}

// Pieces the parser lets go of (a token's buffers, a vector's storage before it grew) are
// handed out again for the same size class: without that, a page of many small tags costs
// several times over in buffers that are dead.
void* GumboParse::Take(size_t size) {
  if (size > kLargePiece) return TakeOwnBlock(size);
  size_t size_class = ClassOf(size == 0 ? 1 : size);
  if (void* piece = free_[size_class]) {
    free_[size_class] = *static_cast<void**>(piece);
    return piece;
  }
  size_t needed = kHeader + CapacityOf(size_class);
  if (needed > left_) {
    if (reserved_ + kBlockSize > budget_) Escape();
    void* block = Pool().Take();
    if (block == nullptr) Escape();
    blocks_.push_back(block);
    reserved_ += kBlockSize;
    cursor_ = static_cast<char*>(block);
    left_ = kBlockSize;
  }
  auto* header = reinterpret_cast<PieceHeader*>(cursor_);
  *header = PieceHeader{static_cast<uint32_t>(size_class), 0};
  cursor_ += needed;
  left_ -= needed;
  return reinterpret_cast<char*>(header) + kHeader;
}

void* GumboParse::TakeOwnBlock(size_t size) {
  size_t block_size = kHeader + size;
  if (size > budget_ || reserved_ + block_size > budget_) Escape();
  void* block = std::malloc(block_size);
  if (block == nullptr) Escape();
  *static_cast<PieceHeader*>(block) =
      PieceHeader{kOwnBlock, static_cast<uint32_t>(own_blocks_.size())};
  own_blocks_.push_back(block);
  own_sizes_.resize(own_blocks_.size());
  own_sizes_.back() = block_size;
  reserved_ += block_size;
  return static_cast<char*>(block) + kHeader;
}

void GumboParse::Return(void* pointer) {
  auto* header = reinterpret_cast<PieceHeader*>(static_cast<char*>(pointer) - kHeader);
  if (header->size_class == kOwnBlock) {
    uint32_t index = header->own_block;
    std::free(own_blocks_[index]);
    own_blocks_[index] = nullptr;
    reserved_ -= own_sizes_[index];
    return;
  }
  *static_cast<void**>(pointer) = free_[header->size_class];
  free_[header->size_class] = pointer;
}

void GumboParse::Escape() { std::longjmp(*static_cast<std::jmp_buf*>(escape_), 1); }
