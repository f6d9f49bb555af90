#ifndef ORVO_TEXT_URL_SPELLING_H_
#define ORVO_TEXT_URL_SPELLING_H_

#include <string>
#include <string_view>

// The value of a hexadecimal digit ('0'-'9', 'a'-'f', 'A'-'F'); -1 for any other character.
inline int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The one spelling of the equivalent spellings of a URL that differ only in percent escapes
// (RFC 3986, 6.2.2.1 and 6.2.2.2): an escape of an unreserved character (a letter, a digit,
// '-', '.', '_', '~') becomes the character, and the hexadecimal digits of every other escape
// are written in upper case. Everything else, a '%' that starts no escape included, stays as
// it is, so "a%7eb%2f" and "a~b%2F" give the same text and "%2F" stays an escape. Pure.
std::string NormalizeUrlEscapes(std::string_view url);

#endif  // ORVO_TEXT_URL_SPELLING_H_
