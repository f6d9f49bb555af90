#include "page_text.h"

#include <glib.h>
#include <iconv.h>

#include <cerrno>

namespace mimecodec {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";

std::string IconvNameOf(std::string_view charset) {
  std::string lower(charset);
  for (char& c : lower) c = g_ascii_tolower(c);
  static const struct {
    const char* declared;
    const char* iconv;
  } kWindowsMeanings[] = {
      {"euc-kr", "CP949"},      {"ks_c_5601-1987", "CP949"}, {"shift_jis", "CP932"},
      {"x-sjis", "CP932"},      {"gb2312", "GBK"},           {"big5", "CP950"},
      {"iso-8859-1", "CP1252"}, {"us-ascii", "CP1252"},      {"latin1", "CP1252"},
  };
  for (const auto& entry : kWindowsMeanings) {
    if (lower == entry.declared) return entry.iconv;
  }
  return lower;
}

bool IsUtf8Name(std::string_view charset) {
  return g_ascii_strncasecmp(std::string(charset).c_str(), "utf-8", 6) == 0 ||
         g_ascii_strncasecmp(std::string(charset).c_str(), "utf8", 5) == 0;
}

bool Convert(std::string_view bytes, const std::string& from, std::string& out) {
  iconv_t converter = iconv_open("UTF-8", from.c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  out.clear();
  out.reserve(bytes.size() + bytes.size() / 2);
  char* in = const_cast<char*>(bytes.data());
  size_t in_left = bytes.size();
  char buffer[16384];
  while (in_left > 0) {
    char* cursor = buffer;
    size_t out_left = sizeof buffer;
    size_t result = iconv(converter, &in, &in_left, &cursor, &out_left);
    out.append(buffer, cursor - buffer);
    if (result != static_cast<size_t>(-1) || errno == E2BIG) continue;
    // Some converters report a bad sequence after consuming everything: stop there.
    if (in_left == 0) break;
    out += kReplacement;  // EILSEQ or a sequence cut off at the end: skip one byte
    ++in;
    --in_left;
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
  }
  char* cursor = buffer;
  size_t out_left = sizeof buffer;
  iconv(converter, nullptr, nullptr, &cursor, &out_left);
  out.append(buffer, cursor - buffer);
  iconv_close(converter);
  return true;
}

std::string WithoutMark(std::string text) {
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  return text;
}

}  // namespace

std::string PageTextForFile(std::string bytes, std::string_view charset, TransferKind kind) {
  bool valid_utf8 = g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), nullptr);
  if (IsUtf8Name(charset) || (kind == TransferKind::kAsText && valid_utf8)) {
    return WithoutMark(std::move(bytes));
  }
  std::string text;
  if (charset.empty() || !Convert(bytes, IconvNameOf(charset), text)) return bytes;
  return WithoutMark(std::move(text));
}

}  // namespace mimecodec
