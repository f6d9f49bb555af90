#include "clipboard/clipboard_commands.h"

#include <memory>
#include <vector>

#include "clipboard/clipboard_reader.h"
#include "protocol/command_request.h"
#include "protocol/command_table.h"
#include "protocol/file_records.h"
#include "text/text_conversion.h"
#include "workspace/folder_deletion.h"

namespace {

// The common start: the pdu's "temppath" (read before anything else, so a member of the wrong
// type fails the request before the clipboard is touched) gives the reader's work path.
std::unique_ptr<ClipboardReader> MakeReader(const CommandRequest& request) {
  Json::Value pdu = request.Pdu();
  if (pdu["temppath"].isNull()) pdu["temppath"] = "";
  return std::make_unique<ClipboardReader>(Utf8ToWide(pdu["temppath"].asCString()));
}

// "files" from paths, images only, when at least one record is made.
void AddFileRecords(const PayloadInputs& inputs, Json::Value* pdu) {
  const std::vector<std::string>& paths = inputs.paths_a;
  Json::Value files(Json::arrayValue);
  if (!paths.empty() &&
      AppendFileRecords(paths, files, RecordKey::kBase64String, AnyFile::kNo, inputs.files)) {
    (*pdu)["files"] = files;
  }
}

}  // namespace

std::string RunClipboardCommand(CommandRequest& request) {
  std::unique_ptr<ClipboardReader> reader = MakeReader(request);
  int is_office = 1;
  std::string html;
  if (reader->ReadHtml(&html, &is_office)) {
    request.isOffice = is_office;
    return request.BuildResponse(reader->ImageSources(), {}, Json::Value(), WideToUtf8(html));
  }
  std::vector<std::string> images;
  reader->CaptureImages(&images);
  if (!images.empty()) {
    std::string answer = request.BuildResponse(images, {}, Json::Value(), std::string());
    DeleteFoldersOf(images);
    return answer;
  }
  request.type = 2;
  return request.BuildResponse({}, {}, Json::Value(), WideToUtf8(reader->ReadText()));
}

Json::Value BuildClipboardPdu(const PayloadInputs& inputs) {
  Json::Value pdu(Json::objectValue);
  pdu["clipboarddata"] = inputs.PayloadValue();
  pdu["type"] = inputs.request.type;
  pdu["isoffice"] = inputs.request.isOffice;
  AddFileRecords(inputs, &pdu);
  return pdu;
}

std::string RunClipboardWithImagesCommand(CommandRequest& request) {
  std::unique_ptr<ClipboardReader> reader = MakeReader(request);
  int is_office = 1;
  std::string html, payload;
  std::vector<std::string> sources;
  if (reader->ReadHtml(&html, &is_office)) {
    payload = WideToUtf8(html);
    request.isOffice = is_office;
    sources = reader->ImageSources();
  } else {
    request.type = 2;
    payload = WideToUtf8(reader->ReadText());
  }
  std::vector<std::string> images;
  reader->CaptureImages(&images);
  std::string answer = payload.empty()
                           ? request.BuildResponse(images, {}, Json::Value(), payload)
                           : request.BuildResponse(sources, images, Json::Value(), payload);
  DeleteFoldersOf(images);
  return answer;
}

Json::Value BuildClipboardWithImagesPdu(const PayloadInputs& inputs) {
  Json::Value pdu(Json::objectValue);
  Json::Value format;  // null until something is named
  if (!inputs.payload.empty()) format.append("html");
  pdu["clipboardhtml"] = inputs.PayloadValue();
  pdu["type"] = inputs.request.type;
  pdu["isoffice"] = inputs.request.isOffice;
  AddFileRecords(inputs, &pdu);
  Json::Value image;
  if (!inputs.paths_b.empty() && MakeImageRecord(inputs.paths_b, image, inputs.files)) {
    format.append("image");
    pdu["clipboardimage"] = image;
  }
  pdu["clipboardformat"] = format;
  return pdu;
}
