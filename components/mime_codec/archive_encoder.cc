#include "archive_encoder.h"

#include <fcntl.h>
#include <gmime/gmime.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "gobject_ptr.h"

namespace mimecodec {
namespace {

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

void SetContent(GMimePart* part, GMimeStream* stream, GMimeContentEncoding encoding) {
  GPtr<GMimeDataWrapper> wrapper(
      g_mime_data_wrapper_new_with_stream(stream, GMIME_CONTENT_ENCODING_DEFAULT));
  g_mime_part_set_content(part, wrapper.get());
  g_mime_part_set_content_encoding(part, encoding);
}

GMimePart* PagePart(std::string_view page, const EncodeSettings& settings) {
  GMimePart* part = g_mime_part_new_with_type("text", "html");
  std::string charset = settings.charset.empty() ? "utf-8" : settings.charset;
  g_mime_object_set_content_type_parameter(GMIME_OBJECT(part), "charset", charset.c_str());
  GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(page.data(), page.size()));
  SetContent(part, stream.get(), PageEncoding(settings.encode_type, page));
  return part;
}

// A stream over the resource's file, or null when it is not a readable, non-empty regular
// file. O_NONBLOCK keeps a FIFO named in the list from blocking the open.
GMimeStream* OpenResource(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat status;
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0) {
    ::close(fd);
    return nullptr;
  }
  return g_mime_stream_fs_new(fd);
}

GMimePart* ResourcePart(const ResourceRecord& record) {
  GPtr<GMimeStream> stream(OpenResource(record.path));
  if (stream.get() == nullptr) return nullptr;
  std::string media_type = record.media_type;
  if (media_type.find('/') == std::string::npos) media_type = "application/octet-stream";
  std::string type = media_type.substr(0, media_type.find('/'));
  std::string subtype = media_type.substr(media_type.find('/') + 1);
  GMimePart* part = g_mime_part_new_with_type(type.c_str(), subtype.c_str());
  SetContent(part, stream.get(), GMIME_CONTENT_ENCODING_BASE64);
  // Written by name rather than through g_mime_part_set_content_id, which spells it
  // "Content-Id"; readers match either, but the archive says what it means as RFC 2392 spells it.
  if (!record.content_id.empty()) {
    std::string value = "<" + record.content_id + ">";
    g_mime_object_set_header(GMIME_OBJECT(part), "Content-ID", value.c_str(), nullptr);
  }
  if (!record.name.empty()) g_mime_part_set_content_location(part, record.name.c_str());
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

}  // namespace

bool EncodeArchive(std::string_view page, const std::vector<ResourceRecord>& resources,
                   const EncodeSettings& settings, char** archive, size_t* archive_length) {
  GPtr<GMimeMultipart> multipart(g_mime_multipart_new_with_subtype("related"));
  GMimeObject* root = GMIME_OBJECT(multipart.get());
  g_mime_object_set_content_type_parameter(root, "type", "text/html");
  g_mime_object_prepend_header(root, "MIME-Version", "1.0", nullptr);
  GPtr<GMimePart> page_part(PagePart(page, settings));
  g_mime_multipart_add(multipart.get(), GMIME_OBJECT(page_part.get()));
  for (const ResourceRecord& record : resources) {
    GPtr<GMimePart> part(ResourcePart(record));
    if (part.get() != nullptr) g_mime_multipart_add(multipart.get(), GMIME_OBJECT(part.get()));
  }
  ChooseBoundary(multipart.get(), page);

  GMimeFormatOptions* options = g_mime_format_options_new();
  g_mime_format_options_set_newline_format(options, GMIME_NEWLINE_FORMAT_DOS);
  GPtr<GMimeStream> output(g_mime_stream_mem_new());
  ssize_t written = g_mime_object_write_to_stream(root, options, output.get());
  g_mime_format_options_free(options);
  if (written < 0) return false;

  // The text leaves the stream's own buffer without a copy: the stream gives up ownership.
  GMimeStreamMem* memory = GMIME_STREAM_MEM(output.get());
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(memory);
  g_mime_stream_mem_set_owner(memory, FALSE);
  *archive_length = bytes->len;
  g_byte_array_append(bytes, reinterpret_cast<const guint8*>(""), 1);
  *archive = reinterpret_cast<char*>(g_byte_array_free(bytes, FALSE));
  return true;
}

}  // namespace mimecodec
