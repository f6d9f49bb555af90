#include "html/gumbo_parse.h"

#include <gumbo.h>

#include <csetjmp>
#include <cstdlib>

namespace {

constexpr size_t kBlockSize = size_t{1} << 20;
constexpr size_t kAlignment = 16;

// Kept apart from any object with a destructor: longjmp may leave this frame.
GumboOutput* ParseOrEscape(std::jmp_buf* escape, const GumboOptions* options, const char* data,
                           size_t size) {
  if (setjmp(*escape) != 0) return nullptr;
  return gumbo_parse_with_options(options, data, size);
}

}  // namespace

GumboParse::~GumboParse() { Release(); }

void GumboParse::Release() {
  for (void* block : blocks_) std::free(block);
  blocks_.clear();
  cursor_ = nullptr;
  left_ = 0;
  reserved_ = 0;
  output_ = nullptr;
}

bool GumboParse::Run(std::string_view bytes, int max_errors, size_t memory_budget) {
  Release();
  budget_ = memory_budget;
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

// Freed memory returns with the arena; the parser's temporary buffers are small against the tree.
void GumboParse::Deallocate(void*, void*) {}

void* GumboParse::Take(size_t size) {
  size = (size + kAlignment - 1) & ~(kAlignment - 1);
  if (size == 0) size = kAlignment;
  if (size > left_) {
    size_t block_size = size > kBlockSize / 4 ? size : kBlockSize;
    void* block = reserved_ + block_size > budget_ ? nullptr : std::malloc(block_size);
    if (block == nullptr) std::longjmp(*static_cast<std::jmp_buf*>(escape_), 1);
    blocks_.push_back(block);
    reserved_ += block_size;
    if (block_size != kBlockSize) return block;  // a large piece keeps its block to itself
    cursor_ = static_cast<char*>(block);
    left_ = block_size;
  }
  void* piece = cursor_;
  cursor_ += size;
  left_ -= size;
  return piece;
}
