#include "workspace/temp_workspace.h"

#include <cstdio>
#include <cstdlib>

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

// Claims the first free request folder number under root. The number is taken by the mkdir
// that creates it: a number whose mkdir fails with EEXIST belongs to another request (or to a
// leftover file of that name) and is skipped, so two concurrent requests never share a folder.
// Returns false, with the last tried path in folder, on any other failure.
bool ClaimRequestFolder(const std::string& root, std::string& folder) {
  char number[9];
  for (uint32_t counter = 0;; ++counter) {
    std::snprintf(number, sizeof number, "%08x", counter);
    folder = root + "/" + number;
    MakeFolderResult made = FileSystem::Default().MakeFolder(folder);
    if (made == MakeFolderResult::kMade) return true;
    if (made != MakeFolderResult::kExists || counter == UINT32_MAX) return false;
  }
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
  std::optional<std::string> tmpdir = EnvironmentVariable("TMPDIR");
  return WithSlash(tmpdir && !tmpdir->empty() ? *tmpdir : "/tmp");
}

std::string NewTempFolder() {
  std::string root = SystemTempFolder() + kWorkspaceRootName;
  FileSystem::Default().MakeFolder(root);
  if (!IsFolder(root)) return root;
  std::string folder;
  ClaimRequestFolder(root, folder);
  return folder;
}

std::string NewTempFolderUnder(const std::string& base) {
  if (base.empty()) return NewTempFolder();
  std::string root = WithSlash(base) + kWorkspaceRootName;
  FileSystem::Default().MakeFolder(root);
  std::string folder;
  if (!IsFolder(root) || !ClaimRequestFolder(root, folder)) return NewTempFolder();
  return folder;
}

void MakeFolderChain(const std::string& path) {
  if (path.empty()) return;
  std::string full = WithSlash(path);
  for (size_t slash = full.find('/', 1); slash != std::string::npos;
       slash = full.find('/', slash + 1)) {
    FileSystem::Default().MakeFolder(full.substr(0, slash));
  }
}

std::string TimestampPrefix() {
  LocalTime now = CurrentLocalTime();
  char text[64];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%03d_", now.year, now.month, now.day,
                now.hour, now.minute, now.millisecond);
  return text + RandomChars(8);
}

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
  MakeFolderChain(folder + "/");
  if (folder.empty() || !IsFolder(folder)) return {};
  std::string extension = ext;
  if (!extension.empty() && extension[0] != '.') extension.insert(0, ".");
  std::string candidate = TempFileName(folder);
  FileSystem::Default().DeleteFile(candidate);  // a leftover of that name
  candidate = RemoveTmpFromName(candidate) + extension;
  MakeUnique(candidate);
  return candidate;
}

std::string FileInNewTempFolder(const std::string& ext) {
  return UniqueFilePath(NewTempFolder(), ext);
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

void TempWorkspace::PrepareUnder(const std::string& base, const std::string& ext) {
  folder_ = base.empty() ? NewTempFolder() : NewTempFolderUnder(base);
  document_path_ = UniqueFilePath(folder_, ext.empty() ? ".html" : ext);
  resource_folder_ = ResourceFolderPath(document_path_);
}

void TempWorkspace::PrepareFor(const std::string& path, const std::string& ext) {
  if (!path.empty()) {
    folder_.clear();
    document_path_ = path;
  } else {
    folder_ = NewTempFolder();
    document_path_ = UniqueFilePath(folder_, ext.empty() ? ".html" : ext);
  }
  resource_folder_ = ResourceFolderPath(document_path_);
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
  if (!FileSystem::Default().ListFolder(folder_path, entries)) return false;
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
