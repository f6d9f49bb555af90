#include "math/math_object_command.h"

#include "platform/executable_path.h"
#include "platform/process.h"
#include "protocol/command_request.h"
#include "protocol/command_table.h"
#include "protocol/file_records.h"
#include "text/text_conversion.h"
#include "word/document_state.h"
#include "word/run_and_wait.h"
#include "workspace/request_folder.h"
#include "workspace/temp_workspace.h"

namespace {

// Tells the editor that it was started for a page's math object.
constexpr char kEditorMarker[] = "__ZORVANE__QUORIN__";

bool RecordsOf(const std::vector<std::string>& paths, RecordKey key, AnswerFiles* answer,
               Json::Value& out) {
  if (paths.empty()) return false;
  Json::Value array(Json::arrayValue);
  if (!AppendFileRecords(paths, array, key, AnyFile::kNo, answer)) return false;
  out = array;
  return true;
}

// The answer once the editor has ended: the document and the picture as records, whether the
// formula changed, and both folders removed.
std::string AnswerAfterEditing(CommandRequest& request, TempWorkspace& ws,
                               const DocumentState& before, const std::string& picture) {
  // A new formula has no earlier state: whatever the editor left counts as a change.
  bool changed = !before.status.Exists() || CaptureDocument(ws.DocumentPath()) != before;
  if (changed && FileExists(picture)) request.isUpdate = kMathObjectChanged;
  std::vector<std::string> documents{ws.DocumentPath()};
  std::vector<std::string> pictures{picture};
  std::string answer = request.BuildResponse(documents, pictures, Json::Value(), std::string());
  // The payload builder has removed both folders; these find nothing left but are kept so the
  // log reads the same whichever step removed what.
  DeleteFoldersOf(documents);
  DeleteFoldersOf(pictures);
  DeleteTree(ws.Folder());
  return answer;
}

}  // namespace

std::vector<std::string> MathEditorCommand(const std::string& editor, const std::string& document,
                                           const std::string& picture) {
  return {editor, kEditorMarker, "medfile=" + document, "output=" + picture, "-new"};
}

std::string MathEditorPath() {
  std::string folder = ExecutableFolder();
  std::string native = folder + "Editor";
  return !FindProgram(native).empty() ? native : folder + "Editor.exe";
}

std::string RunMathObjectCommand(CommandRequest& request) {
  Json::Value pdu = request.Pdu();
  const Json::Value& math_object = pdu["mathobject"];
  std::string text = math_object.isNull() ? std::string() : math_object["medfile"].asString();
  request.uuid = Utf8ToWide(pdu["uuid"].asString());

  TempWorkspace ws;
  std::unique_ptr<HeldFolder> picture_folder;
  if (ws.PrepareIn(OpenRequestFolder(""), ".med")) picture_folder = OpenRequestFolder("");
  std::string picture =
      picture_folder != nullptr ? UniqueFilePath(picture_folder->Path(), ".png") : "";
  if (picture.empty()) {
    // As when the editor cannot be started: nothing to edit, nothing written.
    request.error = 0;
    DeleteTree(ws.Folder());
    return request.BuildResponse({}, {}, Json::Value(), std::string());
  }
  if (!text.empty()) WriteDataFile(ws, text, DataEncoding::kBase64);
  DocumentState before = CaptureDocument(ws.DocumentPath());

  std::vector<std::string> argv = MathEditorCommand(MathEditorPath(), ws.DocumentPath(), picture);
  ProgramRun run = RunAndWait(argv, picture);
  if (run == ProgramRun::kAbandoned) return {};  // the editor still has its files open
  if (run == ProgramRun::kNotStarted) {
    request.error = kMathObjectNotStarted;
    std::string answer = request.BuildResponse({}, {}, Json::Value(), std::string());
    DeleteTree(ws.Folder());
    DeleteFolderOf(picture);
    return answer;
  }
  return AnswerAfterEditing(request, ws, before, picture);
}

Json::Value BuildMathObjectPdu(const PayloadInputs& inputs) {
  Json::Value pdu(Json::objectValue);
  pdu["type"] = inputs.request.type;
  pdu["uuid"] = inputs.request.Pdu()["uuid"];
  pdu["isupdate"] = inputs.request.isUpdate;
  pdu["key"] = Json::Value();
  if (inputs.request.isUpdate != kMathObjectUnchanged) {
    Json::Value records;
    if (RecordsOf(inputs.paths_a, RecordKey::kMedFile, inputs.files, records))
      pdu["mathobject"] = records;
    if (RecordsOf(inputs.paths_b, RecordKey::kBase64String, inputs.files, records))
      pdu["files"] = records;
  }
  DeleteFoldersOf(inputs.paths_a);
  DeleteFoldersOf(inputs.paths_b);
  return pdu;
}
