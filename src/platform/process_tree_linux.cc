#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
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

// Whether the process pid_name belongs to this user and holds argument among its arguments.
bool HoldsArgument(const char* pid_name, const std::string& argument) {
  std::string folder = std::string("/proc/") + pid_name;
  struct stat info;
  if (::stat(folder.c_str(), &info) != 0 || info.st_uid != ::getuid()) return false;
  std::ifstream file(folder + "/cmdline", std::ios::binary);
  std::string arguments((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  size_t start = 0;
  while (start < arguments.size()) {
    size_t end = arguments.find('\0', start);
    if (end == std::string::npos) end = arguments.size();
    if (arguments.compare(start, end - start, argument) == 0) return true;
    start = end + 1;
  }
  return false;
}

std::vector<int> ProcessIds() {
  std::vector<int> ids;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return ids;
  while (struct dirent* entry = readdir(proc)) {
    char* end = nullptr;
    long pid = std::strtol(entry->d_name, &end, 10);
    if (end != entry->d_name && *end == '\0') ids.push_back(static_cast<int>(pid));
  }
  closedir(proc);
  return ids;
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

int EndProcessesWithArgument(const std::string& argument, std::chrono::milliseconds grace) {
  std::vector<int> found;
  for (int pid : ProcessIds()) {
    if (pid != ::getpid() && HoldsArgument(std::to_string(pid).c_str(), argument)) {
      found.push_back(pid);
      ::kill(pid, SIGTERM);
    }
  }
  auto deadline = std::chrono::steady_clock::now() + grace;
  for (int pid : found) {
    // A process that is not our child cannot be reaped here; it is gone once kill finds none.
    while (::kill(pid, 0) == 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (::kill(pid, 0) == 0) ::kill(pid, SIGKILL);
  }
  return static_cast<int>(found.size());
}
