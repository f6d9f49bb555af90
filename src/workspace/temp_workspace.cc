#include "workspace/temp_workspace.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unordered_map>

#include "imaging/image_utils.h"
#include "imaging/webp.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "text/ascii.h"
#include "workspace/path_macros.h"
#include "workspace/random_chars.h"
#include "workspace/url_path.h"

namespace {

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path.push_back('/');
  return path;
}

// The next request folder number to try under each root: one past the last one handed out.
// A root met for the first time starts one past the highest number already there, so leftover
// folders are listed once, not probed one by one for every request.
class FolderNumbers {
 public:
  uint32_t Take(const std::string& root) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = next_.find(root);
    if (found == next_.end()) found = next_.emplace(root, FirstFree(root)).first;
    return found->second++;  // wraps to 0 after ffffffff
  }

 private:
  static uint32_t FirstFree(const std::string& root) {
    std::vector<FolderEntry> entries;
    FileSystem::Default().ListFolder(root, entries);
    uint32_t next = 0;
    for (const FolderEntry& entry : entries) {
      char* end = nullptr;
      unsigned long number = std::strtoul(entry.name.c_str(), &end, 16);
      bool numbered = entry.name.size() == 8 && *end == '\0' && number < UINT32_MAX;
      if (numbered && number >= next) next = static_cast<uint32_t>(number) + 1;
    }
    return next;
  }

  std::mutex mutex_;
  std::unordered_map<std::string, uint32_t> next_;
};

FolderNumbers& Numbers() {
  static FolderNumbers* const numbers = new FolderNumbers;
  return *numbers;
}

// Claims a free request folder number under root. The number is taken by the mkdir that creates
// it: a number whose mkdir fails with EEXIST belongs to another request (or to a leftover file of
// that name) and is skipped, so two concurrent requests never share a folder. A folder that was
// made but replaced before it could be opened (by someone who may write to root) is skipped too,
// a few times.
IoStatus ClaimRequestFolder(const HeldFolder& root, std::unique_ptr<HeldFolder>& folder) {
  constexpr int kSwapsTolerated = 16;
  char number[9];
  IoStatus made;
  int swaps = 0;
  for (uint64_t tries = 0; tries <= UINT32_MAX; ++tries) {
    std::snprintf(number, sizeof number, "%08x", Numbers().Take(root.Path()));
    made = FileSystem::Default().MakeFolderIn(root, number, FolderAccess::kShared, folder);
    if (made.AlreadyExists()) continue;
    bool swapped = made.error_number() == ENOTDIR || made.error_number() == EPERM;
    if (!swapped || ++swaps > kSwapsTolerated) return made;
  }
  return made;
}

// Opens (first making) the shared root "TAVU" in parent: never a link, always the user's own.
IoStatus OpenWorkspaceRoot(const HeldFolder& parent, std::unique_ptr<HeldFolder>& root) {
  FileSystem& file_system = FileSystem::Default();
  IoStatus opened = file_system.MakeFolder(parent.Path() + "/" + kWorkspaceRootName);
  opened = file_system.OpenFolderIn(parent, kWorkspaceRootName, root);
  if (opened.ok() && !root->Status().owned_by_user) {
    opened = IoStatus::Error(EPERM, root->Path());
    root.reset();
  }
  return opened;
}

// Removes every ".tmp" from the last component only: a folder such as "~/.tmp/" above the
// request folder must keep its name.
std::string RemoveTmpFromName(const std::string& path) {
  size_t start = FolderPart(path).size();
  std::string name = path.substr(start);
  for (size_t found = name.find(".tmp"); found != std::string::npos; found = name.find(".tmp")) {
    name.erase(found, 4);
  }
  return path.substr(0, start) + name;
}

bool ExtensionListed(const std::string& ext, const std::string& ext_list) {
  size_t start = 0;
  while (start <= ext_list.size()) {
    size_t bar = ext_list.find('|', start);
    if (bar == std::string::npos) bar = ext_list.size();
    std::string token = ext_list.substr(start, bar - start);
    if (!token.empty() && EqualsIgnoringAsciiCase(token, ext)) return true;
    start = bar + 1;
  }
  return false;
}

}  // namespace

