#ifndef ORVO_PROTOCOL_FILE_RECORDS_H_
#define ORVO_PROTOCOL_FILE_RECORDS_H_

#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "text/base64.h"

// File records: the JSON objects {"filename", "filepath", "base64string" or "medfile"} that carry
// local files to the page. Thread-safe; nothing is shared between calls.

enum class Base64LineEnds { kCrLf, kJsonEscaped };

// Base64Encode (kCrLf) or Base64EncodeEscaped of bytes in a mapped file that another process
// may cut short meanwhile: that fails the encoding (false; out holds part of the text) instead
// of ending the service. *written is the count of characters written.
bool Base64EncodeMapped(const unsigned char* data, size_t length, Base64LineEnds line_ends,
                        char* out, size_t* written);

enum class ImageOnly { kNo, kYes };

// The largest text a record can carry: the JSON library's limit for one string value, below the
// record format's 32-bit size.
inline constexpr uint64_t kMaxRecordText = 2147483642u;

// The base64 text of one file: text_length characters at text, followed by a 0.
struct EncodedFile {
  std::unique_ptr<char[]> text;
  size_t text_length = 0;
  uint32_t size = 0;  // the file's length in bytes
};

// Reads the file at path through a read-only mapping and encodes it in one pass into one
// buffer of exactly Base64BufferSize bytes. With ImageOnly::kYes the file must pass the image
// test (IsReadableImage, applied to the mapped bytes) or start with "RIFF". Fails for a missing,
// unreadable, non-regular or empty file; a file of 4 GiB or more, or one whose text would exceed
// kMaxRecordText, fails with the log line
// "\n file too large for a record [%s]" instead of being cut short.
bool EncodeFileBase64(const std::string& path, ImageOnly image_only, EncodedFile& encoded);

// The record functions below put the file's text into a record's content member; given the
// answer's AnswerFiles (during every command), that member is instead the answer's stand-in for
// the file (answer_files.h): the answer's writer puts the text in its place, read straight from
// the file.

class AnswerFiles;
class MappedFile;

// Files of fewer bytes than this are held in memory for an answer rather than mapped.
inline constexpr uint64_t kHeldFileBytes = uint64_t{64} << 10;

// bytes served as a file's mapping (for AnswerFiles::KeepBytes).
std::unique_ptr<MappedFile> HeldBytes(std::string bytes);

enum class RecordKey { kBase64String, kMedFile };
enum class AnyFile { kNo, kYes };

// Appends one record per usable path to array, in order; records already in array stay. Every
// "file:///" in a path is read as "/" first. Files are tested as images unless key is kMedFile
// or any_file is kYes; the content goes under "medfile" for kMedFile, else "base64string".
// Returns whether at least one record was appended.
bool AppendFileRecords(const std::vector<std::string>& paths, Json::Value& array, RecordKey key,
                       AnyFile any_file, AnswerFiles* answer);

// Stores in value the record {"filename", "base64string"} of the last path that is a usable
// image, printing "\nadd base64 [%s]" with its name for each one taken. Returns whether a
// record was made; value is untouched otherwise.
bool MakeImageRecord(const std::vector<std::string>& paths, Json::Value& value,
                     AnswerFiles* answer);

// For a JSON array of objects naming files by "filepath": adds "base64string" to each element
// whose file is a usable image, keeping every other member and the order. Paths are used as
// given. A value that is not an array stays unchanged. An element that is not an object (nor
// null) raises the JSON library's error.
void FillFileContents(Json::Value& value, AnswerFiles* answer);

#endif  // ORVO_PROTOCOL_FILE_RECORDS_H_
