#ifndef ORVO_COMPONENTS_MIME_CODEC_PART_NAMES_H_
#define ORVO_COMPONENTS_MIME_CODEC_PART_NAMES_H_

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace mimecodec {

// The file name that the page of an archive is written under; no part may take it.
inline constexpr char kPageFileName[] = "noname.htm";
// Longest file name written, in bytes.
inline constexpr size_t kMaxNameBytes = 200;

// What a part says about its name.
struct PartNaming {
  std::string_view location;    // Content-Location, as written
  std::string_view file_name;   // "filename" (disposition) or "name" (content type) parameter
  std::string_view content_id;  // without '<' '>'
  std::string_view media_type;  // "image/png"; lower case
};

// The plain leaf name a part asks for: the last segment of its Content-Location (query and
// fragment cut off, percent escapes decoded; a "cid:" location gives none), else its file name
// parameter's last segment, else its Content-ID (with the media type's extension unless it ends in
// it already: its dots are a domain's), else "part"; made safe by SafeLeafName, with the media
// type's extension added when it has none. Never empty; not yet unique.
std::string DesiredPartName(const PartNaming& naming);

// A name that can only be a file directly inside a folder: '/', '\', control characters and
// the characters Windows forbids in names become '_', as does every byte that is not part of
// valid UTF-8; trailing dots and blanks are dropped (Windows drops them); empty, "." and ".."
// give "". Not yet cut to length.
std::string SafeLeafName(std::string_view raw);

// ".png" for "image/png" and the other media types an archive commonly carries; ".bin" else.
std::string ExtensionOfMediaType(std::string_view media_type);

// Hands out names that differ from each other without regard to ASCII case and from
// kPageFileName, each at most kMaxNameBytes bytes of valid UTF-8: the first request for a name
// gets it (cut to length), later ones "stem_1.ext", "stem_2.ext"... Not thread-safe.
class NameRegistry {
 public:
  NameRegistry();
  std::string Claim(const std::string& name);

 private:
  std::unordered_set<std::string> taken_;  // lower case
  std::unordered_map<std::string, unsigned> next_suffix_;
};

}  // namespace mimecodec

#endif  // ORVO_COMPONENTS_MIME_CODEC_PART_NAMES_H_
