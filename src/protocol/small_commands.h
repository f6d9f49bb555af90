#ifndef ORVO_PROTOCOL_SMALL_COMMANDS_H_
#define ORVO_PROTOCOL_SMALL_COMMANDS_H_

#include <json/value.h>

#include <cstdint>
#include <string>

class CommandRequest;
struct PayloadInputs;

// "cfp-0030", clean-up: accepted and answered with an empty body; it reads and sets nothing.
std::string RunCleanupCommand(CommandRequest& request);
// {"cleanuphtml": payload text}. No worker feeds it: the command has no clean-up work yet.
Json::Value BuildCleanupPdu(const PayloadInputs& inputs);

// "cfp-0040", file contents: answers {"files": the request's "files" array, each element that
// names a readable, non-empty image given "base64string"}; "files" is null when the request has
// none. The error number stays -1. A "pdu" that is neither an object nor null, or an element
// that is not an object, raises the JSON library's error.
std::string RunFilesCommand(CommandRequest& request);
Json::Value BuildFilesPdu(const PayloadInputs& inputs);

// "cfp-0060", save an HTML file: writes "html" as UTF-8 (no byte-order mark) to "filefullpath".
// A "filefullpath" that is not valid UTF-8 writes nothing and answers 5.
// "pdu" of the answer is null; the error number is one of these. "html", "filefullpath" or
// "temppath" present but not a string raises the JSON library's error.
enum HtmlFileError : int32_t {
  kHtmlFileWritten = 0,
  kHtmlFileNotWritten = 5,        // empty text, file not creatable, not a regular file,
                                  // name not UTF-8, write error
  kHtmlFileBadExtension = 7,      // not .html, .htm or .xhtml; nothing written
  kHtmlFileMissingMember = 10000  // "html" or "filefullpath" absent or null
};
std::string RunHtmlFileCommand(CommandRequest& request);

// Whether the extension of path's last component is ".html", ".htm" or ".xhtml", compared
// without regard to case.
bool IsHtmlFileName(const std::string& path);

// Sets error to 0, then writes html to path (created or truncated) up to its first 0 byte.
// error becomes 7 (nothing written) for a name that is not an HTML file name, 5 when the text is
// empty, the file cannot be created or written, or path names something other than a regular
// file (a pipe, a device, a folder), which is left untouched. Returns whether it was written.
bool SaveHtmlFile(const std::string& html, const std::string& path, int32_t& error);

#endif  // ORVO_PROTOCOL_SMALL_COMMANDS_H_
