#include "archive_encoder.h"

#include <fcntl.h>
#include <gmime/gmime.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "gobject_ptr.h"
#include "text/base64.h"

namespace mimecodec {
namespace {

// GMime writes the page part (its encodings and line ends have many cases) and every header
// that needs folding or encoding; the resources' base64 bodies, which are nearly all of an
// archive, are encoded by us straight from their files into the one output buffer.

// Whole base64 lines per read, so that the pieces of a file join into one text.
constexpr size_t kReadBytes = 57 * 4096;
// Header lines GMime leaves as they are: it folds longer ones.
constexpr size_t kMaxPlainLine = 76;

GMimeContentEncoding PageEncoding(int encode_type, std::string_view page) {
  switch (encode_type) {
    case 1:
      // 8bit carries the page bytes as they are; only valid UTF-8 may travel that way, because
      // the service hands the archive on as UTF-8 text and would replace anything else.
      if (g_utf8_validate(page.data(), static_cast<gssize>(page.size()), nullptr)) {
        return GMIME_CONTENT_ENCODING_8BIT;
      }
      return GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE;
    case 2:
      return GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE;
    default:
      return GMIME_CONTENT_ENCODING_BASE64;
  }
}

GMimePart* PagePart(std::string_view page, const EncodeSettings& settings) {
  GMimePart* part = g_mime_part_new_with_type("text", "html");
  std::string charset = settings.charset.empty() ? "utf-8" : settings.charset;
  g_mime_object_set_content_type_parameter(GMIME_OBJECT(part), "charset", charset.c_str());
  GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(page.data(), page.size()));
  GPtr<GMimeDataWrapper> wrapper(
      g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
  g_mime_part_set_content(part, wrapper.get());
  g_mime_part_set_content_encoding(part, PageEncoding(settings.encode_type, page));
  return part;
}

// GMime's boundaries ("=-" and random base64) cannot occur in base64 or quoted-printable text,
// where '=' is never followed by '-'; only an 8bit page can hold one by chance.
void ChooseBoundary(GMimeMultipart* multipart, std::string_view page) {
  for (;;) {
    g_mime_multipart_set_boundary(multipart, nullptr);
    const char* boundary = g_mime_multipart_get_boundary(multipart);
    if (page.find(boundary) == std::string_view::npos) return;
  }
}

GMimeFormatOptions* CrLfOptions() {
  GMimeFormatOptions* options = g_mime_format_options_new();
  g_mime_format_options_set_newline_format(options, GMIME_NEWLINE_FORMAT_DOS);
  return options;
}

struct FormatOptionsFree {
  void operator()(GMimeFormatOptions* options) const { g_mime_format_options_free(options); }
};
using FormatOptions = std::unique_ptr<GMimeFormatOptions, FormatOptionsFree>;

// The archive's head, headers and page part, as GMime writes a multipart that holds only the
// page, without its closing delimiter: each further part follows as GMime would write it.
bool WriteHead(std::string_view page, const EncodeSettings& settings, GMimeFormatOptions* options,
               std::string& head, std::string& boundary) {
  GPtr<GMimeMultipart> multipart(g_mime_multipart_new_with_subtype("related"));
  GMimeObject* root = GMIME_OBJECT(multipart.get());
  g_mime_object_set_content_type_parameter(root, "type", "text/html");
  g_mime_object_prepend_header(root, "MIME-Version", "1.0", nullptr);
  GPtr<GMimePart> page_part(PagePart(page, settings));
  g_mime_multipart_add(multipart.get(), GMIME_OBJECT(page_part.get()));
  ChooseBoundary(multipart.get(), page);
  boundary = g_mime_multipart_get_boundary(multipart.get());
  GPtr<GMimeStream> output(g_mime_stream_mem_new());
  if (g_mime_object_write_to_stream(root, options, output.get()) < 0) return false;
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(output.get()));
  head.assign(reinterpret_cast<const char*>(bytes->data), bytes->len);
  std::string closing = "--" + boundary + "--\r\n";
  if (head.size() < closing.size() ||
      head.compare(head.size() - closing.size(), closing.size(), closing) != 0) {
    return false;
  }
  head.resize(head.size() - closing.size());
  return true;
}

// Letters (small ones only when lower_only), digits and the punctuation allowed; not empty.
bool IsPlain(std::string_view text, const char* punctuation, bool lower_only = false) {
  for (char c : text) {
    bool letter_or_digit = g_ascii_isalnum(c) && !(lower_only && g_ascii_isupper(c));
    if (!letter_or_digit && std::strchr(punctuation, c) == nullptr) return false;
  }
  return !text.empty();
}

std::string_view MediaTypeOf(const ResourceRecord& record) {
  return record.media_type.find('/') == std::string::npos ? "application/octet-stream"
                                                          : std::string_view(record.media_type);
}

// The headers GMime writes for a resource, written here when every value is a short plain
// token that GMime would leave as it is.
bool PlainHeaders(const ResourceRecord& record, std::string& headers) {
  std::string_view type = MediaTypeOf(record);
  size_t slash = type.find('/');
  bool plain =
      IsPlain(type.substr(0, slash), "+-.", true) && IsPlain(type.substr(slash + 1), "+-.", true);
  plain = plain && (record.content_id.empty() || IsPlain(record.content_id, "@._-")) &&
          (record.name.empty() || IsPlain(record.name, "._-"));
  headers.clear();
  auto line = [&](std::string_view name, std::string_view value, std::string_view close) {
    if (name.size() + value.size() + close.size() > kMaxPlainLine) plain = false;
    headers.append(name).append(value).append(close).append("\r\n");
  };
  line("Content-Type: ", type, "");
  line("Content-Transfer-Encoding: ", "base64", "");
  if (!record.content_id.empty()) line("Content-ID: <", record.content_id, ">");
  if (!record.name.empty()) line("Content-Location: ", record.name, "");
  return plain;
}

// The same headers through GMime, for values it folds or encodes.
std::string GMimeHeaders(const ResourceRecord& record, GMimeFormatOptions* options) {
  std::string type(MediaTypeOf(record));
  size_t slash = type.find('/');
  GPtr<GMimePart> part(
      g_mime_part_new_with_type(type.substr(0, slash).c_str(), type.substr(slash + 1).c_str()));
  GMimeObject* object = GMIME_OBJECT(part.get());
  g_mime_part_set_content_encoding(part.get(), GMIME_CONTENT_ENCODING_BASE64);
  // Written by name rather than through g_mime_part_set_content_id, which spells it
  // "Content-Id"; readers match either, but the archive says what it means as RFC 2392 spells it.
  if (!record.content_id.empty()) {
    std::string value = "<" + record.content_id + ">";
    g_mime_object_set_header(object, "Content-ID", value.c_str(), nullptr);
  }
  if (!record.name.empty()) g_mime_part_set_content_location(part.get(), record.name.c_str());
  char* text = g_mime_object_get_headers(object, options);
  std::string headers = text == nullptr ? "" : text;
  g_free(text);
  return headers;
}

// Size of a readable, non-empty regular file at path; 0 for anything else, which the archive
// leaves out.
size_t ResourceSize(const std::string& path) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return 0;
  return static_cast<size_t>(status.st_size);
}

