#ifndef ORVO_TEXT_CODE_PAGE_H_
#define ORVO_TEXT_CODE_PAGE_H_

#include <string>
#include <string_view>

// Windows code pages on top of iconv.

// The code page legacy text starts from, the host's "ANSI" code page: ORVO_ANSI_CODEPAGE when
// it holds a positive number, else from the locale (LC_ALL, LC_CTYPE, LANG in that order):
// ko_KR 949, ja_JP 932, zh_CN and zh_SG 936, zh_TW and zh_HK 950, anything else 1252.
int AnsiCodePage();

// The iconv name of a Windows code page ("CP949", "EUC-KR", "UTF-8" ...); empty for 0.
std::string IconvNameOfCodePage(int code_page);

// Converts bytes in code_page (0: AnsiCodePage()) to UTF-8. A byte sequence the code page does
// not define becomes U+FFFD and decoding goes on after it. False, with text emptied, when this
// system has no converter for the code page.
bool DecodeCodePage(std::string_view bytes, int code_page, std::string& text);

#endif  // ORVO_TEXT_CODE_PAGE_H_
