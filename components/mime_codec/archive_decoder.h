#ifndef ORVO_COMPONENTS_MIME_CODEC_ARCHIVE_DECODER_H_
#define ORVO_COMPONENTS_MIME_CODEC_ARCHIVE_DECODER_H_

#include <functional>
#include <string>
#include <string_view>

namespace mimecodec {

// Parts nested deeper than this are not read.
inline constexpr int kMaxNestingDepth = 64;

// Unpacks archive into the folder open as folder_fd (never closed here) as mime_codec_interface.h
// describes (page "noname.htm", one file per other leaf part, references rewritten). The archive is
// read in place, never copied; part contents are decoded straight into their files. Returns whether
// the page was written. GMime must be initialised. A multipart archive of more than
// batch_parts top-level parts (0: the component's own number) is read that many parts at a
// time, so that its memory does not grow with the number of parts; the files are the same.
//
// Given written, each file whose bytes the decode held whole in memory (the page, rewritten
// sheets and frames, parts of up to kWholePartBytes) is handed to it once the file is written
// and closed: its name in the folder and its bytes, valid during the call. Files written piece
// by piece, or whose writing failed, are not.
//
// Given encoded, each file whose content is base64 spelt as IsCanonicalBase64 (part_content.h)
// has, lying in archive itself, is handed to it once the file is written and closed: its name,
// where its text lies in archive (CR LF of the last line included) and its size.
using WrittenFileSink = std::function<void(const std::string& name, std::string_view bytes)>;
using EncodedFileSink =
    std::function<void(const std::string& name, size_t offset, size_t length, uint64_t size)>;
bool DecodeArchive(std::string_view archive, int folder_fd, size_t batch_parts = 0,
                   const WrittenFileSink& written = nullptr,
                   const EncodedFileSink& encoded = nullptr);

}  // namespace mimecodec

#endif  // ORVO_COMPONENTS_MIME_CODEC_ARCHIVE_DECODER_H_
