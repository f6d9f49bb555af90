// A stand-in codec component whose every call succeeds except Encode, which fails.
#include "mime_codec/mime_codec_interface.h"

namespace {

struct MimeArchiveCodecStandIn {
  int unused;
};
MimeArchiveCodecStandIn instance;

MimeArchiveCodec* Create() { return reinterpret_cast<MimeArchiveCodec*>(&instance); }
int32_t PutInt(MimeArchiveCodec*, int32_t) { return 0; }
int32_t PutBool(MimeArchiveCodec*, int16_t) { return 0; }
int32_t PutText(MimeArchiveCodec*, const char*) { return 0; }
int32_t Decode(MimeArchiveCodec*, const char*, size_t, const char*) { return -1; }
int32_t Encode(MimeArchiveCodec*, const unsigned char*, size_t, const char*, char**, size_t*) {
  return -2147467259;  // E_FAIL
}
void Release(MimeArchiveCodec*) {}
void FreeText(char*) {}

const MimeArchiveCodecInterface kTable = {Create, PutInt, PutInt,  Decode,  PutText,
                                          Encode, PutInt, PutBool, Release, FreeText};

}  // namespace

extern "C" __attribute__((visibility("default"))) const MimeArchiveCodecInterface*
GetMimeArchiveCodec() {
  return &kTable;
}
