#ifndef ORVO_MIME_ENCODE_OPTIONS_H_
#define ORVO_MIME_ENCODE_OPTIONS_H_

#include <cstdint>
#include <string>

#include "mime/reference_resolution.h"

class CommandRequest;

namespace Json {
class Value;
}

// Bits of "mimeencodefilter": which element kinds the document walk takes.
enum EncodeFilter : int32_t {
  kFilterImages = 0x01,       // img, input, backgrounds, list items, VML image data
  kFilterStyleSheets = 0x02,  // link elements and the @import rules of style blocks
  kFilterEmbeds = 0x04,
  kFilterScripts = 0x08,
  kFilterApplets = 0x10,
  kFilterSounds = 0x20,
};

// What an encode walks and archives ("mimeencoderange"). One rule for every non-zero value:
// the body is both what is walked and what is written, so no resource of the head is embedded
// for a page that no longer names it.
enum class EncodeRange {
  kWholeDocument,  // 0: the html element and everything in it
  kBodyOnly,       // any other value: the body's content
};

// The range and file scope a request's number stands for.
EncodeRange EncodeRangeOf(int32_t value);
FileScope FileScopeOf(int32_t value);  // 0 and 2 as named; any other value is kAll

// The settings of one encode, created with these defaults for every request.
struct EncodeOptions {
  FileScope file_scope = FileScope::kLocalAndWeb;  // "mimeencodefilescope"
  int32_t filter = kFilterImages;                  // "mimeencodefilter"
  std::string include_prefix;  // "mimeencodeincludeurl": web URLs starting with it are taken
  EncodeRange range = EncodeRange::kWholeDocument;  // "mimeencoderange"
  int32_t encode_type = 3;                          // "mimeencodetype", handed to the codec
  int32_t integer_setting = 2;                      // codec settings this service never changes
  bool boolean_setting = true;
  std::string charset = "utf-8";  // the archive's charset
  std::string workspace;          // the request folder, ending in '/'
};

// Reads "mimeoptions" of a payload into options (the workspace is left as it is). A missing or
// null "mimeoptions", and each missing or null key, keeps the default. A value of the wrong
// type (a prefix that is not a string, a number that is not one, a "mimeoptions" that is not an
// object) raises the JSON library's own error, which ends the request.
void ReadEncodeOptions(const Json::Value& pdu, EncodeOptions& options);

// The pdu of both archive commands to read from: the request's own when it is an object (the
// page or archive may be tens of megabytes and is only read, so it is not copied), else a copy
// in *copy, whose lookups raise the JSON library's error as any worker's copy does.
const Json::Value& PduToRead(const CommandRequest& request, Json::Value& copy);

#endif  // ORVO_MIME_ENCODE_OPTIONS_H_
