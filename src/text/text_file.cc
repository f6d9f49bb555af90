#include "text/text_file.h"

#include <cstdint>
#include <cstring>

#include "platform/file_system.h"
#include "text/charset_table.h"
#include "text/code_page.h"
#include "text/text_conversion.h"

namespace {

constexpr size_t kCharsetRoom = 1023;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsAsciiAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}
bool EndsValue(char c) { return IsBlank(c) || c == '"' || c == '\'' || c == '<' || c == '>'; }

// Text bytes below 0x80: BEL, BS, TAB, LF, FF, CR, ESC and the printable range.
bool IsTextByte(unsigned char c) {
  return c == 0x07 || c == 0x08 || c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D || c == 0x1B ||
         (c >= 0x20 && c <= 0x7E);
}

bool IsPlainAscii(std::string_view bytes) {
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// Code pages whose converters give every byte below 0x80 as that character.
bool KeepsAscii(int code_page) {
  return code_page == 65001 || code_page == 20127 || code_page == 874 ||
         (code_page >= 1250 && code_page <= 1258) || (code_page >= 28591 && code_page <= 28605) ||
         code_page == 936 || code_page == 949 || code_page == 950 || code_page == 54936;
}

std::string_view UpToFirstZero(std::string_view bytes) {
  size_t zero = bytes.find('\0');
  return zero == std::string_view::npos ? bytes : bytes.substr(0, zero);
}

void AppendUtf8(uint32_t code_point, std::string& out) {
  if (code_point < 0x80) {
    out.push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code_point >> 6)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code_point >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}

// The code units of units (pairs of bytes, in the given order) up to the first 0 unit, as
// UTF-8; a surrogate without its partner becomes U+FFFD.
std::string Utf16ToUtf8(std::string_view units, bool big_endian) {
  std::string out;
  out.reserve(units.size() * 3 / 2);
  size_t count = units.size() / 2;
  auto unit_at = [&](size_t i) -> uint32_t {
    unsigned char a = static_cast<unsigned char>(units[2 * i]);
    unsigned char b = static_cast<unsigned char>(units[2 * i + 1]);
    return big_endian ? (a << 8 | b) : (b << 8 | a);
  };
  for (size_t i = 0; i < count; ++i) {
    uint32_t unit = unit_at(i);
    if (unit == 0) break;
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < count) {
      uint32_t low = unit_at(i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), out);
        ++i;
        continue;
      }
    }
    AppendUtf8(unit >= 0xD800 && unit <= 0xDFFF ? 0xFFFD : unit, out);
  }
  return out;
}

// Reads the charset value after "charset" at text[pos]: past the next '=', past blanks, up to
// a blank, quote, '<' or '>'.
std::string CharsetValueAfter(std::string_view text, size_t pos) {
  size_t equals = text.find('=', pos);
  if (equals == std::string_view::npos) return {};
  size_t start = equals + 1;
  while (start < text.size() && IsBlank(text[start])) ++start;
  size_t end = start;
  while (end < text.size() && !EndsValue(text[end])) ++end;
  std::string value(text.substr(start, std::min(end - start, kCharsetRoom)));
  for (char& c : value) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return value;
}

// Walks the attributes of a meta tag from pos. Returns true with code_page set when a content
// attribute leads to a charset; otherwise sets pos where the scan for the next tag goes on.
bool SniffMetaAttributes(std::string_view text, size_t& pos, int& code_page) {
  while (true) {
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    if (pos >= text.size() || text[pos] == '>') return false;
    size_t name_start = pos;
    while (pos < text.size() && !IsBlank(text[pos]) && text[pos] != '<' && text[pos] != '=' &&
           text[pos] != '>') {
      ++pos;
    }
    std::string_view name = text.substr(name_start, pos - name_start);
    while (pos < text.size() && !EndsValue(text[pos])) ++pos;  // the value token
    if (name.substr(0, 7) == "content") {
      // Not bounded by the attribute or the tag: the declaration is found wherever it follows.
      size_t found = text.find("charset", name_start + name.size());
      if (found == std::string_view::npos) {
        pos = text.size();
        return false;
      }
      code_page = CodePageOfCharset(CharsetValueAfter(text, found + 7));
      return true;
    }
    // A tag that ends (or breaks off at a new '<') ends the attributes; the outer scan takes
    // the '<' from here.
    if (pos >= text.size() || text[pos] == '>' || text[pos] == '<') return false;
    ++pos;
  }
}

}  // namespace

