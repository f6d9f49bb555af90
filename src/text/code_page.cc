#include "text/code_page.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "platform/environment.h"
#include "text/text_conversion.h"

namespace {

constexpr int kUtf8CodePage = 65001;
constexpr char kReplacement[] = "\xEF\xBF\xBD";

int CodePageOfLocale(const char* locale) {
  struct {
    const char* prefix;
    int code_page;
  } const kLocales[] = {{"ko_KR", 949}, {"ja_JP", 932}, {"zh_CN", 936},
                        {"zh_SG", 936}, {"zh_TW", 950}, {"zh_HK", 950}};
  for (const auto& entry : kLocales) {
    if (strncmp(locale, entry.prefix, strlen(entry.prefix)) == 0) return entry.code_page;
  }
  return 1252;
}

}  // namespace

int AnsiCodePage() {
  if (std::optional<std::string> configured = EnvironmentVariable("ORVO_ANSI_CODEPAGE")) {
    int value = std::atoi(configured->c_str());
    if (value > 0) return value;
  }
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    std::optional<std::string> locale = EnvironmentVariable(variable);
    if (locale && !locale->empty()) return CodePageOfLocale(locale->c_str());
  }
  return 1252;
}

std::string IconvNameOfCodePage(int code_page) {
  switch (code_page) {
    case 0:
      return {};
    case kUtf8CodePage:
      return "UTF-8";
    case 1200:
      return "UTF-16LE";
    case 1201:
      return "UTF-16BE";
    case 20127:
      return "ASCII";
    case 20866:
      return "KOI8-R";
    case 21866:
      return "KOI8-U";
    case 50220:
    case 50221:
    case 50222:
      return "ISO-2022-JP";
    case 51932:
      return "EUC-JP";
    case 51936:
      return "GB2312";
    case 51949:
      return "EUC-KR";
    case 54936:
      return "GB18030";
    default:
      break;
  }
  if (code_page >= 28591 && code_page <= 28606) {
    return "ISO-8859-" + std::to_string(code_page - 28590);
  }
  return "CP" + std::to_string(code_page);
}

namespace {

// Converts bytes with converter into text (sized by the caller), replacing what cannot be
// converted; text keeps only what was written.
void ConvertReplacing(iconv_t converter, std::string_view bytes, std::string& text) {
  char* in = const_cast<char*>(bytes.data());
  size_t in_left = bytes.size();
  size_t done = 0;
  while (true) {
    char* out = text.data() + done;
    size_t out_left = text.size() - done;
    size_t result = iconv(converter, in_left > 0 ? &in : nullptr, &in_left, &out, &out_left);
    done = text.size() - out_left;
    if (result != static_cast<size_t>(-1)) {
      if (in_left == 0) break;
      continue;
    }
    if (errno == E2BIG) {
      text.resize(text.size() * 2);
      continue;
    }
    // An undefined (EILSEQ) or cut-off (EINVAL) sequence: one replacement, then go on after
    // its first byte; a cut-off sequence ends the data.
    if (text.size() - done < sizeof kReplacement) text.resize(text.size() * 2);
    std::memcpy(text.data() + done, kReplacement, sizeof kReplacement - 1);
    done += sizeof kReplacement - 1;
    // glibc's CP949 can report EILSEQ after it consumed the whole input: nothing is left to
    // step over then.
    if (errno == EINVAL || in_left == 0) break;
    ++in;
    --in_left;
    if (in_left == 0) break;
  }
  text.resize(done);
}

}  // namespace

bool DecodeCodePage(std::string_view bytes, int code_page, std::string& text) {
  text.clear();
  if (code_page == 0) code_page = AnsiCodePage();
  if (code_page == kUtf8CodePage) {
    text = Utf8ToWide(bytes);
    return true;
  }
  iconv_t converter = iconv_open("UTF-8", IconvNameOfCodePage(code_page).c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  // UTF-8 of a double-byte code page takes at most 3 bytes per input byte, plus the shift
  // sequences' nothing; room grows when a converter needs more.
  text.resize(bytes.size() * 3 + 16);
  ConvertReplacing(converter, bytes, text);
  iconv_close(converter);
  return true;
}
