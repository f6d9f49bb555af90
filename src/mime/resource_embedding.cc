#include "mime/resource_embedding.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "fetch/content_id.h"
#include "fetch/content_length.h"
#include "fetch/download_url.h"
#include "fetch/mime_type.h"
#include "imaging/image_utils.h"
#include "platform/file_system.h"
#include "text/ascii.h"
#include "workspace/path_macros.h"
#include "workspace/random_chars.h"
#include "workspace/temp_workspace.h"

namespace {

constexpr char kCidPrefix[] = "cid:";

// Links followed: a link to a picture is the picture; a pipe, device, folder or loop is not a
// file to read.
FileStatus StatusOf(const std::string& path) {
  return FileSystem::Default().Status(path, FollowLinks::kYes);
}

// The first bytes of a file the embedder wrote itself.
std::string FileHead(const std::string& path, size_t count) {
  std::unique_ptr<MappedFile> mapped = FileSystem::Default().MapReadOnly(path);
  if (!mapped) return {};
  return std::string(reinterpret_cast<const char*>(mapped->data()),
                     std::min(count, mapped->size()));
}

std::string WithoutTrailingSlash(const std::string& folder) {
  return !folder.empty() && folder.back() == '/' ? folder.substr(0, folder.size() - 1) : folder;
}

std::string BaseName(const std::string& name) {
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

bool IsCssFile(const std::string& path) {
  return EqualsIgnoringAsciiCase(FileExtension(path), ".css");
}

// What the page gets for a registered entry.
std::string Answer(const ResourceEntry& entry, EmbedMode mode) {
  return mode == EmbedMode::kContentId ? kCidPrefix + entry.content_id : entry.file_name;
}

// The part of a query that names the file a download script hands out ("?id=1/a@b&x"):
// between the last '/' and the first '@' of what precedes the first '&'.
std::string QueryPart(const std::string& query) {
  size_t amp = query.find('&');
  if (amp == std::string::npos) return {};
  std::string head = query.substr(0, amp);
  size_t slash = head.rfind('/');
  if (slash == std::string::npos) return {};
  head.erase(0, slash + 1);
  size_t at = head.find('@');
  return at == std::string::npos ? std::string() : head.substr(0, at);
}

bool HoldsNameBreaker(const std::string& text) {
  return text.find_first_of("/:*?\"<>|") != std::string::npos;
}

const char* ImageExtension(SniffedFormat format) {
  switch (format) {
    case SniffedFormat::kGif:
      return "gif";
    case SniffedFormat::kPng:
      return "png";
    case SniffedFormat::kJpeg:
      return "jpg";
    case SniffedFormat::kBmp:
      return "bmp";
    case SniffedFormat::kRiff:
      return "webp";
    case SniffedFormat::kNone:
      break;
  }
  return nullptr;
}

// TIFF, the one allowed picture format SniffImageFormat does not know.
bool IsTiffHead(const std::string& head) {
  return head.compare(0, 4, "II*\0", 4) == 0 || head.compare(0, 4, "MM\0*", 4) == 0;
}

// Files up to this size are read once and judged from those bytes; the head of a larger one is
// looked at first, so that a large style sheet or film is not read whole just to learn that it
// is no picture.
constexpr uint64_t kReadWholeBytes = 16 << 20;

bool HasPictureHead(std::string_view bytes) {
  std::string head(bytes.substr(0, 16));
  return SniffImageFormat(head.data(), head.size()) != SniffedFormat::kNone || IsTiffHead(head);
}

// A local file as it is reached: by its path, and when its folder is held, by its name there.
struct LocalFile {
  const std::string& path;
  const HeldFolder* folder = nullptr;
  std::string name{};
};

IoStatus ReadWhole(const LocalFile& file, std::string& bytes) {
  FileSystem& files = FileSystem::Default();
  return file.folder != nullptr
             ? files.ReadWholeFileIn(*file.folder, file.name, bytes, kReadWholeBytes)
             : files.ReadWholeFile(file.path, bytes, kReadWholeBytes);
}

// Whether the file is a picture by its own bytes; bytes receives the content when the file was
// read whole for it.
bool IsPicture(const LocalFile& file, std::string& bytes) {
  if (ReadWhole(file, bytes).ok()) return HasPictureHead(bytes) && IsReadableImageData(bytes);
  bytes.clear();
  return HasPictureHead(FileHead(file.path, 16)) && IsReadableImage(file.path);
}

bool IsPicture(const std::string& path) {
  std::string bytes;
  return IsPicture(LocalFile{path}, bytes);
}

// The file at an absolute path, its folder held in target (opened on first use).
LocalFile HeldLocalFile(const std::string& path, EmbedTarget& target) {
  constexpr size_t kHeldFolders = 16;  // file handles are a bounded resource
  LocalFile file{path};
  size_t slash = path.rfind('/');
  if (path.empty() || path[0] != '/' || slash + 1 == path.size()) return file;
  std::string folder = slash == 0 ? "/" : path.substr(0, slash);
  auto& held = target.local_folders;
  auto it = std::find_if(held.begin(), held.end(),
                         [&folder](const auto& entry) { return entry.first == folder; });
  if (it == held.end()) {
    if (held.size() == kHeldFolders) held.clear();
    std::unique_ptr<HeldFolder> opened;
    if (!FileSystem::Default().OpenFolder(folder, FollowLinks::kYes, opened).ok()) opened.reset();
    held.emplace_back(std::move(folder), std::move(opened));
    it = held.end() - 1;
  }
  file.folder = it->second.get();
  if (file.folder != nullptr) file.name = path.substr(slash + 1);
  return file;
}

// A WebP file: a RIFF container of the WEBP form, not any RIFF file (a sound, a video).
bool IsWebp(const std::string& path) {
  std::string head = FileHead(path, 12);
  return head.size() == 12 && head.compare(0, 4, "RIFF") == 0 && head.compare(8, 4, "WEBP") == 0;
}

// The name a local file is stored under: {TimestampPrefix()}{extension} spelt as UniqueFilePath
// spells it ("_00000000"... added before the extension when taken). It is only a name in the
// archive (the file is read where it lies), so it need only differ from the other parts' names:
// the workspace is not looked at for it, which a page of thousands of pictures would pay three
// calls of the file system each for, and the time is read once for all of them.
std::string StoredName(EmbedTarget& target, std::string extension) {
  if (!extension.empty() && extension[0] != '.') extension.insert(0, ".");
  if (target.name_stamp.empty()) target.name_stamp = TimeStamp();
  std::string name = target.name_stamp + RandomChars(8) + extension;
  for (size_t tmp = name.find(".tmp"); tmp != std::string::npos; tmp = name.find(".tmp"))
    name.erase(tmp, 4);
  if (!target.registry.HoldsFileName(name)) return name;
  size_t dot = name.rfind('.');
  std::string stem = name.substr(0, dot);
  std::string tail = dot == std::string::npos ? std::string() : name.substr(dot);
  char counter[9];
  for (uint32_t n = 0; target.registry.HoldsFileName(name) && n < UINT32_MAX; ++n) {
    std::snprintf(counter, sizeof counter, "%08x", n);
    name = stem + "_" + counter + tail;
  }
  return name;
}

std::string EmbedLocal(const ResolvedReference& reference, EmbedTarget& target) {
  const std::string& path = reference.resolved;
  LocalFile file = HeldLocalFile(path, target);
  // Only a regular file: reading a pipe or a device would never end. Looked at before it is
  // opened, so that a device is never opened.
  FileStatus status = file.folder != nullptr ? FileSystem::Default().StatusIn(
                                                   *file.folder, file.name, FollowLinks::kYes)
                                             : StatusOf(path);
  if (status.type != FileType::kRegular) return {};
  // Another name of a file embedded before: "/a/b.png", "/a//b.png", "/a/x/../b.png", a link.
  if (const ResourceEntry* known = target.registry.FindFile(status.device, status.inode)) {
    return Answer(*known, EmbedMode::kContentId);
  }
  ResourceEntry entry;
  entry.content_id = MakeContentId();
  entry.location = path;
  entry.local_file = path;
  entry.device = status.device;
  entry.inode = status.inode;
  // Names here are UTF-8 and the codec takes UTF-8 paths: the file is read where it lies.
  entry.file_name = StoredName(target, FileExtension(path));
  entry.media_type = GetMimeTypeFromUrl(path);
  if (entry.media_type.empty()) entry.media_type = target.fallback_media_type;
  // A file the kept bytes have no room for is judged in memory the walk reuses: the codec
  // reads it again, and fresh memory for each such file would be faulted in for nothing.
  bool keeps = target.kept_bytes + status.size <= EmbedTarget::kKeptPictureBytes;
  std::string fresh;
  std::string& bytes = keeps ? fresh : target.judged_bytes;
  if (!IsCssFile(entry.local_file) && !IsPicture(file, bytes)) return {};
  // The codec writes what was judged, and need not find, open and read the file again.
  if (keeps && target.kept_bytes + bytes.size() <= EmbedTarget::kKeptPictureBytes) {
    target.kept_bytes += bytes.size();
    entry.bytes = std::move(bytes);
  }
  std::string answer = Answer(entry, EmbedMode::kContentId);
  target.registry.Add(std::move(entry));
  return answer;
}

// Whether a download's body fits the kind it is embedded as: a picture (or WebP) by its
// signature; else a ".css" name served as a text type other than HTML.
bool FitsItsKind(const std::string& path, const DownloadReport& report) {
  if (IsPicture(path) || IsWebp(path)) return true;
  return IsCssFile(path) && IsStyleSheetMediaType(report.content_type);
}

std::string EmbedWeb(const ResolvedReference& reference, EmbedTarget& target) {
  const std::string& url = reference.resolved;
  DownloadName name = NameForDownload(url);
  std::string path = UniqueFilePath(WithoutTrailingSlash(target.workspace), name.extension);
  if (path.empty()) return {};
  DownloadReport report = DownloadWithin(url, path, target.downloads);
  if (!report.ok()) return {};
  std::string file_name = FileNamePart(path);
  std::string head = FileHead(path, 16);
  SniffedFormat format = SniffImageFormat(head.data(), head.size());
  if (const char* ext = ImageExtension(format)) {
    std::string moved = FolderPart(path) + BaseName(file_name) + "." + ext;
    if (moved == path || FileSystem::Default().MoveFile(path, moved).ok()) {
      path = moved;
      file_name = FileNamePart(moved);
    }
  }
  if (!FitsItsKind(path, report)) {
    FileSystem::Default().DeleteFile(path);
    return {};
  }
  ResourceEntry entry;
  entry.content_id = MakeContentId();
  entry.location = url;
  entry.local_file = path;
  entry.file_name = file_name;
  entry.from_url = true;
  entry.media_type = GetMimeTypeFromUrl(path);
  if (entry.media_type.empty()) {
    entry.media_type = format == SniffedFormat::kRiff ? "image/webp" : target.fallback_media_type;
  }
  std::string answer = Answer(entry, EmbedMode::kContentId);
  target.registry.Add(std::move(entry));
  return answer;
}

// A name that stays inside the workspace: no folder part, not "." or "..".
bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::string EmbedByFileName(const ResolvedReference& reference, EmbedTarget& target) {
  ResourceEntry entry;
  entry.content_id = MakeContentId();
  entry.location = reference.resolved;
  std::string name = FileNamePart(reference.raw.substr(0, reference.raw.find('#')));
  name = name.substr(0, name.find('?'));
  if (!IsPlainName(name)) return {};
  std::string local = target.workspace + name;
  MakeFolderChain(target.workspace);
  MakeUnique(local);
  bool copied = false;
  DownloadReport report;
  if (reference.is_url) {
    // A length of 0 means there is nothing to fetch; -1 (unknown) is still tried.
    DownloadBudget& budget = target.downloads;
    copied =
        !budget.Exhausted() &&
        GetUrlContentLength(reference.resolved, budget.TimeLeftMs(kContentLengthTimeoutMs)) != 0 &&
        (report = DownloadWithin(reference.resolved, local, budget)).ok();
  } else {
    copied = IsRegularFile(reference.resolved) &&
             FileSystem::Default().CopyFile(reference.resolved, local).ok();
  }
  if (!copied) return {};
  entry.local_file = local;
  entry.file_name = FileNamePart(local);
  entry.from_url = reference.is_url;
  entry.media_type = GetMimeTypeFromUrl(local);
  if (entry.media_type.empty()) entry.media_type = target.fallback_media_type;
  bool fits = reference.is_url ? FitsItsKind(local, report) : IsCssFile(local) || IsPicture(local);
  if (!fits) return {};
  std::string answer = entry.file_name;
  target.registry.Add(std::move(entry));
  return answer;
}

}  // namespace

DownloadName NameForDownload(const std::string& given) {
  std::string url = given.substr(0, given.find('#'));
  size_t question = url.find('?');
  bool has_query = question != std::string::npos;
  std::string query_part = has_query ? QueryPart(url.substr(question + 1)) : std::string();
  std::string name = FileNamePart(url.substr(0, has_query ? question : url.size()));
  std::string ext = FileExtension(name);
  if (!query_part.empty()) name = BaseName(name) + "_" + query_part + ext;
  ext = FileExtension(name);
  if (HoldsNameBreaker(name) || HoldsNameBreaker(ext)) ext.clear();
  if (!ext.empty()) ext.erase(0, 1);
  if (has_query) {
    name = BaseName(name) + ".octet-stream";
    ext = "octet-stream";
  }
  if (ext.empty()) ext = "tmp";
  return DownloadName{name, ext};
}

std::string EmbedResource(const ResolvedReference& reference, EmbedTarget& target, EmbedMode mode) {
  if (const ResourceEntry* known = target.registry.Find(reference.resolved, reference.is_url)) {
    return Answer(*known, mode);
  }
  if (reference.resolved.empty()) return {};
  if (!reference.is_url) {
    return mode == EmbedMode::kFileName ? EmbedByFileName(reference, target)
                                        : EmbedLocal(reference, target);
  }
  std::string failure_key =
      (mode == EmbedMode::kFileName ? "f:" : "c:") + AsciiLowered(reference.resolved);
  if (target.failed_urls.count(failure_key) != 0) return {};
  std::string answer = mode == EmbedMode::kFileName ? EmbedByFileName(reference, target)
                                                    : EmbedWeb(reference, target);
  if (answer.empty()) target.failed_urls.insert(std::move(failure_key));
  return answer;
}
