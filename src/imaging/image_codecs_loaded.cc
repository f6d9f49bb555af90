// The service's provider of the image codecs: the module beside the executable, loaded at the
// first picture that needs it. See image_codecs.h.
#include <memory>

#include "imaging/image_codecs.h"
#include "platform/dynamic_library.h"
#include "platform/executable_path.h"
#include "platform/file_system.h"

namespace {

std::string ModulePath() { return ExecutableFolder() + kImageCodecsModule; }

}  // namespace

const ImageCodecs* GetImageCodecs() {
  static const ImageCodecs* const codecs = []() -> const ImageCodecs* {
    // Never unloaded: the image library, once started, stays up for the process.
    static const std::unique_ptr<DynamicLibrary> module = DynamicLibrary::Load(ModulePath());
    if (module == nullptr) return nullptr;
    using Entry = const ImageCodecs* (*)();
    auto entry = reinterpret_cast<Entry>(module->Symbol(kImageCodecsEntry));
    return entry != nullptr ? entry() : nullptr;
  }();
  return codecs;
}

bool ImageCodecsInstalled() {
  return FileSystem::Default().Status(ModulePath(), FollowLinks::kYes).Exists();
}
