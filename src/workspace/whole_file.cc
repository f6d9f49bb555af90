#include "workspace/whole_file.h"

#include <glib.h>

#include <algorithm>

#include "platform/file_system.h"
#include "platform/log.h"
#include "workspace/temp_workspace.h"

namespace {

bool IsBase64Char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

// Standard alphabet; other characters (line breaks) are skipped; the first '=' ends the data.
// GLib's decoder skips the same characters but reads past a '=' and keeps an unfinished last
// group to itself, so the text is cut at the first '=' and a last group of two or three
// characters is padded for it.
std::string Base64Decode(std::string_view text) {
  text = text.substr(0, text.find('='));
  std::string out(text.size() / 4 * 3 + 3, '\0');
  auto* bytes = reinterpret_cast<guchar*>(out.data());
  gint state = 0;
  guint save = 0;
  size_t written = g_base64_decode_step(text.data(), text.size(), bytes, &state, &save);
  size_t tail = std::count_if(text.begin(), text.end(), IsBase64Char) % 4;
  if (tail >= 2) {
    const char* padding = tail == 2 ? "==" : "=";
    written += g_base64_decode_step(padding, 4 - tail, bytes + written, &state, &save);
  }
  out.resize(written);
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
  if (FileSystem::Default().ReadWholeFile(path, contents).ok() && !contents.empty()) return true;
  contents.clear();
  return false;
}

bool WriteDataFile(const std::string& path, std::string_view data, DataEncoding encoding) {
  if (path.empty()) return false;
  std::string bytes =
      encoding == DataEncoding::kBase64 && !data.empty() ? Base64Decode(data) : WithCrLf(data);
  IoStatus written = FileSystem::Default().WriteFile(path, bytes, WriteMode::kTruncate);
  if (!written.ok()) Log("\n Failed to write [%s]", written.ToString().c_str());
  return written.ok();
}

bool WriteDataFile(const TempWorkspace& workspace, std::string_view data, DataEncoding encoding) {
  return WriteDataFile(workspace.DocumentPath(), data, encoding);
}
