#ifndef ORVO_MIME_MIME_DECODE_COMMAND_H_
#define ORVO_MIME_MIME_DECODE_COMMAND_H_

#include <json/value.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class AnswerFiles;
class HeldFolder;
class CommandRequest;
class MimeCodecClient;
struct PayloadInputs;

// "cfp-0002", decode a MIME archive: unpacks "mimevalue" with the codec component into a fresh
// request folder under "temppath", answers {"html": page text, "files": records of the other
// files} and removes the folder. Errors: 4 (empty archive, no codec, no page after decoding),
// 6 (page unreadable as text), 10000 ("mimevalue" missing or null). Every member is read
// before the folder is made, so a member of the wrong type (the JSON library's error) leaves
// nothing behind.
enum MimeDecodeError : int32_t {
  kMimeDecoded = 0,
  kMimeDecodeFailed = 4,
  kMimeDecodePageUnreadable = 6,
  kMimeDecodeMissingArchive = 10000,
};
std::string RunMimeDecodeCommand(CommandRequest& request);
// The same with the given codec instead of the one beside the executable.
std::string RunMimeDecodeCommand(CommandRequest& request, const MimeCodecClient& codec);

// {"html": payload}, plus "files" with a record of every readable, non-empty file of paths_a
// when there is one.
Json::Value BuildMimeDecodePdu(const PayloadInputs& inputs);

// Sets error to 0, then unpacks archive (UTF-8) into the held folder with codec. Returns the
// page as UTF-8 and appends the other files of the folder to files; on failure returns "" with
// error 4 or 6 as above. Given answer, the bytes of small files the component handed over as
// it wrote them are kept there for the answer's records (AnswerFiles::KeepBytes); given also
// archive_holder, the owner of archive's bytes, the base64 text of each file that the archive
// holds spelt as the answer would spell it is kept instead (AnswerFiles::KeepEncoded), so that
// the answer quotes the archive rather than encoding the file again. With archive_ascii the
// archive is known to be all ASCII and is not checked for UTF-8 again.
std::string DecodeMimeArchive(const MimeCodecClient& codec, const HeldFolder& folder,
                              std::string_view archive, std::vector<std::string>& files,
                              int32_t& error, AnswerFiles* answer = nullptr,
                              bool archive_ascii = false,
                              std::shared_ptr<const void> archive_holder = nullptr);

// The page file the codec wrote into folder (ends in '/'): "noname.htm", else the first of
// "*.htm", "*.html", "*.txt", "*.*", each looked for without regard to case and, among several
// matches, the first name in byte order (a folder listing has no order of its own). Folders and
// links are never the page. Empty when folder is empty or nothing matches.
std::string FindDecodedPage(const std::string& folder);

// Appends every regular file beside page_path (one level, in byte order of the names) except
// the page itself (compared without regard to case). Returns whether any was appended.
bool CollectDecodedFiles(const std::string& page_path, std::vector<std::string>& files);

#endif  // ORVO_MIME_MIME_DECODE_COMMAND_H_
