#ifndef ORVO_HTML_GUMBO_PARSE_H_
#define ORVO_HTML_GUMBO_PARSE_H_

#include <cstddef>
#include <string_view>
#include <vector>

struct GumboInternalOutput;

// One run of the HTML parser whose every allocation comes from an arena of its own.
//
// The arena serves two needs. Memory is bounded: once the parse has taken more than the budget,
// it is abandoned (the parser offers no way to fail an allocation, so the arena leaves it with
// longjmp; the parser is plain C and holds nothing else). And the tree is freed in one step,
// without the parser's own recursive tree destruction, which deep documents could overflow.
//
// Not copyable. The parsed bytes must outlive the object: the tree points into them.
class GumboParse {
 public:
  GumboParse() = default;
  ~GumboParse();
  GumboParse(const GumboParse&) = delete;
  GumboParse& operator=(const GumboParse&) = delete;

  // Parses bytes as a whole document, recording at most max_errors parse errors. False, with no
  // tree, when the parse needed more than memory_budget bytes.
  bool Run(std::string_view bytes, int max_errors, size_t memory_budget);

  // The tree of the last successful Run, or null.
  GumboInternalOutput* output() const { return output_; }

  // Bytes taken from the system for the last Run.
  size_t bytes_reserved() const { return reserved_; }

 private:
  static void* Allocate(void* self, size_t size);
  static void Deallocate(void* self, void* pointer);
  void* Take(size_t size);
  void Release();

  std::vector<void*> blocks_;
  char* cursor_ = nullptr;
  size_t left_ = 0;
  size_t reserved_ = 0;
  size_t budget_ = 0;
  void* escape_ = nullptr;  // the jmp_buf of the running parse
  GumboInternalOutput* output_ = nullptr;
};

#endif  // ORVO_HTML_GUMBO_PARSE_H_
