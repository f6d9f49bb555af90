#include "protocol/file_records.h"

#include <cstring>

#include "imaging/image_utils.h"
#include "imaging/webp.h"
#include "platform/bus_error_guard.h"
#include "platform/file_system.h"
#include "platform/log.h"
#include "text/text_conversion.h"
#include "workspace/path_macros.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kLineChars = 76;
constexpr size_t kLineBytes = kLineChars / 4 * 3;  // 57

// The two output characters of every 12-bit value: one lookup per half of a 3-byte group.
struct PairTable {
  char pairs[4096][2];
  constexpr PairTable() : pairs() {
    for (int i = 0; i < 4096; ++i) {
      pairs[i][0] = kAlphabet[i >> 6];
      pairs[i][1] = kAlphabet[i & 63];
    }
  }
};
constexpr PairTable kPairs;

inline void PutPair(char* out, uint32_t twelve_bits) {
  std::memcpy(out, kPairs.pairs[twelve_bits], 2);
}

// Encodes whole groups: 3*groups bytes to 4*groups characters.
inline char* EncodeGroups(const unsigned char* in, size_t groups, char* out) {
  for (size_t g = 0; g < groups; ++g, in += 3, out += 4) {
    uint32_t value = (uint32_t{in[0]} << 16) | (uint32_t{in[1]} << 8) | in[2];
    PutPair(out, value >> 12);
    PutPair(out + 2, value & 0xFFF);
  }
  return out;
}

// The 8 bytes at in as a big-endian number.
inline uint64_t LoadBigEndian64(const unsigned char* in) {
  uint64_t value;
  std::memcpy(&value, in, 8);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  value = __builtin_bswap64(value);
#endif
  return value;
}

// One whole line: 57 bytes to 76 characters, two groups per 8-byte load. The loads of the
// nine double groups end at byte 56 of the line, so nothing past the line is read.
inline char* EncodeLine(const unsigned char* in, char* out) {
  for (int pair = 0; pair < 9; ++pair, in += 6, out += 8) {
    uint64_t value = LoadBigEndian64(in);
    PutPair(out, (value >> 52) & 0xFFF);
    PutPair(out + 2, (value >> 40) & 0xFFF);
    PutPair(out + 4, (value >> 28) & 0xFFF);
    PutPair(out + 6, (value >> 16) & 0xFFF);
  }
  return EncodeGroups(in, 1, out);
}

bool PassesImageTest(const std::string& path) { return IsReadableImage(path) || IsRiffFile(path); }

Json::Value TextValue(const EncodedFile& encoded) {
  return Json::Value(encoded.text.get(), encoded.text.get() + encoded.text_length);
}

}  // namespace

size_t Base64BufferSize(size_t length) {
  size_t chars = (length + 2) / 3 * 4;
  return chars + 2 * ((chars + kLineChars - 1) / kLineChars) + 1;
}

size_t Base64Encode(const unsigned char* data, size_t length, char* out) {
  char* start = out;
  size_t full_lines = length / kLineBytes;
  for (size_t line = 0; line < full_lines; ++line) {
    out = EncodeLine(data, out);
    data += kLineBytes;
    *out++ = '\r';
    *out++ = '\n';
  }
  size_t rest = length - full_lines * kLineBytes;
  if (rest > 0) {
    out = EncodeGroups(data, rest / 3, out);
    data += rest / 3 * 3;
    size_t tail = rest % 3;
    if (tail > 0) {
      uint32_t value = uint32_t{data[0]} << 16;
      if (tail == 2) value |= uint32_t{data[1]} << 8;
      *out++ = kAlphabet[(value >> 18) & 63];
      *out++ = kAlphabet[(value >> 12) & 63];
      *out++ = tail == 2 ? kAlphabet[(value >> 6) & 63] : '=';
      *out++ = '=';
    }
    *out++ = '\r';
    *out++ = '\n';
  }
  *out = '\0';
  return static_cast<size_t>(out - start);
}

std::string Base64Encode(std::string_view data) {
  std::string text(Base64BufferSize(data.size()), '\0');
  size_t written =
      Base64Encode(reinterpret_cast<const unsigned char*>(data.data()), data.size(), text.data());
  text.resize(written);
  return text;
}

namespace {

struct MappedEncode {
  const unsigned char* data;
  size_t length;
  char* out;
  size_t written;
};

void RunMappedEncode(void* context) {
  auto* job = static_cast<MappedEncode*>(context);
  job->written = Base64Encode(job->data, job->length, job->out);
}

}  // namespace

