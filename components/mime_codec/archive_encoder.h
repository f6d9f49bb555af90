#ifndef ORVO_COMPONENTS_MIME_CODEC_ARCHIVE_ENCODER_H_
#define ORVO_COMPONENTS_MIME_CODEC_ARCHIVE_ENCODER_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace mimecodec {

struct EncodeSettings {
  int encode_type = 3;  // 1 8bit, 2 quoted-printable, else base64
  std::string charset = "utf-8";
};

// One resource written beside the page (MimeArchiveResource; the texts owned, the bytes not).
struct ResourceRecord {
  std::string content_id;
  std::string path;
  std::string name;
  std::string media_type;
  // The content the caller read already, written instead of the file at path; null: read path.
  const unsigned char* bytes = nullptr;
  size_t length = 0;
};

// Writes the archive of page and resources (format in mime_codec_interface.h). On success
// *archive is a zero-terminated text allocated with g_malloc (free with g_free) of
// *archive_length bytes. GMime must be initialised.
bool EncodeArchive(std::string_view page, const std::vector<ResourceRecord>& resources,
                   const EncodeSettings& settings, char** archive, size_t* archive_length);

}  // namespace mimecodec

#endif  // ORVO_COMPONENTS_MIME_CODEC_ARCHIVE_ENCODER_H_
