#include "protocol/small_commands.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "protocol/command_request.h"
#include "protocol/command_table.h"
#include "protocol/file_records.h"
#include "protocol/text_conversion.h"
#include "workspace/folder_deletion.h"
#include "workspace/path_macros.h"
#include "workspace/temp_workspace.h"

namespace {

// Writes only a regular file (created when missing): a page could name a pipe, which would
// block the request forever once its buffer is full, or a device. Looked at before opening (so
// a device is never opened) and again on the opened file (in case one was swapped in).
bool WriteBytes(const std::string& path, const char* data, size_t size) {
  struct stat info;
  if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return false;
  int fd =
      ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666);
  if (fd < 0) return false;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return false;
  }
  bool ok = true;
  while (size > 0) {
    ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      ok = false;
      break;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  // A failed close (a full disk on a network folder) is a failed write too.
  return ::close(fd) == 0 && ok;
}

}  // namespace

std::string RunCleanupCommand(CommandRequest& request) { return {}; }

Json::Value BuildCleanupPdu(const PayloadInputs& inputs) {
  Json::Value pdu(Json::objectValue);
  pdu["cleanuphtml"] = inputs.payload;
  return pdu;
}

std::string RunFilesCommand(CommandRequest& request) {
  Json::Value pdu = request.Pdu();
  Json::Value files = pdu["files"];
  FileTexts texts;  // outlives the answer text, which is all that leaves this function
  FillFileContents(files, texts);
  return request.BuildResponse({}, {}, files, std::string());
}

Json::Value BuildFilesPdu(const PayloadInputs& inputs) {
  Json::Value pdu(Json::objectValue);
  pdu["files"] = inputs.extra;
  return pdu;
}

std::string RunHtmlFileCommand(CommandRequest& request) {
  Json::Value pdu = request.Pdu();
  if (pdu["temppath"].isNull()) pdu["temppath"] = "";
  std::string folder;
  if (!pdu["html"].isNull() && !pdu["filefullpath"].isNull()) {
    // Every member is read before the working folder exists, so a member of the wrong type
    // (the JSON library's error) leaves no folder behind.
    std::string temp_path = Utf8ToWide(pdu["temppath"].asCString());
    std::string html = pdu["html"].asCString();
    std::string given_path = pdu["filefullpath"].asCString();
    std::string path = Utf8ToWide(given_path);
    folder = NewTempFolderUnder(ExpandPathMacros(temp_path));
    if (path == given_path) {
      SaveHtmlFile(html, path, request.error);
    } else {
      // Not valid UTF-8: the cleaned name is another file than the one the page named.
      request.error = kHtmlFileNotWritten;
    }
  } else {
    request.error = kHtmlFileMissingMember;
  }
  std::string answer = request.BuildResponse({}, {}, Json::Value(), std::string());
  if (folder.size() >= 2) DeleteFolderOf(folder);
  return answer;
}

bool IsHtmlFileName(const std::string& path) {
  std::string ext = FileExtension(path);
  for (const char* html_ext : {".html", ".htm", ".xhtml"}) {
    if (strcasecmp(ext.c_str(), html_ext) == 0) return true;
  }
  return false;
}

bool SaveHtmlFile(const std::string& html, const std::string& path, int32_t& error) {
  error = kHtmlFileWritten;
  std::string text = Utf8ToWide(html);
  if (!IsHtmlFileName(path)) {
    error = kHtmlFileBadExtension;
    return false;
  }
  std::string bytes = WideToUtf8(text);
  size_t length = strnlen(bytes.c_str(), bytes.size());
  bool written = !bytes.empty() && WriteBytes(path, bytes.data(), length);
  if (!written) error = kHtmlFileNotWritten;
  return written;
}
