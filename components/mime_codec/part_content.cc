#include "part_content.h"

#include <unistd.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <array>
#include <vector>

#include "gobject_ptr.h"
#include "platform/write_all.h"

namespace mimecodec {
namespace {

constexpr unsigned char kNotDigit = 0xff;
// Set in a group's bits when one of its characters is not a digit: the group then goes
// character by character.
constexpr uint32_t kNotPlain = 1u << 24;

struct Tables {
  std::array<unsigned char, 256> digit{};
  std::array<std::array<uint32_t, 256>, 4> group{};  // a digit's bits at each place of a group

  Tables() {
    digit.fill(kNotDigit);
    const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (unsigned i = 0; i < 64; ++i) digit[static_cast<unsigned char>(alphabet[i])] = i;
    for (unsigned place = 0; place < 4; ++place) {
      for (unsigned c = 0; c < 256; ++c) {
        group[place][c] =
            digit[c] == kNotDigit ? kNotPlain : uint32_t{digit[c]} << (6 * (3 - place));
      }
    }
  }
};

const Tables& DecodeTables() {
  static const Tables tables;
  return tables;
}

// A line of 76 base64 characters (in) decoded into its 57 bytes at out, which has room for 4
// more that may be scribbled on. False when a character is not of the alphabet: out then holds
// nothing of use.
using LineDecoder = bool (*)(const unsigned char* in, unsigned char* out);
constexpr size_t kLineChars = 76;

#if defined(__x86_64__)
// Sixteen characters at a time: each is classified by two nibble tables (a character of the
// alphabet has no bit in common between its low and high nibble's entries), moved to its 6-bit
// value by an offset chosen by its high nibble ('/' has its own), and four values are packed
// into three bytes by two multiply-adds. The fifth block overlaps the fourth by four
// characters, which decode to the same three bytes again.
__attribute__((target("ssse3"))) bool DecodeLineSsse3(const unsigned char* in, unsigned char* out) {
  const __m128i lut_lo = _mm_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                                       0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
  const __m128i lut_hi = _mm_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10,
                                       0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
  const __m128i lut_roll = _mm_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m128i mask_2f = _mm_set1_epi8(0x2f);
  const __m128i order = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
  __m128i bad = _mm_setzero_si128();
  for (size_t from : {0, 16, 32, 48, 60}) {
    __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + from));
    __m128i hi_nibbles = _mm_and_si128(_mm_srli_epi32(chars, 4), mask_2f);
    __m128i lo_nibbles = _mm_and_si128(chars, mask_2f);
    bad = _mm_or_si128(bad, _mm_and_si128(_mm_shuffle_epi8(lut_lo, lo_nibbles),
                                          _mm_shuffle_epi8(lut_hi, hi_nibbles)));
    __m128i slash = _mm_cmpeq_epi8(chars, mask_2f);
    __m128i values =
        _mm_add_epi8(chars, _mm_shuffle_epi8(lut_roll, _mm_add_epi8(slash, hi_nibbles)));
    __m128i pairs = _mm_maddubs_epi16(values, _mm_set1_epi32(0x01400140));
    __m128i groups = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00011000));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + from / 4 * 3),
                     _mm_shuffle_epi8(groups, order));
  }
  return _mm_movemask_epi8(_mm_cmpeq_epi8(bad, _mm_setzero_si128())) == 0xFFFF;
}

LineDecoder ChooseLineDecoder() {
  return __builtin_cpu_supports("ssse3") ? DecodeLineSsse3 : nullptr;
}
#else
LineDecoder ChooseLineDecoder() { return nullptr; }
#endif

// Null where the processor has no faster way than groups of four.
const LineDecoder kDecodeLine = ChooseLineDecoder();

// The part's encoded text: where the archive holds it when the part's stream is a window on
// the archive's memory (the whole archive parsed at once), else read into held.
std::string_view EncodedText(GMimeDataWrapper* content, std::string& held) {
  GMimeStream* stream = g_mime_data_wrapper_get_stream(content);
  if (stream == nullptr) return {};
  if (GMIME_IS_STREAM_MEM(stream)) {
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
    if (bytes == nullptr) return {};
    auto length = static_cast<gint64>(bytes->len);
    gint64 end = stream->bound_end < 0 ? length : std::min(stream->bound_end, length);
    gint64 start = std::min(stream->bound_start, end);
    return {reinterpret_cast<const char*>(bytes->data) + start, static_cast<size_t>(end - start)};
  }
  g_mime_stream_reset(stream);
  char buffer[16 * 1024];
  for (ssize_t read; (read = g_mime_stream_read(stream, buffer, sizeof buffer)) > 0;) {
    held.append(buffer, static_cast<size_t>(read));
  }
  return held;
}

