#include "archive_decoder.h"

#include <fcntl.h>
#include <gmime/gmime.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <utility>
#include <vector>

#include "gobject_ptr.h"
#include "page_references.h"
#include "page_text.h"
#include "part_names.h"
#include "platform/write_all.h"

namespace mimecodec {
namespace {

// Gives up on a name after this many names in the folder turned out to be taken already.
constexpr int kMaxCreateAttempts = 1000;
// Style sheets and frames whose files stay open until every part has its name; further ones
// are written as they stand, so that an archive of many sheets cannot use up the descriptors.
constexpr size_t kMaxReferringParts = 64;

class FolderHandle {
 public:
  explicit FolderHandle(const std::string& folder)
      : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
  ~FolderHandle() {
    if (fd_ >= 0) ::close(fd_);
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};

// A new file directly inside the folder: O_EXCL never reuses a name that exists (a file of the
// caller, or a link planted there), O_NOFOLLOW never writes through a link.
int CreateNew(int folder_fd, const char* name) {
  return ::openat(folder_fd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
}

int CreateUniquelyNamed(int folder_fd, const std::string& desired, NameRegistry& names,
                        std::string& name) {
  for (int attempt = 0; attempt < kMaxCreateAttempts; ++attempt) {
    name = names.Claim(desired);
    int fd = CreateNew(folder_fd, name.c_str());
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// The archive as a stream without a copy: the stream reads the caller's bytes through a byte
// array it does not own (GMime's memory streams only read data and len, and substreams share
// the same array). The archive outlives the stream.
GMimeStream* StreamOver(std::string_view archive, GByteArray& view) {
  view.data = reinterpret_cast<guint8*>(const_cast<char*>(archive.data()));
  view.len = static_cast<guint>(archive.size());
  GMimeStream* stream = g_mime_stream_mem_new_with_byte_array(&view);
  g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(stream), FALSE);
  return stream;
}

// Leaf parts, depth first in document order.
std::vector<GMimePart*> CollectLeaves(GMimeObject* root) {
  std::vector<GMimePart*> leaves;
  std::vector<std::pair<GMimeObject*, int>> pending{{root, 0}};
  while (!pending.empty()) {
    auto [object, depth] = pending.back();
    pending.pop_back();
    if (GMIME_IS_MULTIPART(object)) {
      if (depth >= kMaxNestingDepth) continue;
      GMimeMultipart* multipart = GMIME_MULTIPART(object);
      for (int i = g_mime_multipart_get_count(multipart) - 1; i >= 0; --i) {
        pending.emplace_back(g_mime_multipart_get_part(multipart, i), depth + 1);
      }
    } else if (GMIME_IS_MESSAGE_PART(object)) {
      GMimeMessage* message = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
      GMimeObject* body = message == nullptr ? nullptr : g_mime_message_get_mime_part(message);
      if (body != nullptr && depth < kMaxNestingDepth) pending.emplace_back(body, depth + 1);
    } else if (GMIME_IS_PART(object)) {
      leaves.push_back(GMIME_PART(object));
    }
  }
  return leaves;
}

bool IsHtml(GMimePart* part) {
  GMimeContentType* type = g_mime_object_get_content_type(GMIME_OBJECT(part));
  return type != nullptr && g_mime_content_type_is_type(type, "text", "html");
}

std::string MediaTypeOf(GMimePart* part) {
  GMimeContentType* type = g_mime_object_get_content_type(GMIME_OBJECT(part));
  if (type == nullptr) return {};
  char* text = g_mime_content_type_get_mime_type(type);
  std::string media_type = text == nullptr ? "" : text;
  g_free(text);
  for (char& c : media_type) c = g_ascii_tolower(c);
  return media_type;
}

std::string_view OrEmpty(const char* text) { return text == nullptr ? "" : text; }

bool WriteContent(GMimePart* part, GMimeStream* out) {
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  bool ok = content == nullptr || g_mime_data_wrapper_write_to_stream(content, out) >= 0;
  return g_mime_stream_flush(out) == 0 && ok;
}

// A part whose own references are rewritten once every part has its name: a style sheet, or
// an HTML part (a frame of the page).
struct ReferringPart {
  GMimePart* part;
  int fd;  // the part's file, created and still empty
};

bool RefersToParts(const std::string& media_type) {
  return media_type == "text/css" || media_type == "text/html";
}

// Writes one resource part; records its name for the page's references. A part that refers to
// others gets its file but no content yet: it is added to referring instead.
void WriteResource(int folder_fd, GMimePart* part, NameRegistry& names, PartReferences& refs,
                   std::vector<ReferringPart>& referring) {
  std::string media_type = MediaTypeOf(part);
  const char* content_id = g_mime_object_get_content_id(GMIME_OBJECT(part));
  const char* location = g_mime_part_get_content_location(part);
  PartNaming naming{OrEmpty(location), OrEmpty(g_mime_part_get_filename(part)), OrEmpty(content_id),
                    media_type};
  std::string name;
  int fd = CreateUniquelyNamed(folder_fd, DesiredPartName(naming), names, name);
  if (fd < 0) return;
  refs.Add(OrEmpty(content_id), OrEmpty(location), name);
  if (RefersToParts(media_type) && referring.size() < kMaxReferringParts) {
    referring.push_back({part, fd});
    return;
  }
  // A pipe stream writes with write(2) as a file stream does, but its flush does not fsync:
  // a file stream would sync every part to disk (seconds for a thousand parts).
  GPtr<GMimeStream> out(g_mime_stream_pipe_new(fd));
  WriteContent(part, out.get());
}

std::string DecodedBytes(GMimePart* part) {
  GPtr<GMimeStream> memory(g_mime_stream_mem_new());
  WriteContent(part, memory.get());
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(memory.get()));
  return std::string(reinterpret_cast<const char*>(bytes->data), bytes->len);
}

std::string PageText(GMimePart* page, const PartReferences& refs) {
  GMimeContentEncoding encoding = g_mime_part_get_content_encoding(page);
  bool encoded = encoding == GMIME_CONTENT_ENCODING_BASE64 ||
                 encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE ||
                 encoding == GMIME_CONTENT_ENCODING_UUENCODE;
  const char* charset = g_mime_object_get_content_type_parameter(GMIME_OBJECT(page), "charset");
  std::string text = PageTextForFile(DecodedBytes(page), OrEmpty(charset),
                                     encoded ? TransferKind::kEncoded : TransferKind::kAsText);
  return RewritePageReferences(std::move(text), refs);
}

// The sheets and frames with their references pointing at the files written beside them, as
// the page's do; each resolves its relative references from its own location. Their bytes are
// kept otherwise: a frame is opened by a browser, which reads the charset its markup declares.
void WriteReferringParts(const std::vector<ReferringPart>& referring, const PartReferences& refs) {
  for (const ReferringPart& item : referring) {
    std::string base(OrEmpty(g_mime_part_get_content_location(item.part)));
    std::string bytes = DecodedBytes(item.part);
    std::string text = MediaTypeOf(item.part) == "text/css"
                           ? RewriteSheetReferences(std::move(bytes), refs, base)
                           : RewritePageReferences(std::move(bytes), refs, base);
    WriteAll(item.fd, text);
    ::close(item.fd);
  }
}

bool WritePage(int folder_fd, const std::string& text) {
  int fd = CreateNew(folder_fd, kPageFileName);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, text);
  return ::close(fd) == 0 && ok;
}

}  // namespace

bool DecodeArchive(std::string_view archive, const std::string& folder) {
  if (archive.empty() || archive.size() > G_MAXUINT) return false;
  FolderHandle handle(folder);
  if (handle.fd() < 0) return false;
  GByteArray view{};
  GPtr<GMimeStream> stream(StreamOver(archive, view));
  GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  g_mime_parser_set_persist_stream(parser.get(), TRUE);
  GPtr<GMimeObject> root(g_mime_parser_construct_part(parser.get(), nullptr));
  if (root == nullptr) return false;

  std::vector<GMimePart*> leaves = CollectLeaves(root.get());
  GMimePart* page = nullptr;
  for (GMimePart* leaf : leaves) {
    if (IsHtml(leaf)) {
      page = leaf;
      break;
    }
  }
  if (page == nullptr) return false;
  NameRegistry names;
  PartReferences refs(std::string(OrEmpty(g_mime_part_get_content_location(page))));
  std::vector<ReferringPart> referring;
  for (GMimePart* leaf : leaves) {
    if (leaf != page) WriteResource(handle.fd(), leaf, names, refs, referring);
  }
  WriteReferringParts(referring, refs);
  return WritePage(handle.fd(), PageText(page, refs));
}

}  // namespace mimecodec
