// The service's provider of the libcurl table: the module beside the executable, loaded at the
// first length query or download. See curl_functions.h.
#include <memory>

#include "fetch/curl_functions.h"
#include "platform/dynamic_library.h"
#include "platform/executable_path.h"

const CurlFunctions* GetCurlFunctions() {
  static const CurlFunctions* const functions = []() -> const CurlFunctions* {
    // Never unloaded: libcurl stays initialised for the process, and the download library,
    // loaded and unloaded at each download, finds it in place.
    static const std::unique_ptr<DynamicLibrary> module =
        DynamicLibrary::Load(ExecutableFolder() + kCurlModule);
    if (module == nullptr) return nullptr;
    using Entry = const CurlFunctions* (*)();
    auto entry = reinterpret_cast<Entry>(module->Symbol(kCurlEntry));
    return entry != nullptr ? entry() : nullptr;
  }();
  return functions;
}
