#include "mime/mime_decode_command.h"

#include <algorithm>
#include <unordered_map>

#include "mime/encode_options.h"
#include "mime/mime_codec_client.h"
#include "platform/file_system.h"
#include "platform/log.h"
#include "protocol/answer_files.h"
#include "protocol/command_request.h"
#include "protocol/command_table.h"
#include "protocol/file_records.h"
#include "text/ascii.h"
#include "text/base64.h"
#include "text/text_conversion.h"
#include "text/text_file.h"
#include "workspace/folder_deletion.h"
#include "workspace/path_macros.h"
#include "workspace/request_folder.h"

namespace {

// The names of the regular files directly in folder (links are not followed: a link is never a
// decoded file), in byte order.
std::vector<std::string> RegularFileNames(const std::string& folder) {
  std::vector<FolderEntry> entries;
  IoStatus listed = FileSystem::Default().ListFolder(folder, entries);
  if (!listed.ok()) Log("\n Failed to list [%s]", listed.ToString().c_str());
  std::vector<std::string> names;
  for (FolderEntry& entry : entries) {
    if (entry.type == FileType::kRegular) names.push_back(std::move(entry.name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The name the component gives the page.
constexpr char kPageName[] = "noname.htm";

bool EndsWithIgnoringAsciiCase(std::string_view name, std::string_view suffix) {
  return name.size() >= suffix.size() &&
         EqualsIgnoringAsciiCase(name.substr(name.size() - suffix.size()), suffix);
}

// The archive's text as the component takes it: valid UTF-8 (the JSON reader passes on any
// bytes; the conversion replaces what is not UTF-8). Valid text is not copied.
std::string_view ArchiveText(std::string_view archive, bool ascii, std::string& sanitised) {
  if (ascii || IsValidUtf8(archive)) return archive;
  sanitised = Utf8ToWide(archive);
  return sanitised;
}

// The page among the names of a folder's files: the index of the first match, else npos.
size_t PageAmong(const std::vector<std::string>& names) {
  for (const char* pattern : {kPageName, ".htm", ".html", ".txt", ""}) {
    bool whole_name = pattern[0] != '.' && pattern[0] != '\0';
    for (size_t i = 0; i < names.size(); ++i) {
      bool match = whole_name ? EqualsIgnoringAsciiCase(names[i], pattern)
                              : EndsWithIgnoringAsciiCase(names[i], pattern);
      if (match) return i;
    }
  }
  return std::string::npos;
}

// The paths of the files of folder named names, but the page's.
bool AddFilesBeside(const std::string& folder, const std::vector<std::string>& names,
                    const std::string& page_path, std::vector<std::string>& files) {
  bool added = false;
  for (const std::string& name : names) {
    std::string path = folder + name;
    if (EqualsIgnoringAsciiCase(path, page_path)) continue;
    files.push_back(std::move(path));
    added = true;
  }
  return added;
}

}  // namespace

std::string FindDecodedPage(const std::string& folder) {
  if (folder.empty()) return {};
  std::vector<std::string> names = RegularFileNames(folder);
  size_t page = PageAmong(names);
  return page == std::string::npos ? std::string() : folder + names[page];
}

bool CollectDecodedFiles(const std::string& page_path, std::vector<std::string>& files) {
  std::string folder = FolderPart(page_path);
  if (folder.empty()) return false;
  return AddFilesBeside(folder, RegularFileNames(folder), page_path, files);
}

namespace {

// Why a decode failed. The answer carries only its error number; the log says which it was.
enum class DecodeFailure {
  kNone,
  kEmptyArchive,
  kNoCodec,
  kInvalidArchive,
  kNoPage,
  kPageUnreadable
};

const char* Describe(DecodeFailure failure) {
  switch (failure) {
    case DecodeFailure::kEmptyArchive:
      return "the archive is empty";
    case DecodeFailure::kNoCodec:
      return "the archive codec is not available";
    case DecodeFailure::kInvalidArchive:
      return "the codec could not read the archive";
    case DecodeFailure::kNoPage:
      return "the archive holds no page";
    case DecodeFailure::kPageUnreadable:
      return "the page cannot be read as text";
    case DecodeFailure::kNone:
      break;
  }
  return "";
}

// Where the archive holds a written file's base64 text, spelt as the answer spells it.
struct EncodedPlace {
  size_t offset;
  size_t length;
  uint64_t size;
};

// What the component handed over as it wrote the files, so that they need not be read back:
// the page's text, the bytes of the files small enough to be held for the answer, and where
// the archive holds the others' base64 text.
struct WrittenFiles {
  std::unordered_map<std::string, std::string> small;     // by name
  std::unordered_map<std::string, EncodedPlace> encoded;  // by name
  bool want_encoded = false;
  std::string page_name;  // empty when the page was not handed
  std::string page_text;
  bool page_decoded = false;

  void Take(std::string_view name, std::string_view bytes) {
    if (EqualsIgnoringAsciiCase(name, kPageName)) {
      page_name = name;
      page_decoded = DecodeTextBytes(bytes, page_text);
    } else if (bytes.size() < kHeldFileBytes) {
      small[std::string(name)] = bytes;
    }
  }
};

// Unpacks archive into folder; the page's path in *page when there is one, and the names of
// the folder's files (the folder is listed once).
DecodeFailure Unpack(const MimeCodecClient& codec, const HeldFolder& folder,
                     std::string_view archive, bool ascii, std::string* page,
                     std::vector<std::string>* names, WrittenFiles* written) {
  if (archive.empty()) return DecodeFailure::kEmptyArchive;
  if (!codec.IsAvailable()) return DecodeFailure::kNoCodec;
  std::string sanitised;
  auto take = [written](std::string_view name, std::string_view bytes) {
    written->Take(name, bytes);
  };
  auto place = [written](std::string_view name, size_t offset, size_t length, uint64_t size) {
    written->encoded[std::string(name)] = {offset, length, size};
  };
  std::string_view text = ArchiveText(archive, ascii, sanitised);
  // Places are counted in the text the component read, which is archive unless it was mended.
  bool quotable = written->want_encoded && text.data() == archive.data();
  if (!codec.Decode(text, folder, take, quotable ? place : MimeCodecClient::EncodedFile())) {
    return DecodeFailure::kInvalidArchive;
  }
  std::string path = folder.Path() + "/";
  *names = RegularFileNames(path);
  size_t found = PageAmong(*names);
  if (found == std::string::npos) return DecodeFailure::kNoPage;
  *page = path + (*names)[found];
  return DecodeFailure::kNone;
}

}  // namespace

std::string DecodeMimeArchive(const MimeCodecClient& codec, const HeldFolder& folder,
                              std::string_view archive, std::vector<std::string>& files,
                              int32_t& error, AnswerFiles* answer, bool archive_ascii,
                              std::shared_ptr<const void> archive_holder) {
  error = kMimeDecoded;
  std::string page, text;
  std::vector<std::string> names;
  WrittenFiles written;
  written.want_encoded = answer != nullptr && archive_holder != nullptr;
  DecodeFailure failure = Unpack(codec, folder, archive, archive_ascii, &page, &names, &written);
  if (failure == DecodeFailure::kNone) {
    bool handed = !written.page_name.empty() && FileNamePart(page) == written.page_name;
    if (handed) text = std::move(written.page_text);
    if (!(handed ? written.page_decoded : ReadTextFile(page, text))) {
      failure = DecodeFailure::kPageUnreadable;
    }
  }
  if (failure != DecodeFailure::kNone) {
    Log("\n MIME decode failed: %s [%s]", Describe(failure), folder.Path().c_str());
    error =
        failure == DecodeFailure::kPageUnreadable ? kMimeDecodePageUnreadable : kMimeDecodeFailed;
    return {};
  }
  size_t first = files.size();
  AddFilesBeside(folder.Path() + "/", names, page, files);
  if (answer != nullptr) {
    for (size_t k = first; k < files.size(); ++k) {
      std::string name = FileNamePart(files[k]);
      auto place = written.encoded.find(name);
      const EncodedPlace* at = place == written.encoded.end() ? nullptr : &place->second;
      // A place that is not a whole text of the file's size inside the archive is not used.
      if (at != nullptr && at->offset <= archive.size() &&
          at->length <= archive.size() - at->offset &&
          at->length == Base64BufferSize(at->size) - 1) {
        answer->KeepEncoded(files[k],
                            {archive.substr(at->offset, at->length), at->size, archive_holder});
        continue;
      }
      auto bytes = written.small.find(name);
      if (bytes != written.small.end()) {
        answer->KeepBytes(files[k], HeldBytes(std::move(bytes->second)));
      }
    }
  }
  return text;
}

namespace {

// Removes the request folder however the command ends: a decode that raised an error must not
// leave a hundred thousand files behind.
class FolderRemoval {
 public:
  FolderRemoval() = default;
  ~FolderRemoval() {
    if (folder_.size() >= 2) DeleteTree(folder_.substr(0, folder_.size() - 1));
  }
  FolderRemoval(const FolderRemoval&) = delete;
  FolderRemoval& operator=(const FolderRemoval&) = delete;
  void Set(std::string folder) { folder_ = std::move(folder); }

 private:
  std::string folder_;
};

}  // namespace

std::string RunMimeDecodeCommand(CommandRequest& request) {
  return RunMimeDecodeCommand(request, MimeCodecClient());
}

std::string RunMimeDecodeCommand(CommandRequest& request, const MimeCodecClient& codec) {
  Json::Value copy;
  const Json::Value& pdu = PduToRead(request, copy);
  std::string page;
  std::vector<std::string> files;
  std::unique_ptr<HeldFolder> folder;  // held until the removal below has run
  FolderRemoval removal;
  const Json::Value& archive = pdu["mimevalue"];
  if (archive.isNull()) {
    request.error = kMimeDecodeMissingArchive;
  } else {
    // Both members are read before the folder exists: a member of the wrong type raises the
    // JSON library's error with nothing on disk.
    const Json::Value& temp_path = pdu["temppath"];
    std::string base = temp_path.isNull() ? std::string() : temp_path.asCString();
    archive.asCString();  // raises the library's error for anything but a string
    folder = OpenRequestFolder(base);
    if (folder == nullptr) {
      request.error = kMimeDecodeFailed;
    } else {
      removal.Set(folder->Path() + "/");
      page = DecodeMimeArchive(codec, *folder, request.TextOf(archive), files, request.error,
                               request.answer_files, request.IsAsciiText(archive),
                               request.TextHolder());
    }
  }
  std::string answer = request.BuildResponse(files, {}, Json::Value(), page);
  const AnswerFiles* held = request.answer_files;
  if (held != nullptr && !held->complete()) {
    // Never a page with parts missing: the page would show broken pictures and the editor
    // could save it so.
    request.error = kMimeDecodeFailed;
    answer = request.BuildResponse({}, {}, Json::Value(), std::string());
  }
  return answer;
}

Json::Value BuildMimeDecodePdu(const PayloadInputs& inputs) {
  Json::Value pdu(Json::objectValue);
  // The page is written into the answer from where it lies, without a copy in the value.
  pdu["html"] =
      inputs.files != nullptr ? inputs.files->ReferText(inputs.payload) : inputs.PayloadValue();
  Json::Value records(Json::arrayValue);
  if (AppendFileRecords(inputs.paths_a, records, RecordKey::kBase64String, AnyFile::kYes,
                        inputs.files)) {
    pdu["files"].swap(records);
  }
  return pdu;
}
