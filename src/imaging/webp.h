#ifndef ORVO_IMAGING_WEBP_H_
#define ORVO_IMAGING_WEBP_H_

#include <string>

// WebP files are recognised by their RIFF container and turned into PNG by the editor's
// external decoder, since the image library of the clipboard and archive paths is not relied on
// for WebP.

// True when the file's first four bytes are "RIFF". Any RIFF file passes (WAVE and AVI too):
// the form type is not looked at. A missing, unreadable, shorter or non-regular file is not
// RIFF; a pipe is never waited on. Reads only the leading bytes.
bool IsRiffFile(const std::string& path);

// Decodes the WebP file `source_path` into a PNG file at `destination_path` with the editor's
// decoder: EditorDataFolder() + "/dwebp.exe" when that file exists, else `dwebp` on PATH.
// Blocks until the decoder ends (at most 30 s; a decoder still running then is killed).
// True only when the decoder succeeded and the PNG exists and is not empty. When a decoder ran
// and failed, whatever it wrote at `destination_path` is removed. Thread-safe.
bool ConvertWebpToPng(const std::string& source_path, const std::string& destination_path);

#endif  // ORVO_IMAGING_WEBP_H_
