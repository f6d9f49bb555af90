#include "workspace/whole_file.h"

#include <cstdint>

#include "platform/file_system.h"
#include "workspace/temp_workspace.h"

namespace {

int Base64Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Standard alphabet; other characters (line breaks) are skipped; the first '=' ends the data.
std::string Base64Decode(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3 + 3);
  uint32_t bits = 0;
  int count = 0;
  for (unsigned char c : text) {
    if (c == '=') break;
    int value = Base64Value(c);
    if (value < 0) continue;
    bits = (bits << 6) | static_cast<uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
}

// Text mode as the C runtime writes it: every line feed becomes carriage return, line feed.
std::string WithCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (char c : text) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return out;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& contents) {
  if (FileSystem::Default().ReadWholeFile(path, contents) && !contents.empty()) return true;
  contents.clear();
  return false;
}

bool WriteDataFile(const std::string& path, std::string_view data, DataEncoding encoding) {
  if (path.empty()) return false;
  std::string bytes =
      encoding == DataEncoding::kBase64 && !data.empty() ? Base64Decode(data) : WithCrLf(data);
  return FileSystem::Default().WriteFile(path, bytes, WriteMode::kTruncate);
}

bool WriteDataFile(const TempWorkspace& workspace, std::string_view data, DataEncoding encoding) {
  return WriteDataFile(workspace.DocumentPath(), data, encoding);
}
