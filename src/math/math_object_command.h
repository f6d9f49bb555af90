#ifndef ORVO_MATH_MATH_OBJECT_COMMAND_H_
#define ORVO_MATH_MATH_OBJECT_COMMAND_H_

#include <json/value.h>

#include <cstdint>
#include <string>
#include <vector>

class CommandRequest;
struct PayloadInputs;

// "cfp-0050": a formula's round trip through the math editor. The document ("mathobject"."medfile",
// base64; none for a new formula) is written to a fresh request folder, the editor is started
// as {executable folder}/Editor (else Editor.exe there) with the arguments
// "__ZORVANE__QUORIN__" "medfile={document}" "output={picture}" "-new" and waited for without a
// time limit. isUpdate becomes 1 when the document changed in any way while the editor ran (a
// new formula always counts as changed) and the picture, in a second request folder, exists.
// The error number is 0 when the editor could not be started, else it stays -1. Both folders
// are deleted afterwards. A "mathobject" that is neither an object nor null, or a "uuid" that is
// an array or an object, raises the JSON library's error.
enum MathObjectResult : int32_t {
  kMathObjectNotStarted = 0,  // "error": the editor could not be started
  kMathObjectUnchanged = 0,   // "isupdate": no new picture of a changed formula
  kMathObjectChanged = 1,     // "isupdate": the formula changed and its picture exists
};
std::string RunMathObjectCommand(CommandRequest& request);

// {"type", "uuid": the request's own "uuid" value, "isupdate", "key": null, and when isupdate is
// not 0 "mathobject" (the document of paths A as a "medfile" record) and "files" (the picture of
// paths B as an image record), each only when its record could be made}. Deletes the folders of
// paths A and B afterwards.
Json::Value BuildMathObjectPdu(const PayloadInputs& inputs);

// The editor's argument vector for a document and an output picture.
std::vector<std::string> MathEditorCommand(const std::string& editor, const std::string& document,
                                           const std::string& picture);

// The math editor beside the executable: "Editor" when it is there and executable, else
// "Editor.exe" (which then may fail to start).
std::string MathEditorPath();

#endif  // ORVO_MATH_MATH_OBJECT_COMMAND_H_
