#ifndef ORVO_HTML_GUMBO_PARSE_H_
#define ORVO_HTML_GUMBO_PARSE_H_

#include <cstddef>
#include <string_view>
#include <vector>

struct GumboInternalOutput;

// One run of the HTML parser whose every allocation comes from an arena of its own.
//
// The arena serves three needs. Memory is bounded: once the parse holds more than the budget,
// it is abandoned (the parser offers no way to fail an allocation, so the arena leaves it with
// longjmp; the parser is plain C and holds nothing else). The tree is freed in one step,
// without the parser's own recursive tree destruction, which deep documents could overflow.
// And the arena's blocks are kept for the next parse in the process (up to a few dozen
// megabytes), so that parsing a page does not start by having the kernel clear fresh memory.
//
// Not copyable. The parsed bytes must outlive the object: the tree points into them. Runs on
// any thread; the pool of blocks is shared under a lock.
class GumboParse {
 public:
  GumboParse() = default;
  ~GumboParse();
  GumboParse(const GumboParse&) = delete;
  GumboParse& operator=(const GumboParse&) = delete;

  // Parses bytes as a whole document, recording at most max_errors parse errors. False, with no
  // tree, when the parse needed to hold more than memory_budget bytes at once.
  bool Run(std::string_view bytes, int max_errors, size_t memory_budget);

  // The tree of the last successful Run, or null.
  GumboInternalOutput* output() const { return output_; }

  // Bytes the last Run holds from the system.
  size_t bytes_reserved() const { return reserved_; }

  // Lets go of the tree (its blocks return to the pool).
  void Release();

 private:
  static void* Allocate(void* self, size_t size);
  static void Deallocate(void* self, void* pointer);
  void* Take(size_t size);
  void* TakeOwnBlock(size_t size);
  void Return(void* pointer);
  [[noreturn]] void Escape();

  std::vector<void*> blocks_;      // from the pool
  std::vector<void*> own_blocks_;  // one large piece each; null once returned
  std::vector<size_t> own_sizes_;
  std::vector<void*> free_;  // by size class: pieces returned, linked through their first word
  char* cursor_ = nullptr;
  size_t left_ = 0;
  size_t reserved_ = 0;
  size_t budget_ = 0;
  void* escape_ = nullptr;  // the jmp_buf of the running parse
  GumboInternalOutput* output_ = nullptr;
};

#endif  // ORVO_HTML_GUMBO_PARSE_H_