bool LooksLikeUtf8(std::string_view bytes) {
  bytes = UpToFirstZero(bytes);
  bool result = false;
  size_t i = 0;
  while (i < bytes.size()) {
    // Eight printable ASCII bytes at a time: a page is mostly those.
    while (i + 8 <= bytes.size()) {
      uint64_t word;
      std::memcpy(&word, bytes.data() + i, 8);
      constexpr uint64_t kOnes = 0x0101010101010101u;
      constexpr uint64_t kHighs = 0x8080808080808080u;
      uint64_t below_space = (word - kOnes * 0x20) & ~word & kHighs;
      uint64_t above_tilde = ((word + kOnes * (0x7F - 0x7E)) | word) & kHighs;
      if ((below_space | above_tilde) != 0) break;
      i += 8;
    }
    if (i >= bytes.size()) break;
    unsigned char c = static_cast<unsigned char>(bytes[i++]);
    if (c < 0x80) {
      if (!IsTextByte(c)) return false;
      continue;
    }
    int following;
    if ((c & 0xE0) == 0xC0)
      following = 1;
    else if ((c & 0xF0) == 0xE0)
      following = 2;
    else if ((c & 0xF8) == 0xF0)
      following = 3;
    else if ((c & 0xFC) == 0xF8)
      following = 4;
    else if ((c & 0xFE) == 0xFC)
      following = 5;
    else
      return false;  // a continuation byte without a lead, or 0xFE / 0xFF
    for (int k = 0; k < following; ++k) {
      if (i >= bytes.size()) return result;
      if ((static_cast<unsigned char>(bytes[i++]) & 0xC0) != 0x80) return false;
    }
    result = true;
  }
  return result;
}

bool SniffHtmlCharset(std::string_view text, int& code_page) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t open = text.find('<', pos);
    if (open == std::string_view::npos) return false;
    pos = open + 1;
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    size_t name_start = pos;
    while (pos < text.size() && IsAsciiAlnum(text[pos])) ++pos;
    std::string_view name = text.substr(name_start, pos - name_start);
    if (name.substr(0, 4) != "meta") continue;
    if (SniffMetaAttributes(text, pos, code_page)) return true;
  }
  return false;
}

bool DecodeTextBytes(std::string_view bytes, std::string& text) {
  text.clear();
  if (bytes.empty()) return false;
  unsigned char first = static_cast<unsigned char>(bytes[0]);
  unsigned char second = bytes.size() > 1 ? static_cast<unsigned char>(bytes[1]) : 0;
  if ((first == 0xFF && second == 0xFE) || (first == 0xFE && second == 0xFF)) {
    text = Utf16ToUtf8(bytes.substr(2), first == 0xFE);
    return true;
  }
  std::string_view data = UpToFirstZero(bytes);
  if (data.substr(0, 3) == "\xEF\xBB\xBF" || LooksLikeUtf8(data)) {
    text = Utf8ToWide(data);
    return true;
  }
  int ansi = AnsiCodePage();
  if (IsPlainAscii(data) && KeepsAscii(ansi)) {
    // Read the same in every code page that keeps ASCII as it is: no conversion, unless the
    // page declares one that does not (ISO-2022-JP writes its letters in ASCII bytes).
    int declared = ansi;
    SniffHtmlCharset(data, declared);
    if (declared == ansi || declared == 0 || KeepsAscii(declared)) {
      text.assign(data);
      return true;
    }
  }
  if (!DecodeCodePage(data, ansi, text)) DecodeCodePage(data, 1252, text);
  int code_page = ansi;
  SniffHtmlCharset(text, code_page);
  if (code_page != ansi && code_page != 0) {
    std::string declared;
    if (DecodeCodePage(data, code_page, declared)) text = std::move(declared);
  }
  return true;
}

bool ReadTextFile(const std::string& path, std::string& text) {
  text.clear();
  std::string bytes;
  // An empty file reads as no text: DecodeTextBytes refuses empty bytes.
  if (!FileSystem::Default().ReadWholeFile(path, bytes).ok()) return false;
  return DecodeTextBytes(bytes, text);
}
