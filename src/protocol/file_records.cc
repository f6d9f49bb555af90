#include "protocol/file_records.h"

#include <algorithm>
#include <cstring>

#include "imaging/image_signature.h"
#include "imaging/image_structure.h"
#include "imaging/image_utils.h"
#include "platform/bus_error_guard.h"
#include "platform/file_system.h"
#include "platform/log.h"
#include "protocol/answer_files.h"
#include "text/text_conversion.h"
#include "workspace/path_macros.h"

namespace {

Json::Value TextValue(const EncodedFile& encoded) {
  return Json::Value(encoded.text.get(), encoded.text.get() + encoded.text_length);
}

}  // namespace

namespace {

struct MappedEncode {
  const unsigned char* data;
  size_t length;
  Base64LineEnds line_ends;
  char* out;
  size_t written;
};

void RunMappedEncode(void* context) {
  auto* job = static_cast<MappedEncode*>(context);
  job->written = job->line_ends == Base64LineEnds::kCrLf
                     ? Base64Encode(job->data, job->length, job->out)
                     : Base64EncodeEscaped(job->data, job->length, job->out);
}

}  // namespace

bool Base64EncodeMapped(const unsigned char* data, size_t length, Base64LineEnds line_ends,
                        char* out, size_t* written) {
  MappedEncode job{data, length, line_ends, out, 0};
  bool complete = CallCatchingBusError(RunMappedEncode, &job);
  *written = job.written;
  return complete;
}

namespace {

// The headers of a PNG or JPEG are copied out of the mapping for the image library, which may
// not run under the bus-error guard. Headers longer than this (rare, huge metadata chunks) are
// left to a decode of the whole file.
constexpr size_t kMaxHeaderCopy = 256 * 1024;

// The part of the image test that reads the mapping: the RIFF signature, else the structure
// walk and a copy of the headers it found.
struct MappedImageTest {
  std::string_view bytes;
  char* header;
  size_t room;  // of header
  bool riff = false;
  ImageStructure structure = ImageStructure::kBroken;
  size_t header_bytes = 0;
};

void RunMappedImageTest(void* context) {
  auto* test = static_cast<MappedImageTest*>(context);
  test->riff = SignatureOf(test->bytes.substr(0, kImageSignatureBytes)) == ImageSignature::kRiff;
  if (test->riff) return;
  test->structure = WalkImageStructure(test->bytes, &test->header_bytes);
  if (test->structure == ImageStructure::kWhole && test->header_bytes <= test->room) {
    std::memcpy(test->header, test->bytes.data(), test->header_bytes);
  }
}

// The whole mapped file, copied under the bus-error guard, for a decode that cannot run there.
struct MappedCopy {
  const unsigned char* data;
  size_t length;
  char* out;
};

void RunMappedCopy(void* context) {
  auto* job = static_cast<MappedCopy*>(context);
  std::memcpy(job->out, job->data, job->length);
}

// Files larger than this are not decoded to be tested, as the image library's own file test
// refuses them.
constexpr size_t kMaxDecodedTest = size_t{1} << 30;

// The test by decoding, of the bytes that were mapped: testing the file by its name would open
// it again, and a link swapped in between would have another file's bytes sent as the image
// that was tested.
bool DecodesAsImage(const MappedFile& file) {
  if (file.size() > kMaxDecodedTest) return false;
  std::unique_ptr<char[]> copy(new (std::nothrow) char[file.size()]);
  if (copy == nullptr) return false;
  MappedCopy job{file.data(), file.size(), copy.get()};
  if (!CallCatchingBusError(RunMappedCopy, &job)) return false;
  return IsReadableImageData(std::string_view(copy.get(), file.size()));
}

// An image the library can read, or a RIFF file (WebP and the like). PNG and JPEG are judged
// on the mapped bytes without decoding a pixel; other formats are decoded from a copy of them.
bool PassesImageTest(const MappedFile& file) {
  size_t room = std::min(file.size(), kMaxHeaderCopy);
  std::unique_ptr<char[]> header(new (std::nothrow) char[room]);
  if (header == nullptr) return false;
  MappedImageTest test{std::string_view(reinterpret_cast<const char*>(file.data()), file.size()),
                       header.get(), room};
  bool read = CallCatchingBusError(RunMappedImageTest, &test);
  // The walk read every page; the answer reads them again later, one stretch at a time.
  file.ReleasePages(0, file.size());
  if (!read) return false;
  if (test.riff) return true;
  switch (test.structure) {
    case ImageStructure::kBroken:
      return false;
    case ImageStructure::kWhole:
      if (test.header_bytes <= room) {
        return IsReadableImageHeader(std::string_view(header.get(), test.header_bytes));
      }
      return DecodesAsImage(file);
    case ImageStructure::kNotWalkable:
      return DecodesAsImage(file);
  }
  return false;
}

// The log line and the refusal of a file too large for one record.
bool FitsInRecord(const std::string& path, uint64_t length) {
  if (length <= UINT32_MAX && Base64BufferSize(length) - 1 <= kMaxRecordText) return true;
  Log("\n file too large for a record [%s]", path.c_str());
  return false;
}

// Files below kHeldFileBytes are read into memory instead of being mapped: an answer of a hundred
// thousand small files would otherwise need a mapping each, past the process's limit on
// mappings (65530 by default), and every later mapping or large allocation would fail. Their
// bytes together are no more than the request that named or carried them. Larger files are
// mapped: a streamed answer reads their pages only as it sends them and lets them go again, so
// an archive's pictures are never all held at once (65530 mappings of this size would take a
// request of 4 GiB).

// A small file's bytes, read once, served as a mapping would be.
class HeldFile final : public MappedFile {
 public:
  explicit HeldFile(std::string bytes) : bytes_(std::move(bytes)) {}
  const unsigned char* data() const override {
    return reinterpret_cast<const unsigned char*>(bytes_.data());
  }
  size_t size() const override { return bytes_.size(); }
  void ReleasePages(size_t, size_t) const override {}

