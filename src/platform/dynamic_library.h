#ifndef ORVO_PLATFORM_DYNAMIC_LIBRARY_H_
#define ORVO_PLATFORM_DYNAMIC_LIBRARY_H_

#include <memory>
#include <string>

// A shared library loaded at run time; unloaded when the object is destroyed. Loading the
// same file on several threads at once is safe: the system counts the loads and unloads the
// code only with the last one.
class DynamicLibrary {
 public:
  // Loads the library at path (a full path; no search) with all its symbols resolved at once.
  // Returns null when it cannot be loaded.
  static std::unique_ptr<DynamicLibrary> Load(const std::string& path);

  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // The address of the exported symbol name, or null when the library does not export it.
  // Valid while this object lives.
  void* Symbol(const char* name) const;

 private:
  explicit DynamicLibrary(void* handle) : handle_(handle) {}
  void* handle_;
};

#endif  // ORVO_PLATFORM_DYNAMIC_LIBRARY_H_
