#ifndef ORVO_TESTS_FETCH_TEMP_FOLDER_H_
#define ORVO_TESTS_FETCH_TEMP_FOLDER_H_

#include <filesystem>
#include <set>
#include <string>

#include "support/scratch_folder.h"

// A scratch folder named with a trailing '/', as the download tests join file names to it, and
// able to list what a download left behind.
class TempFolder {
 public:
  const std::string& path() const { return path_; }

  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

 private:
  scratch::ScratchFolder folder_;
  std::string path_ = folder_.path().empty() ? std::string() : folder_.path() + "/";
};

using scratch::ReadFile;
using scratch::WriteFile;

#endif  // ORVO_TESTS_FETCH_TEMP_FOLDER_H_
