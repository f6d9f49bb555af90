#include <dlfcn.h>

#include "platform/dynamic_library.h"

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::string& path) {
  // A name without '/' would make dlopen search the library path: only a full path is loaded.
  if (path.find('/') == std::string::npos) return nullptr;
  // RTLD_LOCAL keeps the library's symbols from resolving anyone else's.
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return nullptr;
  return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(handle));
}

DynamicLibrary::~DynamicLibrary() { ::dlclose(handle_); }

void* DynamicLibrary::Symbol(const char* name) const { return ::dlsym(handle_, name); }
