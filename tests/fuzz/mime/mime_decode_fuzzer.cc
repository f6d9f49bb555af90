// Unpacks arbitrary bytes as an archive into a fresh folder. Beyond not crashing: every file
// lands directly in that folder with a name of at most 200 bytes of valid UTF-8, and nothing
// appears beside the folder.
#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "archive_decoder.h"
#include "gmime_setup.h"

namespace {

const std::string& Parent() {
  static const std::string parent = [] {
    char pattern[] = "/tmp/fuzz-mime-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) abort();
    return std::string(made);
  }();
  return parent;
}

// Checks and removes every entry of folder, then folder; returns the number of entries.
int CheckAndEmpty(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) abort();
  int count = 0;
  while (struct dirent* entry = readdir(dir)) {
    std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    if (name.size() > 200 || !g_utf8_validate(name.data(), name.size(), nullptr)) abort();
    if (entry->d_type != DT_REG) abort();
    if (unlink((folder + "/" + entry->d_name).c_str()) != 0) abort();
    ++count;
  }
  closedir(dir);
  if (rmdir(folder.c_str()) != 0) abort();
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  mimecodec::EnsureGMime();
  std::string folder = Parent() + "/request";
  if (mkdir(folder.c_str(), 0700) != 0) abort();
  int folder_fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool page = mimecodec::DecodeArchive(
      std::string_view(reinterpret_cast<const char*>(data), size), folder_fd);
  close(folder_fd);
  bool page_file = access((folder + "/noname.htm").c_str(), F_OK) == 0;
  if (page != page_file) abort();
  CheckAndEmpty(folder);
  // Only the request folder was ever in the parent, and it is gone now.
  if (rmdir(Parent().c_str()) != 0 || mkdir(Parent().c_str(), 0700) != 0) abort();
  return 0;
}