bool IsBase64(GMimeDataWrapper* content) {
  return g_mime_data_wrapper_get_encoding(content) == GMIME_CONTENT_ENCODING_BASE64;
}

// text decoded whole into *decoded when it is clean base64.
bool DecodeClean(std::string_view text, std::string& decoded) {
  decoded.resize(CleanBase64Decoder::MaxDecodedSize(text.size()));
  size_t length = 0;
  CleanBase64Decoder decoder;
  if (!decoder.Feed(text, reinterpret_cast<unsigned char*>(&decoded[0]), &length) ||
      !decoder.Finished()) {
    return false;
  }
  decoded.resize(length);
  return true;
}

bool WriteThroughGMime(GMimeDataWrapper* content, GMimeStream* out) {
  bool ok = g_mime_data_wrapper_write_to_stream(content, out) >= 0;
  return g_mime_stream_flush(out) == 0 && ok;
}

bool WriteThroughGMime(GMimeDataWrapper* content, int fd) {
  // A pipe stream writes with write(2) as a file stream does, but its flush does not fsync: a
  // file stream would sync every part to disk (seconds for a thousand parts).
  GPtr<GMimeStream> out(g_mime_stream_pipe_new(fd));
  g_mime_stream_pipe_set_owner(GMIME_STREAM_PIPE(out.get()), FALSE);
  return WriteThroughGMime(content, out.get());
}

}  // namespace

bool CleanBase64Decoder::Feed(std::string_view text, unsigned char* out_start, size_t* written) {
  const Tables& tables = DecodeTables();
  const auto& group = tables.group;
  auto p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* end = p + text.size();
  unsigned char* out = out_start;
  bool clean = true;
  while (p < end && clean) {
    if (digits_ == 0 && !closed_) {
      if (kDecodeLine != nullptr) {
        while (static_cast<size_t>(end - p) >= kLineChars + 2 && p[kLineChars] == '\r' &&
               p[kLineChars + 1] == '\n' && kDecodeLine(p, out)) {
          p += kLineChars + 2;
          out += kLineChars / 4 * 3;
        }
      }
      while (end - p >= 4) {
        uint32_t bits = group[0][p[0]] | group[1][p[1]] | group[2][p[2]] | group[3][p[3]];
        if (bits & kNotPlain) break;
        out[0] = static_cast<unsigned char>(bits >> 16);
        out[1] = static_cast<unsigned char>(bits >> 8);
        out[2] = static_cast<unsigned char>(bits);
        out += 3;
        p += 4;
      }
      if (p == end) break;
    }
    unsigned char c = *p++;
    unsigned char digit = tables.digit[c];
    if (c == '\r' || c == '\n') continue;
    if (digit != kNotDigit && padding_ == 0 && !closed_) {
      saved_ = saved_ << 6 | digit;
      if (++digits_ == 4) {
        out[0] = static_cast<unsigned char>(saved_ >> 16);
        out[1] = static_cast<unsigned char>(saved_ >> 8);
        out[2] = static_cast<unsigned char>(saved_);
        out += 3;
        digits_ = 0;
      }
    } else if (c == '=' && digits_ >= 2 && !closed_) {
      // "xx==" gives one byte, "xxx=" two.
      if (digits_ + ++padding_ == 4) {
        *out++ = static_cast<unsigned char>(saved_ >> (digits_ == 2 ? 4 : 10));
        if (digits_ == 3) *out++ = static_cast<unsigned char>(saved_ >> 2);
        digits_ = padding_ = 0;
        closed_ = true;
      }
    } else {
      clean = false;
    }
  }
  *written = static_cast<size_t>(out - out_start);
  return clean;
}

