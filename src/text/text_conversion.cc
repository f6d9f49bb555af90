#include "text/text_conversion.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";

// Length of the valid UTF-8 sequence at text[i], or 0 when it is not one (RFC 3629, table 3-7
// of the Unicode standard: no over-long forms, no surrogates, nothing above U+10FFFF).
size_t ValidSequenceLength(std::string_view text, size_t i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  size_t length;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  unsigned char second = byte(i + 1);
  if (second < low || second > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  }
  return length;
}

std::string Sanitize(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    size_t length = ValidSequenceLength(text, i);
    if (length == 0) {
      out.append(kReplacement);
      ++i;
    } else {
      out.append(text.data() + i, length);
      i += length;
    }
  }
  return out;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    // Archives and pages are mostly ASCII: 32 bytes at a time while none has its high bit.
    uint64_t words[4];
    if (text.size() - i >= sizeof words) {
      std::memcpy(words, text.data() + i, sizeof words);
      if (((words[0] | words[1] | words[2] | words[3]) & 0x8080808080808080ULL) == 0) {
        i += sizeof words;
        continue;
      }
    }
    uint64_t eight;
    if (text.size() - i >= sizeof eight) {
      std::memcpy(&eight, text.data() + i, sizeof eight);
      if ((eight & 0x8080808080808080ULL) == 0) {
        i += sizeof eight;
        continue;
      }
    }
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    size_t length = ValidSequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string WideToUtf8(std::string_view text) {
  return IsValidUtf8(text) ? std::string(text) : Sanitize(text);
}

std::string Utf8ToWide(std::string_view text) { return WideToUtf8(text); }
