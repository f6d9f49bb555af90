#ifndef ORVO_MIME_ENCODE_OPTIONS_H_
#define ORVO_MIME_ENCODE_OPTIONS_H_

#include <cstdint>
#include <string>

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

// The settings of one encode, created with these defaults for every request.
struct EncodeOptions {
  int32_t file_scope = 0;          // "mimeencodefilescope" (see FileScope)
  int32_t filter = kFilterImages;  // "mimeencodefilter"
  std::string include_prefix;      // "mimeencodeincludeurl": web URLs starting with it are taken
  int32_t range = 0;               // "mimeencoderange": 1 walks and archives the body only
  int32_t encode_type = 3;         // "mimeencodetype", handed to the codec
  int32_t integer_setting = 2;     // codec settings this service never changes
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
