#include "mime/embed_file_ops.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

bool IsRegularFile(const std::string& path) {
  std::error_code error;
  return !path.empty() && fs::is_regular_file(path, error);
}

int64_t RegularFileSize(const std::string& path) {
  if (!IsRegularFile(path)) return -1;
  std::error_code error;
  uintmax_t size = fs::file_size(path, error);
  return error ? -1 : static_cast<int64_t>(size);
}

bool CopyFileNoReplace(const std::string& from, const std::string& to) {
  // copy_options::none creates the target exclusively and refuses anything but regular files.
  std::error_code error;
  return IsRegularFile(from) && fs::copy_file(from, to, fs::copy_options::none, error) && !error;
}

bool MoveFileNoReplace(const std::string& from, const std::string& to) {
  // A rename would replace to; a new link cannot, and both names lie in one folder.
  std::error_code error;
  fs::create_hard_link(from, to, error);
  if (error) return false;
  fs::remove(from, error);
  return true;
}

std::string ReadFileHead(const std::string& path, size_t count) {
  if (!IsRegularFile(path)) return {};
  std::ifstream in(path, std::ios::binary);
  std::string head(count, '\0');
  in.read(head.data(), static_cast<std::streamsize>(count));
  head.resize(static_cast<size_t>(in.gcount()));
  return head;
}
