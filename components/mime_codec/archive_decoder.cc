#include "archive_decoder.h"

#include <fcntl.h>
#include <gmime/gmime.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "gobject_ptr.h"
#include "page_references.h"
#include "page_text.h"
#include "part_content.h"
#include "part_names.h"
#include "platform/write_all.h"

namespace mimecodec {
namespace {

// Gives up on a name after this many names in the folder turned out to be taken already.
constexpr int kMaxCreateAttempts = 1000;
// Style sheets and frames whose files stay open until every part has its name; further ones
// are written as they stand, so that an archive of many sheets cannot use up the descriptors.
constexpr size_t kMaxReferringParts = 64;

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
  // Spelt as g_mime_content_type_get_mime_type spells it, without its allocation per part.
  const char* media = g_mime_content_type_get_media_type(type);
  const char* subtype = g_mime_content_type_get_media_subtype(type);
  std::string media_type = media != nullptr ? media : "text";
  media_type += '/';
  media_type += subtype != nullptr ? subtype : "plain";
  for (char& c : media_type) c = g_ascii_tolower(c);
  return media_type;
}

std::string_view OrEmpty(const char* text) { return text == nullptr ? "" : text; }

// A part whose own references are rewritten once every part has its name: a style sheet, or
// an HTML part (a frame of the page). It holds a reference of its own, so that the rest of the
// archive's tree can go before any text is rewritten.
struct ReferringPart {
  GPtr<GMimePart> part;
  int fd;  // the part's file, created and still empty
  std::string name;
};

bool RefersToParts(const std::string& media_type) {
  return media_type == "text/css" || media_type == "text/html";
}

// Closes a file written whole and hands its bytes on when both succeeded.
void Finish(int fd, bool written, const std::string& name, std::string_view bytes,
            const WrittenFileSink& sink) {
  if (::close(fd) == 0 && written && sink) sink(name, bytes);
}

// The sinks of a decode and the archive the encoded one's places are counted in.
struct Sinks {
  std::string_view archive;
  const WrittenFileSink& written;
  const EncodedFileSink& encoded;
};

// Hands a written file's base64 text on when it lies in the archive spelt canonically. The
// CR LF that ends the last line belongs to the boundary that follows, so the part's text may
// stop short of it.
void HandOnEncoded(const Sinks& sinks, const std::string& name, const Base64Source& source) {
  const char* begin = sinks.archive.data();
  const char* text = source.text.data();
  if (!sinks.encoded || source.size == 0 || text < begin ||
      text + source.text.size() > begin + sinks.archive.size()) {
    return;
  }
  size_t offset = static_cast<size_t>(text - begin);
  std::string_view range = sinks.archive.substr(offset, source.text.size() + 2);
  if (source.text.size() >= 2 && source.text.substr(source.text.size() - 2) == "\r\n") {
    range = source.text;
  }
  if (IsCanonicalBase64(range, source.size)) {
    sinks.encoded(name, offset, range.size(), source.size);
  }
}

// Writes one resource part; records its name for the page's references. A part that refers to
// others gets its file but no content yet: it is added to referring instead.
void WriteResource(int folder_fd, GMimePart* part, NameRegistry& names, PartReferences& refs,
                   std::vector<ReferringPart>& referring, const Sinks& sinks) {
  const WrittenFileSink& sink = sinks.written;
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
    referring.push_back({GPtr<GMimePart>(GMIME_PART(g_object_ref(part))), fd, std::move(name)});
    return;
  }
  std::string whole;
  Base64Source source;
  bool written =
      WritePartContent(part, fd, sink ? &whole : nullptr, sinks.encoded ? &source : nullptr);
  bool closed = ::close(fd) == 0;
  if (!closed || !written) return;
  if (sink && !whole.empty()) sink(name, whole);
  HandOnEncoded(sinks, name, source);
}

std::string PageText(GMimePart* page, const PartReferences& refs) {
  GMimeContentEncoding encoding = g_mime_part_get_content_encoding(page);
  bool encoded = encoding == GMIME_CONTENT_ENCODING_BASE64 ||
                 encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE ||
                 encoding == GMIME_CONTENT_ENCODING_UUENCODE;
  const char* charset = g_mime_object_get_content_type_parameter(GMIME_OBJECT(page), "charset");
  std::string text = PageTextForFile(PartContent(page), OrEmpty(charset),
                                     encoded ? TransferKind::kEncoded : TransferKind::kAsText);
  return RewritePageReferences(std::move(text), refs);
}