 private:
  std::string bytes_;
};

}  // namespace

std::unique_ptr<MappedFile> HeldBytes(std::string bytes) {
  return std::make_unique<HeldFile>(std::move(bytes));
}

namespace {

enum class Opened { kYes, kNotAFile, kFailed };

// The bytes of the regular, non-empty file at path (never a pipe or a device, which could
// block or never end): read when small, else mapped. kFailed when such a file exists but could
// not be read or mapped.
Opened OpenRecordFile(const std::string& path, std::unique_ptr<MappedFile>* file) {
  FileStatus status = FileSystem::Default().Status(path, FollowLinks::kYes);
  if (status.type != FileType::kRegular || status.size == 0) return Opened::kNotAFile;
  if (status.size < kHeldFileBytes) {
    std::string bytes;
    if (FileSystem::Default().ReadWholeFile(path, bytes, kHeldFileBytes).ok() && !bytes.empty()) {
      *file = std::make_unique<HeldFile>(std::move(bytes));
    }
  }
  if (*file == nullptr) *file = FileSystem::Default().MapReadOnly(path);
  return *file != nullptr ? Opened::kYes : Opened::kFailed;
}

// file when it may go into a record: an image when image_only asks for one, and not too large
// for the record format.
std::unique_ptr<MappedFile> RecordFileAsIs(std::unique_ptr<MappedFile> file,
                                           const std::string& path, ImageOnly image_only) {
  if (image_only == ImageOnly::kYes && !PassesImageTest(*file)) return nullptr;
  if (!FitsInRecord(path, file->size())) return nullptr;
  return file;
}

// The file at path when it may go into a record: see OpenRecordFile and RecordFileAsIs.
// *failed is set when the file should have gone into the record but could not be read.
std::unique_ptr<MappedFile> MapRecordFile(const std::string& path, ImageOnly image_only,
                                          bool* failed = nullptr) {
  std::unique_ptr<MappedFile> file;
  Opened opened = OpenRecordFile(path, &file);
  if (failed != nullptr) *failed = opened == Opened::kFailed;
  if (opened != Opened::kYes) return nullptr;
  return RecordFileAsIs(std::move(file), path, image_only);
}

}  // namespace