namespace {

// The log line and the refusal of a file too large for one record.
bool FitsInRecord(const std::string& path, uint64_t length) {
  if (length <= UINT32_MAX && Base64BufferSize(length) - 1 <= kMaxRecordText) return true;
  Log("\n file too large for a record [%s]", path.c_str());
  return false;
}

}  // namespace

bool EncodeFileBase64(const std::string& path, ImageOnly image_only, EncodedFile& encoded) {
  encoded = EncodedFile();
  FileSystem& file_system = FileSystem::Default();
  FileStatus status = file_system.Status(path, FollowLinks::kYes);
  // Regular files only, tested before the image test reads anything: a page could name a
  // pipe or a device such as /dev/zero, which would never end.
  if (status.type != FileType::kRegular || status.size == 0 ||
      (image_only == ImageOnly::kYes && !PassesImageTest(path)) ||
      !FitsInRecord(path, status.size)) {
    return false;
  }
  std::unique_ptr<MappedFile> mapped = file_system.MapReadOnly(path);
  // The file may have changed since it was looked at: the mapping's length is the one used.
  if (mapped == nullptr || !FitsInRecord(path, mapped->size())) return false;
  size_t room = Base64BufferSize(mapped->size());
  encoded.text.reset(new (std::nothrow) char[room]);
  if (encoded.text == nullptr) return false;
  MappedEncode job{mapped->data(), mapped->size(), encoded.text.get(), 0};
  // Another process may shorten the file while it is mapped; that must fail this record,
  // not end the service.
  bool complete = CallCatchingBusError(RunMappedEncode, &job);
  encoded.text_length = job.written;
  encoded.size = static_cast<uint32_t>(mapped->size());
  if (!complete) encoded = EncodedFile();
  return complete;
}

bool AppendFileRecords(const std::vector<std::string>& paths, Json::Value& array, RecordKey key,
                       AnyFile any_file) {
  ImageOnly image_only = key == RecordKey::kBase64String && any_file == AnyFile::kNo
                             ? ImageOnly::kYes
                             : ImageOnly::kNo;
  const char* content_key = key == RecordKey::kMedFile ? "medfile" : "base64string";
  bool appended = false;
  for (const std::string& given : paths) {
    std::string path = RemoveFileUrl(given);
    EncodedFile encoded;
    if (!EncodeFileBase64(path, image_only, encoded) || encoded.size == 0) continue;
    Json::Value record(Json::objectValue);
    record["filename"] = WideToUtf8(FileNamePart(path));
    record["filepath"] = WideToUtf8(path);
    record[content_key] = TextValue(encoded);
    encoded.text.reset();
    array[array.size()] = std::move(record);
    appended = true;
  }
  return appended;
}

bool MakeImageRecord(const std::vector<std::string>& paths, Json::Value& value) {
  bool made = false;
  for (const std::string& given : paths) {
    std::string path = RemoveFileUrl(given);
    EncodedFile encoded;
    if (!EncodeFileBase64(path, ImageOnly::kYes, encoded) || encoded.size == 0) continue;
    std::string name = FileNamePart(path);
    Log("\nadd base64 [%s]", name.c_str());
    Json::Value record(Json::objectValue);
    record["filename"] = WideToUtf8(name);
    record["base64string"] = TextValue(encoded);
    value = std::move(record);
    made = true;
  }
  return made;
}

Json::Value FileTexts::Keep(EncodedFile&& encoded) {
  texts_.push_back(std::move(encoded.text));
  // A static string is stored, and copied, as a pointer to the text, which ends with a 0.
  return Json::Value(Json::StaticString(texts_.back().get()));
}

namespace {

void FillContents(Json::Value& value, FileTexts* keeper) {
  if (!value.isArray()) return;
  Json::Value filled(Json::arrayValue);
  for (Json::ArrayIndex i = 0; i < value.size(); ++i) {
    Json::Value element = value[i];
    // operator[] adds a null "filepath" to an element without one and raises the library's
    // "requires objectValue" error for an element that is not an object.
    std::string path = Utf8ToWide(element["filepath"].asString());
    EncodedFile encoded;
    if (EncodeFileBase64(path, ImageOnly::kYes, encoded) && encoded.size > 0) {
      element["base64string"] =
          keeper != nullptr ? keeper->Keep(std::move(encoded)) : TextValue(encoded);
    }
    filled.append(std::move(element));
  }
  value = std::move(filled);
}

}  // namespace

void FillFileContents(Json::Value& value) { FillContents(value, nullptr); }

void FillFileContents(Json::Value& value, FileTexts& texts) { FillContents(value, &texts); }