// The content's size: the caller's bytes, else the file's.
size_t ContentSize(const ResourceRecord& record) {
  return record.bytes != nullptr ? record.length : ResourceSize(record.path);
}

// One resource as the archive will carry it; its headers lie in one text shared by all parts,
// which spares a page of thousands of pictures an allocation for each.
struct PlannedPart {
  const ResourceRecord* record;
  size_t headers_at;
  size_t headers_length;
  size_t bytes;  // read from the file at most; the text is sized for this many
};

enum class BodyWritten { kWritten, kLeftOut, kFailed };

// Writes the base64 text of up to limit bytes of the file at path at out and moves out past
// it. O_NONBLOCK keeps a FIFO put in the file's place from blocking the open. kLeftOut when the
// file is no longer a readable, non-empty regular file; kFailed when a read fails.
BodyWritten WriteBody(const std::string& path, size_t limit, std::string& chunk, char*& out) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return BodyWritten::kLeftOut;
  struct stat status;
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0) {
    ::close(fd);
    return BodyWritten::kLeftOut;
  }
  size_t left = std::min(limit, static_cast<size_t>(status.st_size));
  while (left > 0) {
    size_t filled = 0, want = std::min(left, chunk.size());
    while (filled < want) {
      ssize_t got = ::read(fd, chunk.data() + filled, want - filled);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        ::close(fd);
        return BodyWritten::kFailed;
      }
      if (got == 0) break;  // cut short meanwhile: what is there is the part
      filled += static_cast<size_t>(got);
    }
    out += Base64Encode(reinterpret_cast<const unsigned char*>(chunk.data()), filled, out);
    left = filled < want ? 0 : left - filled;
  }
  ::close(fd);
  return BodyWritten::kWritten;
}

