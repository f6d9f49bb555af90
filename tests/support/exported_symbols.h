#ifndef ORVO_TESTS_SUPPORT_EXPORTED_SYMBOLS_H_
#define ORVO_TESTS_SUPPORT_EXPORTED_SYMBOLS_H_

// The dynamic symbols a shared object defines, read with nm: what a component really exports.

#include <cstdio>
#include <set>
#include <string>

namespace scratch {

// The names nm -D --defined-only lists for library; *ok is false when nm could not run.
inline std::set<std::string> ExportedSymbols(const std::string& library, bool* ok) {
  std::string command = "nm -D --defined-only '" + library + "' | awk '{print $3}'";
  std::set<std::string> exported;
  FILE* pipe = popen(command.c_str(), "r");
  *ok = pipe != nullptr;
  if (pipe == nullptr) return exported;
  char line[512];
  while (fgets(line, sizeof line, pipe) != nullptr) {
    std::string name(line);
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
    if (!name.empty()) exported.insert(name);
  }
  *ok = pclose(pipe) == 0;
  return exported;
}

}  // namespace scratch

#endif  // ORVO_TESTS_SUPPORT_EXPORTED_SYMBOLS_H_
