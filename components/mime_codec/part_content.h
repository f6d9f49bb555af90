#ifndef ORVO_COMPONENTS_MIME_CODEC_PART_CONTENT_H_
#define ORVO_COMPONENTS_MIME_CODEC_PART_CONTENT_H_

#include <gmime/gmime.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace mimecodec {

// Decodes base64 as archive writers write it: lines of the RFC 4648 alphabet ended by CR LF
// or LF, '=' only as the closing one or two of the last group. Lines of 76 characters and
// CR LF (what browsers and this system write) are decoded sixteen characters at a time where
// the processor can (SSSE3), other whole groups four characters at a time, so a clean line
// costs a few operations per byte, not a filter's pass per character. Anything else (stray
// characters, padding inside the text, a group left open) is refused, and GMime's filter decodes
// that part as it always has: its rules for such text stay the ones archives were read with.
class CleanBase64Decoder {
 public:
  // The room Feed needs for length characters: the bytes they decode to, and a few it may
  // scribble past them when it writes sixteen at a time.
  static size_t MaxDecodedSize(size_t length) { return length / 4 * 3 + 16; }

  // Decodes the next piece of the text into out (room for MaxDecodedSize bytes), the count of
  // bytes written in *written. False when the text is not clean base64.
  bool Feed(std::string_view text, unsigned char* out, size_t* written);

  // Whether the text fed so far may end here.
  bool Finished() const { return digits_ == 0 && padding_ == 0; }

 private:
  unsigned digits_ = 0;   // of the group begun
  unsigned padding_ = 0;  // '=' of the last group seen so far
  bool closed_ = false;   // the last group ended: only line breaks may follow
  uint32_t saved_ = 0;
};

// A part's clean base64 text where the archive holds it, and the count of bytes it decodes to.
struct Base64Source {
  std::string_view text;
  uint64_t size = 0;
};

// Whether text is base64 exactly as Base64Encode spells size bytes: lines of 76 characters
// each followed by CR LF (the last, shorter line too), '=' padding, the unused bits of the
// last group zero. The characters are taken to be a clean decode's (alphabet and padding only
// where they may stand); only the layout and the last group are looked at.
bool IsCanonicalBase64(std::string_view text, uint64_t size);

// Writes the decoded content of part into fd: clean base64 through CleanBase64Decoder from where
// the archive holds it, any other transfer encoding through GMime. False when a write failed.
// With whole, a part of clean base64 that decodes in one piece (up to kWholePartBytes) is
// decoded into *whole and written from there, so that the caller has its bytes without reading
// the file back; *whole is left empty for any other part. With source, a part of clean base64
// that lies in the archive's own memory (not one read through a copy) is described there;
// source->text is left empty for any other part.
bool WritePartContent(GMimePart* part, int fd, std::string* whole = nullptr,
                      Base64Source* source = nullptr);
inline constexpr size_t kWholePartBytes = 48 * 1024;

// The decoded content of part.
std::string PartContent(GMimePart* part);

}  // namespace mimecodec

#endif  // ORVO_COMPONENTS_MIME_CODEC_PART_CONTENT_H_