// The sheets and frames with their references pointing at the files written beside them, as
// the page's do; each resolves its relative references from its own location. Their bytes are
// kept otherwise: a frame is opened by a browser, which reads the charset its markup declares.
void WriteReferringParts(const std::vector<ReferringPart>& referring, const PartReferences& refs,
                         const WrittenFileSink& sink) {
  for (const ReferringPart& item : referring) {
    GMimePart* part = item.part.get();
    std::string base(OrEmpty(g_mime_part_get_content_location(part)));
    std::string bytes = PartContent(part);
    std::string text = MediaTypeOf(part) == "text/css"
                           ? RewriteSheetReferences(std::move(bytes), refs, base)
                           : RewritePageReferences(std::move(bytes), refs, base);
    Finish(item.fd, WriteAll(item.fd, text), item.name, text, sink);
  }
}

bool WritePage(int folder_fd, const std::string& text, const WrittenFileSink& sink) {
  int fd = CreateNew(folder_fd, kPageFileName);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, text);
  if (::close(fd) != 0 || !ok) return false;
  if (sink) sink(kPageFileName, text);
  return true;
}

// Archives of more top-level parts than this are parsed a batch of this many parts at a time:
// GMime's tree of a part takes about 3 KB, so a hundred thousand parts would otherwise hold
// 300 MB at once.
constexpr size_t kBatchParts = 1000;

// Where the top-level parts of a multipart archive lie.
struct TopLevelParts {
  size_t header_end = 0;       // past the blank line that ends the archive's own headers
  std::vector<size_t> starts;  // of the delimiter line that opens each part
  size_t end = 0;              // of the closing delimiter line
  bool closed = false;         // false: the last part runs to the end of the archive
};

// The line at at (its line feed included) and where the next one starts.
std::string_view LineAt(std::string_view text, size_t at, size_t* next) {
  size_t feed = text.find('\n', at);
  *next = feed == std::string_view::npos ? text.size() : feed + 1;
  return text.substr(at, *next - at);
}

// The first line from line_start on (itself a line's start) that begins with '-', as every
// delimiter line does; text.size() when none does. Base64 has no '-', so a picture's text is
// passed over at memchr's pace instead of line by line.
size_t NextDashLine(std::string_view text, size_t line_start) {
  for (size_t from = line_start; from < text.size();) {
    const void* dash = std::memchr(text.data() + from, '-', text.size() - from);
    if (dash == nullptr) break;
    auto found = static_cast<size_t>(static_cast<const char*>(dash) - text.data());
    if (found == line_start || text[found - 1] == '\n') return found;
    from = found + 1;
  }
  return text.size();
}

// GMime's rule for a delimiter line: "--" boundary, or "--" boundary "--" for the closing one,
// then nothing but blanks.
bool IsDelimiter(std::string_view line, std::string_view dashed_boundary, bool* closing) {
  if (line.substr(0, dashed_boundary.size()) != dashed_boundary) return false;
  std::string_view rest = line.substr(dashed_boundary.size());
  *closing = rest.substr(0, 2) == "--";
  if (*closing) rest.remove_prefix(2);
  return rest.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

std::string BoundaryOf(GMimeStream* stream, size_t header_end) {
  GPtr<GMimeStream> headers(g_mime_stream_substream(stream, 0, header_end));
  GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(headers.get()));
  GPtr<GMimeObject> root(g_mime_parser_construct_part(parser.get(), nullptr));
  if (root == nullptr || !GMIME_IS_MULTIPART(root.get())) return {};
  return std::string(OrEmpty(g_mime_multipart_get_boundary(GMIME_MULTIPART(root.get()))));
}

// The top-level parts of archive when it is a multipart of more than batch_parts parts.
bool FindTopLevelParts(std::string_view archive, GMimeStream* stream, size_t batch_parts,
                       TopLevelParts& parts) {
  size_t at = 0, next = 0;
  while (at < archive.size()) {
    std::string_view line = LineAt(archive, at, &next);
    at = next;
    if (line == "\n" || line == "\r\n") break;
  }
  if (at >= archive.size()) return false;
  parts.header_end = at;
  std::string boundary = BoundaryOf(stream, at);
  if (boundary.empty()) return false;
  std::string dashed = "--" + boundary;
  parts.end = archive.size();
  for (bool closing = false; (at = NextDashLine(archive, at)) < archive.size(); at = next) {
    if (!IsDelimiter(LineAt(archive, at, &next), dashed, &closing)) continue;
    if (closing) {
      parts.end = at;
      parts.closed = true;
      break;
    }
    parts.starts.push_back(at);
  }
  return parts.starts.size() > batch_parts;
}