std::string SystemTempFolder() {
  return WithSlash(FileSystem::Default().KnownFolderPath(KnownFolder::kTemp));
}

IoStatus OpenWorkRoot(std::unique_ptr<HeldFolder>& root) {
  FileSystem& file_system = FileSystem::Default();
  std::string path = file_system.KnownFolderPath(KnownFolder::kTemp);
  file_system.MakeFolder(path, FolderAccess::kPrivate);  // already there is the usual case
  IoStatus opened = file_system.OpenFolder(path, FollowLinks::kNo, root);
  if (!opened.ok()) return opened;
  FileStatus status = root->Status();
  if (!status.owned_by_user || status.writable_by_others) {
    root.reset();
    return IoStatus::Error(status.owned_by_user ? EACCES : EPERM, path);
  }
  return opened;
}

IoStatus NewTempFolder(std::unique_ptr<HeldFolder>& folder) {
  folder.reset();
  std::unique_ptr<HeldFolder> work_root;
  std::unique_ptr<HeldFolder> root;
  IoStatus status = OpenWorkRoot(work_root);
  if (status.ok()) status = OpenWorkspaceRoot(*work_root, root);
  if (status.ok()) status = ClaimRequestFolder(*root, folder);
  return status;
}

IoStatus NewTempFolderUnder(const std::string& base, std::unique_ptr<HeldFolder>& folder) {
  folder.reset();
  std::unique_ptr<HeldFolder> base_folder;
  std::unique_ptr<HeldFolder> root;
  if (base.empty() ||
      !FileSystem::Default().OpenFolder(base, FollowLinks::kYes, base_folder).ok() ||
      !OpenWorkspaceRoot(*base_folder, root).ok() || !ClaimRequestFolder(*root, folder).ok()) {
    return NewTempFolder(folder);
  }
  return {};
}

void MakeFolderChain(const std::string& path) {
  if (path.empty()) return;
  std::string full = WithSlash(path);
  for (size_t slash = full.find('/', 1); slash != std::string::npos;
       slash = full.find('/', slash + 1)) {
    FileSystem::Default().MakeFolder(full.substr(0, slash));
  }
}

std::string TimeStamp() {
  LocalTime now = CurrentLocalTime();
  char text[64];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%03d_", now.year, now.month, now.day,
                now.hour, now.minute, now.millisecond);
  return text;
}

std::string TimestampPrefix() { return TimeStamp() + RandomChars(8); }

std::string TempFileName(const std::string& folder) {
  if (folder.empty()) return {};
  FileSystem::Default().MakeFolder(folder);
  return WithSlash(folder) + TimestampPrefix() + ".tmp";
}

void MakeUnique(std::string& path) {
  if (path.empty() || IsUrl(path)) return;
  std::string candidate = RemoveTmpFromName(path);
  size_t name_start = FolderPart(candidate).size();
  size_t dot = candidate.rfind('.');
  char counter[9];
  if (dot != std::string::npos && dot > 0 && dot >= name_start) {
    std::string stem = candidate.substr(0, dot);
    std::string ext = candidate.substr(dot);
    for (uint32_t n = 0; FileExists(candidate) && n <= UINT32_MAX - 1; ++n) {
      std::snprintf(counter, sizeof counter, "%08x", n);
      candidate = stem + "_" + counter + ext;
    }
  } else {
    std::string base = candidate;
    for (uint32_t n = 0; FileExists(candidate) && n <= UINT32_MAX - 1; ++n) {
      std::snprintf(counter, sizeof counter, "%08x", n);
      candidate = base + "_" + counter;
    }
  }
  path = candidate;
}

