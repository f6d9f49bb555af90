// Stand-ins for the codec component, built several times as "mimearchivecodec.so" in separate
// folders. The complete one records every call it receives, so that tests can check the
// sequences the service's client runs; the others each lack one thing the client insists on.
//
//   FAKE_WITHOUT_FACTORY  no "GetMimeArchiveCodec" export
//   FAKE_CREATE_FAILS     `create` gives no instance
//   FAKE_MISSING_ENTRY    the table has no `Encode`
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mime_codec/mime_codec_interface.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

struct MimeArchiveCodec {
  int unused;
};

namespace {

std::string g_log;

void Record(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Record(const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  g_log += line;
  g_log += ';';
}

MimeArchiveCodec* Create() {
#ifdef FAKE_CREATE_FAILS
  return nullptr;
#else
  Record("create");
  return new MimeArchiveCodec();
#endif
}

int32_t EncodeRange(MimeArchiveCodec*, int32_t value) {
  Record("EncodeRange(%d)", value);
  return 0;
}
int32_t EncodeType(MimeArchiveCodec*, int32_t value) {
  Record("EncodeType(%d)", value);
  return 0;
}
int32_t Decode(MimeArchiveCodec*, const char* archive, size_t length, int folder_fd) {
  Record("Decode(%.*s|%s)", static_cast<int>(length), archive, folder_fd >= 0 ? "folder" : "none");
  return -1;  // the client must not look at it
}
int32_t Charset(MimeArchiveCodec*, const char* charset) {
  Record("Charset(%s)", charset);
  return 0;
}
// Answers "archive of <page>"; a page "fail" fails, as a real encode error would.
int32_t Encode(MimeArchiveCodec*, const unsigned char* page, size_t length,
               const MimeArchiveResource* resources, size_t count, char** archive,
               size_t* archive_length) {
  std::string text(reinterpret_cast<const char*>(page), length);
  std::string listed;
  for (size_t i = 0; i < count; ++i) {
    for (const char* field :
         {resources[i].content_id, resources[i].path, resources[i].name, resources[i].media_type}) {
      listed += std::string(field) + "|";
    }
  }
  Record("Encode(%s|%s)", text.c_str(), listed.c_str());
  if (text == "fail") return -2147467259;
  std::string answer = "archive of " + text;
  *archive = static_cast<char*>(std::malloc(answer.size() + 1));
  std::memcpy(*archive, answer.c_str(), answer.size() + 1);
  *archive_length = answer.size();
  return 0;
}
int32_t IntegerOption(MimeArchiveCodec*, int32_t value) {
  Record("IntegerOption(%d)", value);
  return 0;
}
int32_t BooleanOption(MimeArchiveCodec*, int16_t value) {
  Record("BooleanOption(%d)", value);
  return 0;
}
void Release(MimeArchiveCodec* codec) {
  Record("release");
  delete codec;
}
void FreeText(char* text) {
  Record("free_text(%s)", text == nullptr ? "null" : "text");
  std::free(text);
}

#ifdef FAKE_MISSING_ENTRY
constexpr decltype(&Encode) kEncode = nullptr;
#else
constexpr decltype(&Encode) kEncode = Encode;
#endif

constexpr MimeArchiveCodecInterface kInterface = {
    Create,  EncodeRange,   EncodeType,    Decode,  Charset,
    kEncode, IntegerOption, BooleanOption, Release, FreeText,
    nullptr,  // put_DecodedFileSink is optional: the client decodes without it
    nullptr,  // put_EncodedFileSink likewise
};

}  // namespace

#ifndef FAKE_WITHOUT_FACTORY
FAKE_EXPORT const MimeArchiveCodecInterface* GetMimeArchiveCodec(void) { return &kInterface; }
#endif

// Read and reset by the tests, which keep the component loaded themselves so that the log
// survives the client letting go of it.
FAKE_EXPORT const char* FakeCodecLog(void) { return g_log.c_str(); }
FAKE_EXPORT void FakeCodecReset(void) { g_log.clear(); }
