#ifndef ORVO_MIME_MIME_ENCODE_COMMAND_H_
#define ORVO_MIME_MIME_ENCODE_COMMAND_H_

#include <json/value.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class CommandRequest;
class CodecText;
class MimeCodecClient;
struct EncodeOptions;
struct PayloadInputs;

// "cfp-0001", encode a page as a MIME archive: gathers the page's resources into a fresh request
// folder under "temppath", rewrites its references to "cid:" references and has the codec
// component write the archive, answered as {"mimevalue": archive} ("" on failure). The folder
// is removed after a successful encode and kept after a failed one. Every member is read before
// the folder is made, so a member of the wrong type (the JSON library's error, which ends the
// request) leaves nothing behind.
enum MimeEncodeError : int32_t {
  kMimeEncoded = 0,
  kMimeEncodeNoCodec = 1,      // the codec component is not available
  kMimeEncodeBadPage = 2,      // an empty page, or one the HTML engine cannot take
  kMimeEncodeCodecFailed = 3,  // the codec's encode failed
};
std::string RunMimeEncodeCommand(CommandRequest& request);

// {"mimevalue": payload}.
Json::Value BuildMimeEncodePdu(const PayloadInputs& inputs);

// Sets error to 0, then parses page (UTF-8; invalid sequences become U+FFFD), collects its
// resources into options.workspace, serialises it (the body's inner HTML for a body-only
// range, else the whole document) and has codec write the archive. Returns the archive text
// (UTF-8) and deletes the workspace; on failure returns "" with error 1, 2 or 3 as above and
// leaves the workspace. With leftovers, what the encode built beside the archive (the
// resource list, without its large picture bytes) is handed to *leftovers on success instead of
// being let go of before the return, for a caller that sends the archive first.
CodecText EncodeMimeArchive(const MimeCodecClient& codec, const EncodeOptions& options,
                            std::string_view page, int32_t& error,
                            std::shared_ptr<const void>* leftovers = nullptr);

#endif  // ORVO_MIME_MIME_ENCODE_COMMAND_H_