std::string UniqueFilePath(const std::string& folder, const std::string& ext) {
  if (folder.empty()) return {};
  // An encode asks thousands of times for names in one folder: one look at it, and a folder
  // made level by level only when it is not there yet.
  if (!IsFolder(folder)) {
    MakeFolderChain(folder + "/");
    if (!IsFolder(folder)) return {};
  }
  std::string extension = ext;
  if (!extension.empty() && extension[0] != '.') extension.insert(0, ".");
  std::string candidate = WithSlash(folder) + TimestampPrefix() + ".tmp";  // the folder is there
  FileSystem::Default().DeleteFile(candidate);  // a leftover of that name
  candidate = RemoveTmpFromName(candidate) + extension;
  MakeUnique(candidate);
  return candidate;
}

std::string ResourceFolderPath(const std::string& document_path) {
  if (document_path.empty()) return {};
  size_t name_start = FolderPart(document_path).size();
  size_t dot = document_path.rfind('.');
  size_t stem_end = dot != std::string::npos && dot >= name_start ? dot : document_path.size();
  return document_path.substr(0, stem_end) + ".files";
}

bool FileExists(const std::string& path) {
  return !path.empty() && FileSystem::Default().Status(path, FollowLinks::kNo).Exists();
}

bool IsFolder(const std::string& path) {
  return !path.empty() &&
         FileSystem::Default().Status(path, FollowLinks::kYes).type == FileType::kFolder;
}

bool IsRegularFile(const std::string& path) {
  return !path.empty() &&
         FileSystem::Default().Status(path, FollowLinks::kYes).type == FileType::kRegular;
}

IoStatus TempWorkspace::PrepareUnder(const std::string& base, const std::string& ext) {
  std::unique_ptr<HeldFolder> folder;
  IoStatus made = NewTempFolderUnder(base, folder);
  PrepareIn(std::move(folder), ext);
  return made;
}

bool TempWorkspace::PrepareIn(std::unique_ptr<HeldFolder> folder, const std::string& ext) {
  held_ = std::move(folder);
  folder_.clear();
  document_path_.clear();
  resource_folder_.clear();
  if (held_ == nullptr) return false;
  folder_ = held_->Path();
  document_path_ = UniqueFilePath(folder_, ext.empty() ? ".html" : ext);
  resource_folder_ = ResourceFolderPath(document_path_);
  return true;
}

IoStatus TempWorkspace::PrepareFor(const std::string& path, const std::string& ext) {
  if (path.empty()) return PrepareUnder("", ext);
  held_.reset();
  folder_.clear();
  document_path_ = path;
  resource_folder_ = ResourceFolderPath(document_path_);
  return {};
}

std::string TempWorkspace::EnsureResourceFolder() {
  if (!resource_folder_.empty() && !IsFolder(resource_folder_)) {
    FileSystem::Default().MakeFolder(resource_folder_);
  }
  return resource_folder_;
}

bool ListFolderImages(const std::string& folder_path, const std::string& ext_list,
                      const std::string& name_prefix, std::vector<std::string>& out) {
  if (folder_path.empty()) return false;
  std::vector<FolderEntry> entries;
  if (!FileSystem::Default().ListFolder(folder_path, entries).ok()) return false;
  bool appended = false;
  std::string folder = WithSlash(folder_path);
  for (const FolderEntry& entry : entries) {
    // Only regular files: links could point anywhere, and folders are never images.
    if (entry.type != FileType::kRegular) continue;
    if (entry.name.compare(0, name_prefix.size(), name_prefix) != 0) continue;
    std::string full = folder + entry.name;
    std::string ext = FileExtension(full);
    if (ext.empty() || !ExtensionListed(ext.substr(1), ext_list)) continue;
    // The content decides, never the name: a listed extension is not enough.
    if (!IsReadableImage(full) && !IsRiffFile(full)) continue;
    out.push_back(full);
    appended = true;
  }
  return appended;
}

bool TempWorkspace::ListResourceImages(const std::string& ext_list,
                                       std::vector<std::string>& out) const {
  return ListFolderImages(resource_folder_, ext_list, "", out);
}