bool EncodeFileBase64(const std::string& path, ImageOnly image_only, EncodedFile& encoded) {
  encoded = EncodedFile();
  std::unique_ptr<MappedFile> file = MapRecordFile(path, image_only);
  if (file == nullptr) return false;
  encoded.text.reset(new (std::nothrow) char[Base64BufferSize(file->size())]);
  if (encoded.text == nullptr) return false;
  bool complete = Base64EncodeMapped(file->data(), file->size(), Base64LineEnds::kCrLf,
                                     encoded.text.get(), &encoded.text_length);
  encoded.size = static_cast<uint32_t>(file->size());
  if (!complete) encoded = EncodedFile();
  return complete;
}

namespace {

// The content member of a record for the file at path: the stand-in of the answer's files when
// there are some (the answer's writer reads the file then), else the text itself. False when
// the file is not usable for a record.
bool RecordContent(const std::string& path, ImageOnly image_only, AnswerFiles* answer,
                   Json::Value* content) {
  if (answer == nullptr) {
    EncodedFile encoded;
    if (!EncodeFileBase64(path, image_only, encoded) || encoded.size == 0) return false;
    *content = TextValue(encoded);
    return true;
  }
  AnswerFiles::KeptText kept = answer->TakeEncoded(path);
  if (!kept.text.empty() && image_only == ImageOnly::kNo) {
    // The same characters the file's encoding would give: the worker's source vouches for it.
    if (!FitsInRecord(path, kept.size)) return false;
    *content = answer->ReferEncoded(std::move(kept));
    return true;
  }
  bool failed = false;
  std::unique_ptr<MappedFile> file = answer->TakeBytes(path);
  if (file != nullptr) {
    // Bytes the worker wrote to the file itself: an empty file gives no record, as read.
    file = file->size() == 0 ? nullptr : RecordFileAsIs(std::move(file), path, image_only);
  } else {
    file = MapRecordFile(path, image_only, &failed);
  }
  if (failed) answer->NoteUnreadFile(path);
  if (file == nullptr) return false;
  *content = answer->Refer(std::move(file));
  return true;
}

}  // namespace

bool AppendFileRecords(const std::vector<std::string>& paths, Json::Value& array, RecordKey key,
                       AnyFile any_file, AnswerFiles* answer) {
  ImageOnly image_only = key == RecordKey::kBase64String && any_file == AnyFile::kNo
                             ? ImageOnly::kYes
                             : ImageOnly::kNo;
  const char* content_key = key == RecordKey::kMedFile ? "medfile" : "base64string";
  bool appended = false;
  for (const std::string& given : paths) {
    std::string path = RemoveFileUrl(given);
    Json::Value content;
    if (!RecordContent(path, image_only, answer, &content)) continue;
    Json::Value record(Json::objectValue);
    record["filename"] = WideToUtf8(FileNamePart(path));
    record["filepath"] = WideToUtf8(path);
    record[content_key] = std::move(content);
    array[array.size()] = std::move(record);
    appended = true;
  }
  return appended;
}

bool MakeImageRecord(const std::vector<std::string>& paths, Json::Value& value,
                     AnswerFiles* answer) {
  bool made = false;
  for (const std::string& given : paths) {
    std::string path = RemoveFileUrl(given);
    Json::Value content;
    if (!RecordContent(path, ImageOnly::kYes, answer, &content)) continue;
    std::string name = FileNamePart(path);
    Log("\nadd base64 [%s]", name.c_str());
    Json::Value record(Json::objectValue);
    record["filename"] = WideToUtf8(name);
    record["base64string"] = std::move(content);
    value = std::move(record);
    made = true;
  }
  return made;
}

void FillFileContents(Json::Value& value, AnswerFiles* answer) {
  if (!value.isArray()) return;
  Json::Value filled(Json::arrayValue);
  for (Json::ArrayIndex i = 0; i < value.size(); ++i) {
    Json::Value element = value[i];
    // operator[] adds a null "filepath" to an element without one and raises the library's
    // "requires objectValue" error for an element that is not an object.
    std::string path = Utf8ToWide(element["filepath"].asString());
    Json::Value content;
    if (RecordContent(path, ImageOnly::kYes, answer, &content))
      element["base64string"] = std::move(content);
    filled.append(std::move(element));
  }
  value = std::move(filled);
}