// A large archive is written into fresh memory once, front to back: in pages of 2 MB it costs
// a fault per 2 MB instead of one per 4 KB (a fifth of a 50 MB encode went to faults).
void AskForLargePages(char* text, size_t size) {
  constexpr uintptr_t kLargePage = uintptr_t{2} << 20;
  if (size < 2 * kLargePage) return;
  uintptr_t begin = (reinterpret_cast<uintptr_t>(text) + kLargePage - 1) & ~(kLargePage - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(text) + size) & ~(kLargePage - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

void Append(char*& out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  out += text.size();
}

}  // namespace

bool EncodeArchive(std::string_view page, const std::vector<ResourceRecord>& resources,
                   const EncodeSettings& settings, char** archive, size_t* archive_length) {
  FormatOptions options(CrLfOptions());
  std::string head, boundary;
  if (!WriteHead(page, settings, options.get(), head, boundary)) return false;
  std::string delimiter = "--" + boundary + "\r\n";
  std::vector<PlannedPart> parts;
  parts.reserve(resources.size());
  std::string all_headers, headers;
  size_t total = head.size() + delimiter.size() + 2 + 1;  // closing delimiter, final 0
  for (const ResourceRecord& record : resources) {
    size_t bytes = ContentSize(record);
    if (bytes == 0) continue;
    if (!PlainHeaders(record, headers)) headers = GMimeHeaders(record, options.get());
    parts.push_back({&record, all_headers.size(), headers.size(), bytes});
    all_headers += headers;
    total += delimiter.size() + headers.size() + 2 + Base64BufferSize(bytes) + 2;
  }
  char* text = static_cast<char*>(g_try_malloc(total));
  if (text == nullptr) return false;
  AskForLargePages(text, total);
  char* out = text;
  Append(out, head);
  std::string chunk;  // for parts read from their files
  for (const PlannedPart& part : parts) {
    char* start = out;
    Append(out, delimiter);
    Append(out, std::string_view(all_headers).substr(part.headers_at, part.headers_length));
    Append(out, "\r\n");
    const ResourceRecord& record = *part.record;
    BodyWritten body = BodyWritten::kWritten;
    if (record.bytes != nullptr) {
      out += Base64Encode(record.bytes, record.length, out);
    } else {
      if (chunk.empty()) chunk.assign(kReadBytes, '\0');
      body = WriteBody(record.path, part.bytes, chunk, out);
    }
    if (body == BodyWritten::kFailed) {
      g_free(text);
      return false;
    }
    if (body == BodyWritten::kLeftOut) out = start;
    if (body == BodyWritten::kWritten) Append(out, "\r\n");
  }
  Append(out, "--" + boundary + "--\r\n");
  *out = '\0';
  *archive_length = static_cast<size_t>(out - text);
  *archive = text;
  return true;
}

}  // namespace mimecodec
