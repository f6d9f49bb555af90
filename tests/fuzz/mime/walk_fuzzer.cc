// Loads arbitrary bytes as a page and runs the archive's document walk over it. The first two
// bytes choose the file scope, the filter and the range; the rest is the page.
//
// The walk stays on this machine: the download library is not beside this program, so every
// download fails at once, and scripts (whose length query would go out) are not taken. Local
// references are only read; with downloads and scripts gone nothing lands in the workspace,
// which is a fresh folder per input.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "html/html_document.h"
#include "imaging/image_utils.h"
#include "mime/document_walk.h"
#include "mime/encode_options.h"
#include "mime/resource_registry.h"
#include "platform/file_system.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// A fresh folder for one input, removed when the input is done (libFuzzer may end the process
// without running exit handlers).
class ScratchWorkspace {
 public:
  ScratchWorkspace() {
    char pattern[] = "/tmp/orvo-walk-fuzz-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made != nullptr) path_ = std::string(made) + "/";
  }
  ~ScratchWorkspace() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool imaging = InitializeImaging();
  if (size < 2 || !imaging) return 0;
  EncodeOptions options;
  options.file_scope = FileScopeOf(data[0] % 3);
  options.range = EncodeRangeOf((data[0] >> 2) % 3);
  options.filter = data[1] & 0x37;  // every kind but scripts
  options.include_prefix = (data[0] & 0x80) ? "http" : "";
  ScratchWorkspace workspace;
  if (workspace.path().empty()) return 0;
  options.workspace = workspace.path();
  HtmlDocument doc;
  if (!doc.Load(std::string(reinterpret_cast<const char*>(data) + 2, size - 2))) return 0;
  ResourceRegistry registry;
  Check(CollectResources(doc, registry, "", options));
  for (const ResourceEntry& entry : registry.entries()) {
    Check(!entry.from_url);  // nothing can be downloaded here
    Check(FileSystem::Default().Status(entry.local_file, FollowLinks::kYes).type ==
          FileType::kRegular);
  }
  std::string outer = doc.OuterHtml();
  std::string inner = doc.BodyInnerHtml();
  HtmlDocument again;
  Check(outer.empty() || again.Load(outer));
  return 0;
}
