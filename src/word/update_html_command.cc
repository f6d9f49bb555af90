#include "word/update_html_command.h"

#include <algorithm>

#include "protocol/command_request.h"
#include "protocol/command_table.h"
#include "protocol/file_records.h"
#include "text/text_conversion.h"
#include "text/text_file.h"
#include "word/document_state.h"
#include "word/html_image_document.h"
#include "word/run_and_wait.h"
#include "word/word_processor.h"
#include "workspace/path_macros.h"
#include "workspace/request_folder.h"
#include "workspace/temp_workspace.h"

namespace {

constexpr char kPictureExtensions[] = "jpg|png|gif|tiff|tif|dib|bmp|rle";

// The page as the word processor gets it: inline images cut out into files. A page too large
// for the engine goes as it stands, images inline, rather than as an empty page the user would
// see and could save over their own. The page is handed over: it is not held twice while it is
// parsed.
void WritePage(TempWorkspace& ws, std::string html) {
  std::string resource_folder = ws.EnsureResourceFolder();
  HtmlImageDocument document;
  std::string refused;
  if (document.LoadHtml(std::move(html), &refused)) {
    document.ExtractDataImages(resource_folder);
    WriteDataFile(ws, WideToUtf8(document.GetOuterHtml()), DataEncoding::kText);
  } else {
    WriteDataFile(ws, WideToUtf8(refused), DataEncoding::kText);
  }
}

std::string ReadBack(TempWorkspace& ws, std::vector<std::string>& pictures) {
  std::string bytes;
  if (!ReadWholeFile(ws.DocumentPath(), bytes)) return {};
  ws.ListResourceImages(kPictureExtensions, pictures);
  // LibreOffice writes the pictures of a saved HTML document beside it, named
  // "{document name}_html_{hash}.{ext}", and links them by relative paths.
  const std::string& path = ws.DocumentPath();
  std::string name = FileNamePart(path);
  ListFolderImages(ws.Folder(), kPictureExtensions, name.substr(0, name.rfind('.')) + "_html_",
                   pictures);
  return DocumentText(bytes);
}

}  // namespace

std::string DocumentText(std::string_view bytes) {
  if (bytes.size() > 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::string text;
    DecodeTextBytes(bytes, text);
    return text;
  }
  return std::string(bytes.substr(0, std::min(bytes.size(), bytes.find('\0'))));
}

std::string RunUpdateHtmlCommand(CommandRequest& request) {
  Json::Value pdu = request.Pdu();
  if (pdu["temppath"].isNull()) pdu["temppath"] = "";
  const Json::Value& html_value = pdu["html"];
  std::string html = html_value.isString() ? Utf8ToWide(request.TextOf(html_value)) : std::string();
  TempWorkspace ws;
  if (!ws.PrepareIn(OpenRequestFolder(pdu["temppath"].asString()), "")) {
    // As when the word processor cannot be started: nothing to edit, nothing written.
    request.error = 0;
    return request.BuildResponse({}, {}, Json::Value(), std::string());
  }
  WritePage(ws, std::move(html));
  DocumentState before = CaptureDocument(ws.DocumentPath());
  std::string profile = ws.Folder().empty() ? std::string() : ws.Folder() + "/profile";
  std::vector<std::string> argv = WordProcessorCommand(ws.DocumentPath(), profile);

  std::string answer;
  ProgramRun run = RunAndWait(argv, ws.DocumentPath());
  if (run == ProgramRun::kAbandoned) return {};  // the document is still open: leave it
  if (run == ProgramRun::kNotStarted) {
    request.error = kUpdateHtmlNotStarted;
    answer = request.BuildResponse({}, {}, Json::Value(), std::string());
  } else {
    EndWordProcessorOf(profile);
    if (CaptureDocument(ws.DocumentPath()) != before) request.isUpdate = kUpdateHtmlChanged;
    std::vector<std::string> pictures;
    std::string text = ReadBack(ws, pictures);
    answer = request.BuildResponse(pictures, {}, Json::Value(), text);
  }
  DeleteWordProcessorProfile(profile);
  DeleteTree(ws.Folder());
  return answer;
}

Json::Value BuildUpdateHtmlPdu(const PayloadInputs& inputs) {
  Json::Value pdu(Json::objectValue);
  pdu["isupdate"] = inputs.request.isUpdate;
  pdu["updatedhtml"] = inputs.PayloadValue();
  if (inputs.request.isUpdate != kUpdateHtmlUnchanged && !inputs.paths_a.empty()) {
    Json::Value files(Json::arrayValue);
    if (AppendFileRecords(inputs.paths_a, files, RecordKey::kBase64String, AnyFile::kNo,
                          inputs.files)) {
      pdu["files"] = files;
    }
  }
  return pdu;
}
