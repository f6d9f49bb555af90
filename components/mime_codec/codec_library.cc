// The export of mimearchivecodec.so: "GetMimeArchiveCodec". Everything else in the component
// is hidden (see exports.map).
#include <glib.h>

#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "archive_decoder.h"
#include "archive_encoder.h"
#include "gmime_setup.h"
#include "mime_codec_interface.h"

struct MimeArchiveCodec {
  mimecodec::EncodeSettings settings;
  // Accepted for the caller's sake; the archive format has nothing they could change.
  int32_t range = 0;
  int32_t integer_option = 2;
  int16_t boolean_option = -1;
  MimeDecodedFileSink sink = nullptr;
  void* sink_context = nullptr;
  MimeEncodedFileSink encoded_sink = nullptr;
  void* encoded_context = nullptr;
};

namespace {

constexpr int32_t kOk = 0;
constexpr int32_t kFailed = static_cast<int32_t>(0x80004005);       // E_FAIL
constexpr int32_t kBadArgument = static_cast<int32_t>(0x80070057);  // E_INVALIDARG

MimeArchiveCodec* Create() {
  mimecodec::EnsureGMime();
  return new (std::nothrow) MimeArchiveCodec();
}

int32_t PutEncodeRange(MimeArchiveCodec* codec, int32_t range) {
  if (codec == nullptr) return kBadArgument;
  codec->range = range;
  return kOk;
}

int32_t PutEncodeType(MimeArchiveCodec* codec, int32_t type) {
  if (codec == nullptr) return kBadArgument;
  codec->settings.encode_type = type;
  return kOk;
}

int32_t Decode(MimeArchiveCodec* codec, const char* archive, size_t length, int folder_fd) {
  if (codec == nullptr || archive == nullptr || folder_fd < 0) return kBadArgument;
  mimecodec::WrittenFileSink written;
  if (codec->sink != nullptr) {
    written = [codec](const std::string& name, std::string_view bytes) {
      codec->sink(codec->sink_context, name.c_str(),
                  reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    };
  }
  mimecodec::EncodedFileSink encoded;
  if (codec->encoded_sink != nullptr) {
    encoded = [codec](const std::string& name, size_t offset, size_t length, uint64_t size) {
      codec->encoded_sink(codec->encoded_context, name.c_str(), offset, length, size);
    };
  }
  return mimecodec::DecodeArchive(std::string_view(archive, length), folder_fd, 0, written, encoded)
             ? kOk
             : kFailed;
}

int32_t PutEncodedFileSink(MimeArchiveCodec* codec, MimeEncodedFileSink sink, void* context) {
  if (codec == nullptr) return kBadArgument;
  codec->encoded_sink = sink;
  codec->encoded_context = context;
  return kOk;
}

int32_t PutDecodedFileSink(MimeArchiveCodec* codec, MimeDecodedFileSink sink, void* context) {
  if (codec == nullptr) return kBadArgument;
  codec->sink = sink;
  codec->sink_context = context;
  return kOk;
}

int32_t PutCharset(MimeArchiveCodec* codec, const char* charset) {
  if (codec == nullptr || charset == nullptr) return kBadArgument;
  codec->settings.charset = charset;
  return kOk;
}

std::string TextOf(const char* text) { return text == nullptr ? std::string() : text; }

int32_t Encode(MimeArchiveCodec* codec, const unsigned char* page, size_t page_length,
               const MimeArchiveResource* resources, size_t resource_count, char** archive,
               size_t* archive_length) {
  if (archive != nullptr) *archive = nullptr;
  if (archive_length != nullptr) *archive_length = 0;
  if (codec == nullptr || (page == nullptr && page_length > 0) || archive == nullptr ||
      archive_length == nullptr || (resources == nullptr && resource_count > 0)) {
    return kBadArgument;
  }
  std::string_view page_bytes(reinterpret_cast<const char*>(page), page_length);
  std::vector<mimecodec::ResourceRecord> records;
  records.reserve(resource_count);
  for (size_t i = 0; i < resource_count; ++i) {
    const MimeArchiveResource& r = resources[i];
    records.push_back({TextOf(r.content_id), TextOf(r.path), TextOf(r.name), TextOf(r.media_type),
                       r.bytes, r.bytes == nullptr ? 0 : r.length});
  }
  return mimecodec::EncodeArchive(page_bytes, records, codec->settings, archive, archive_length)
             ? kOk
             : kFailed;
}

int32_t PutIntegerOption(MimeArchiveCodec* codec, int32_t value) {
  if (codec == nullptr) return kBadArgument;
  codec->integer_option = value;
  return kOk;
}

int32_t PutBooleanOption(MimeArchiveCodec* codec, int16_t value) {
  if (codec == nullptr) return kBadArgument;
  codec->boolean_option = value;
  return kOk;
}

void Release(MimeArchiveCodec* codec) { delete codec; }

void FreeText(char* text) { g_free(text); }

constexpr MimeArchiveCodecInterface kInterface = {
    Create,     PutEncodeRange, PutEncodeType,      Decode,
    PutCharset, Encode,         PutIntegerOption,   PutBooleanOption,
    Release,    FreeText,       PutDecodedFileSink, PutEncodedFileSink,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const MimeArchiveCodecInterface*
GetMimeArchiveCodec(void) {
  return &kInterface;
}
