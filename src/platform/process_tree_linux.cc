#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "platform/process.h"

namespace {

// The parent id from /proc/<pid>/stat. The command name (field 2) may hold blanks and ')', so
// the fields are read after the last ')'.
int ParentOf(const char* pid_name) {
  std::string path = std::string("/proc/") + pid_name + "/stat";
  FILE* file = std::fopen(path.c_str(), "re");
  if (file == nullptr) return -1;
  char buffer[1024];
  size_t length = std::fread(buffer, 1, sizeof(buffer) - 1, file);
  std::fclose(file);
  buffer[length] = '\0';
  std::string stat(buffer);
  size_t close = stat.rfind(')');
  if (close == std::string::npos || close + 4 >= stat.size()) return -1;
  // ") S 123 ..." : state, then the parent id.
  return std::atoi(stat.c_str() + close + 4);
}

std::multimap<int, int> ChildrenByParent() {
  std::multimap<int, int> children;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return children;
  while (struct dirent* entry = readdir(proc)) {
    char* end = nullptr;
    long pid = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0') continue;
    int parent = ParentOf(entry->d_name);
    if (parent > 0) children.emplace(parent, static_cast<int>(pid));
  }
  closedir(proc);
  return children;
}

}  // namespace

std::vector<int> ProcessAndDescendants(int pid) {
  std::vector<int> family{pid};
  std::multimap<int, int> children = ChildrenByParent();
  // Breadth first; each process has one parent, so nothing is visited twice.
  for (size_t i = 0; i < family.size(); ++i) {
    auto range = children.equal_range(family[i]);
    for (auto it = range.first; it != range.second; ++it) family.push_back(it->second);
  }
  return family;
}
