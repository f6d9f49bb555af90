#ifndef ORVO_WORD_UPDATE_HTML_COMMAND_H_
#define ORVO_WORD_UPDATE_HTML_COMMAND_H_

#include <json/value.h>

#include <cstdint>
#include <string>
#include <string_view>

class CommandRequest;
struct PayloadInputs;

// "cfp-0020": hands the page's HTML ("html"; a missing or non-string value counts as empty) to
// the word processor and answers with the document as read back once the program has ended.
// The page is written, its "data:" images cut out into its companion folder, to a fresh request
// folder under "temppath" (path macros expanded); the program is started on it (see
// WordProcessorCommand) and waited for (RunAndWait) without a time limit. isUpdate becomes 1
// when the document changed in any way (existence, size, modification time, content) while
// the program ran. The pictures are the images in the companion folder and, for LibreOffice,
// the "{name}_html_*" images it writes beside the document. The error number is 0 when the
// program could not be started, else it stays -1. The request folder is deleted afterwards.
// A "temppath" that is an array or an object raises the JSON library's error.
enum UpdateHtmlResult : int32_t {
  kUpdateHtmlNotStarted = 0,    // "error": the word processor could not be started
  kUpdateHtmlUnchanged = 0,     // "isupdate": the document is as it was written
  kUpdateHtmlChanged = 1,       // "isupdate": the document changed while the program ran
};
std::string RunUpdateHtmlCommand(CommandRequest& request);

// {"isupdate", "updatedhtml": payload text, "files": records of paths A (images only) when
// isupdate is not 0 and at least one record could be made}.
Json::Value BuildUpdateHtmlPdu(const PayloadInputs& inputs);

// The document as the program left it: after a UTF-16LE mark (FF FE, more than 2 bytes in all)
// the text up to its first 0 unit, converted to UTF-8; otherwise the bytes up to the first 0.
std::string DocumentText(std::string_view bytes);

#endif  // ORVO_WORD_UPDATE_HTML_COMMAND_H_