// Parses the archive whole, or one batch of its top-level parts as a multipart of its own:
// the archive's headers, the batch's parts as they stand in it, and a closing delimiter.
class ArchiveParser {
 public:
  ArchiveParser(std::string_view archive, size_t batch_parts)
      : stream_(StreamOver(archive, view_)), batch_parts_(batch_parts) {
    batched_ = FindTopLevelParts(archive, stream_.get(), batch_parts, parts_);
    if (batched_) closing_ = "--" + BoundaryOf(stream_.get(), parts_.header_end) + "--\r\n";
  }

  size_t batches() const {
    return batched_ ? (parts_.starts.size() + batch_parts_ - 1) / batch_parts_ : 1;
  }

  GPtr<GMimeObject> Parse(size_t batch) {
    GPtr<GMimeStream> source;
    bool last = !batched_ || batch + 1 == batches();
    if (!batched_) {
      // A window of its own on the archive: parsing moves its position, not the archive's.
      source.reset(g_mime_stream_substream(stream_.get(), 0, g_mime_stream_length(stream_.get())));
    } else {
      size_t first = batch * batch_parts_;
      size_t end = last ? parts_.end : parts_.starts[first + batch_parts_];
      GMimeStream* cat = g_mime_stream_cat_new();
      source.reset(cat);
      AddSource(cat, g_mime_stream_substream(stream_.get(), 0, parts_.header_end));
      AddSource(cat, g_mime_stream_substream(stream_.get(), parts_.starts[first], end));
      // A last part without a closing delimiter runs to the end, as it does in the archive.
      if (!last || parts_.closed) {
        AddSource(cat, g_mime_stream_mem_new_with_buffer(closing_.data(), closing_.size()));
      }
    }
    GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(source.get()));
    g_mime_parser_set_persist_stream(parser.get(), TRUE);
    return GPtr<GMimeObject>(g_mime_parser_construct_part(parser.get(), nullptr));
  }

 private:
  static void AddSource(GMimeStream* cat, GMimeStream* source) {
    g_mime_stream_cat_add_source(GMIME_STREAM_CAT(cat), source);
    g_object_unref(source);
  }

  GByteArray view_{};
  GPtr<GMimeStream> stream_;
  size_t batch_parts_;
  TopLevelParts parts_;
  bool batched_ = false;
  std::string closing_;
};

// The page: the first "text/html" leaf, depth first; its batch and place among the batch's
// leaves, and the batch's tree in *tree, so that the batch is not parsed again. Null when the
// archive has none.
GPtr<GMimePart> FindPage(ArchiveParser& parser, size_t* batch, size_t* leaf,
                         GPtr<GMimeObject>* tree) {
  for (*batch = 0; *batch < parser.batches(); ++*batch) {
    GPtr<GMimeObject> root = parser.Parse(*batch);
    if (root == nullptr) return nullptr;
    std::vector<GMimePart*> leaves = CollectLeaves(root.get());
    for (*leaf = 0; *leaf < leaves.size(); ++*leaf) {
      GMimePart* part = leaves[*leaf];
      if (IsHtml(part)) {
        *tree = std::move(root);
        return GPtr<GMimePart>(GMIME_PART(g_object_ref(part)));
      }
    }
  }
  return nullptr;
}

}  // namespace

bool DecodeArchive(std::string_view archive, int folder_fd, size_t batch_parts,
                   const WrittenFileSink& written, const EncodedFileSink& encoded) {
  Sinks sinks{archive, written, encoded};
  if (archive.empty() || archive.size() > G_MAXUINT || folder_fd < 0) return false;
  ArchiveParser parser(archive, batch_parts == 0 ? kBatchParts : batch_parts);
  size_t page_batch = 0, page_leaf = 0;
  GPtr<GMimeObject> page_tree;
  GPtr<GMimePart> page = FindPage(parser, &page_batch, &page_leaf, &page_tree);
  if (page == nullptr) return false;
  NameRegistry names;
  PartReferences refs(std::string(OrEmpty(g_mime_part_get_content_location(page.get()))));
  std::vector<ReferringPart> referring;
  for (size_t batch = 0; batch < parser.batches(); ++batch) {
    GPtr<GMimeObject> root = batch == page_batch ? std::move(page_tree) : parser.Parse(batch);
    if (root == nullptr) break;
    std::vector<GMimePart*> leaves = CollectLeaves(root.get());
    for (size_t leaf = 0; leaf < leaves.size(); ++leaf) {
      if (batch != page_batch || leaf != page_leaf) {
        WriteResource(folder_fd, leaves[leaf], names, refs, referring, sinks);
      }
    }
  }
  WriteReferringParts(referring, refs, written);
  return WritePage(folder_fd, PageText(page.get(), refs), written);
}

}  // namespace mimecodec