bool IsCanonicalBase64(std::string_view text, uint64_t size) {
  constexpr uint64_t kLine = 76;
  uint64_t chars = (size + 2) / 3 * 4;
  uint64_t lines = (chars + kLine - 1) / kLine;
  if (size == 0 || text.size() != chars + 2 * lines) return false;
  for (uint64_t line = 0; line < lines; ++line) {
    size_t end = static_cast<size_t>(std::min((line + 1) * kLine, chars) + 2 * line);
    if (text[end] != '\r' || text[end + 1] != '\n') return false;
  }
  // Bits a decoder drops would be written as zeroes: "QR==" and "QQ==" decode alike.
  const auto& digit = DecodeTables().digit;
  auto last = [&](size_t back) { return static_cast<unsigned char>(text[text.size() - 3 - back]); };
  switch (size % 3) {
    case 1:
      return last(0) == '=' && last(1) == '=' && (digit[last(2)] & 0x0f) == 0;
    case 2:
      return last(0) == '=' && digit[last(1)] != kNotDigit && (digit[last(1)] & 0x03) == 0;
    default:
      return last(0) != '=';
  }
}

bool WritePartContent(GMimePart* part, int fd, std::string* whole, Base64Source* source) {
  if (whole != nullptr) whole->clear();
  if (source != nullptr) *source = Base64Source();
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  if (content == nullptr) return true;
  if (!IsBase64(content)) return WriteThroughGMime(content, fd);
  std::string held;
  std::string_view text = EncodedText(content, held);
  // Only a window on the archive outlives this call.
  auto describe = [&](uint64_t size) {
    if (source != nullptr && held.empty()) *source = {text, size};
  };
  constexpr size_t kSlice = kWholePartBytes / 3 * 4;
  if (whole != nullptr && text.size() <= kSlice) {
    if (DecodeClean(text, *whole)) {
      describe(whole->size());
      return WriteAll(fd, *whole);
    }
    whole->clear();
    return WriteThroughGMime(content, fd);
  }
  std::vector<unsigned char> decoded(
      CleanBase64Decoder::MaxDecodedSize(std::min(kSlice, text.size())));
  CleanBase64Decoder decoder;
  bool clean = true, ok = true;
  uint64_t size = 0;
  for (size_t at = 0; at < text.size() && clean && ok; at += kSlice) {
    size_t length = 0;
    clean = decoder.Feed(text.substr(at, kSlice), decoded.data(), &length);
    ok = WriteAll(fd, std::string_view(reinterpret_cast<const char*>(decoded.data()), length));
    size += length;
  }
  if (clean && decoder.Finished()) {
    describe(size);
    return ok;
  }
  // Not clean base64: what was written goes, and GMime decodes the part from its start.
  if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) return false;
  return WriteThroughGMime(content, fd);
}

namespace {

// The text through GMime's decoding filter for encoding, in one call: the filter decodes the
// same in one piece as in the stream's pieces, without the stream's copies of a page of
// megabytes.
std::string Filtered(std::string_view text, GMimeContentEncoding encoding) {
  GPtr<GMimeFilter> filter(g_mime_filter_basic_new(encoding, FALSE));
  char* out = nullptr;
  size_t length = 0, prespace = 0;
  // A fresh filter holds nothing back, so it only reads the input it is handed.
  g_mime_filter_complete(filter.get(), const_cast<char*>(text.data()), text.size(), 0, &out,
                         &length, &prespace);
  return out == nullptr ? std::string() : std::string(out, length);
}

}  // namespace

std::string PartContent(GMimePart* part) {
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  if (content == nullptr) return {};
  GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(content);
  if (encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE) {
    std::string held;
    return Filtered(EncodedText(content, held), encoding);
  }
  if (IsBase64(content)) {
    std::string held, decoded;
    if (DecodeClean(EncodedText(content, held), decoded)) return decoded;
  }
  // Sized for the encoded text, which no transfer encoding decodes to more bytes: a page of
  // megabytes is not copied again each time the array would have grown.
  GMimeStream* encoded = g_mime_data_wrapper_get_stream(content);
  gint64 length = encoded == nullptr ? -1 : g_mime_stream_length(encoded);
  guint room = length > 0 && length < G_MAXUINT ? static_cast<guint>(length) : 0;
  GPtr<GMimeStream> memory(g_mime_stream_mem_new_with_byte_array(g_byte_array_sized_new(room)));
  WriteThroughGMime(content, memory.get());
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(memory.get()));
  return std::string(reinterpret_cast<const char*>(bytes->data), bytes->len);
}

}  // namespace mimecodec
