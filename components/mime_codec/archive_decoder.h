#ifndef ORVO_COMPONENTS_MIME_CODEC_ARCHIVE_DECODER_H_
#define ORVO_COMPONENTS_MIME_CODEC_ARCHIVE_DECODER_H_

#include <string>
#include <string_view>

namespace mimecodec {

// Parts nested deeper than this are not read.
inline constexpr int kMaxNestingDepth = 64;

// Unpacks archive into the folder open as folder_fd (never closed here) as mime_codec_interface.h describes (page
// "noname.htm", one file per other leaf part, references rewritten). The archive is read in
// place, never copied; part contents are decoded straight into their files. Returns whether
// the page was written. GMime must be initialised.
bool DecodeArchive(std::string_view archive, int folder_fd);

}  // namespace mimecodec

#endif  // ORVO_COMPONENTS_MIME_CODEC_ARCHIVE_DECODER_H_
