#include "protocol/small_commands.h"

#include <cstring>

#include "platform/file_system.h"
#include "platform/log.h"
#include "protocol/command_request.h"
#include "protocol/command_table.h"
#include "protocol/file_records.h"
#include "text/ascii.h"
#include "text/text_conversion.h"
#include "workspace/folder_deletion.h"
#include "workspace/path_macros.h"
#include "workspace/request_folder.h"
#include "workspace/temp_workspace.h"

std::string RunCleanupCommand(CommandRequest& request) { return {}; }

Json::Value BuildCleanupPdu(const PayloadInputs& inputs) {
  Json::Value pdu(Json::objectValue);
  pdu["cleanuphtml"] = inputs.PayloadValue();
  return pdu;
}

std::string RunFilesCommand(CommandRequest& request) {
  Json::Value pdu = request.Pdu();
  Json::Value files = pdu["files"];
  FillFileContents(files, request.answer_files);
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
  std::unique_ptr<HeldFolder> folder;
  if (!pdu["html"].isNull() && !pdu["filefullpath"].isNull()) {
    // Every member is read before the working folder exists, so a member of the wrong type
    // (the JSON library's error) leaves no folder behind.
    std::string temp_path = pdu["temppath"].asCString();
    pdu["html"].asCString();  // raises the library's error for anything but a string
    std::string_view text = request.TextOf(pdu["html"]);
    std::string html(text.substr(0, text.find('\0')));  // as far as the library's C string
    std::string given_path = pdu["filefullpath"].asCString();
    std::string path = Utf8ToWide(given_path);
    folder = OpenRequestFolder(temp_path);
    if (folder == nullptr) {
      request.error = kHtmlFileNotWritten;
    } else if (path == given_path) {
      SaveHtmlFile(html, path, request.error);
    } else {
      // Not valid UTF-8: the cleaned name is another file than the one the page named.
      request.error = kHtmlFileNotWritten;
    }
  } else {
    request.error = kHtmlFileMissingMember;
  }
  std::string answer = request.BuildResponse({}, {}, Json::Value(), std::string());
  if (folder != nullptr) DeleteFolderOf(folder->Path() + "/");
  return answer;
}

bool IsHtmlFileName(const std::string& path) {
  std::string ext = FileExtension(path);
  for (const char* html_ext : {".html", ".htm", ".xhtml"}) {
    if (EqualsIgnoringAsciiCase(ext, html_ext)) return true;
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
  if (bytes.empty()) {
    error = kHtmlFileNotWritten;
    return false;
  }
  IoStatus written = FileSystem::Default().WriteFile(path, std::string_view(bytes.data(), length),
                                                     WriteMode::kTruncate);
  if (!written.ok()) {
    Log("\n Failed to write [%s]", written.ToString().c_str());
    error = kHtmlFileNotWritten;
  }
  return written.ok();
}
