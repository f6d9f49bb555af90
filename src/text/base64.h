#ifndef ORVO_TEXT_BASE64_H_
#define ORVO_TEXT_BASE64_H_

#include <cstddef>
#include <string>
#include <string_view>

// Base64 text as records and archives carry it: RFC 4648 alphabet, '=' padding, lines of 76
// characters (57 bytes), each followed by CR LF, the last (shorter) line too. Thread-safe.

// Room Base64Encode needs for length bytes, its closing 0 included:
// 4*ceil(n/3) characters, 2 per started line of 76, and 1.
size_t Base64BufferSize(size_t length);

// Writes the base64 text of data (RFC 4648 alphabet, '=' padding) in lines of 76 characters,
// each followed by CR LF, the last (shorter) line too, then a 0. out must hold
// Base64BufferSize(length) bytes. Returns the number of characters written before the 0.
// Empty input gives empty text.
size_t Base64Encode(const unsigned char* data, size_t length, char* out);

// The same text as a string.
std::string Base64Encode(std::string_view data);

// The characters Base64EncodeEscaped writes for length bytes.
size_t Base64EscapedSize(size_t length);

// The same base64 text as it stands between the quotes of a JSON string: each CR LF written as
// the four characters \r\n. out must hold Base64EscapedSize(length) bytes; no 0 is written.
// Returns the number of characters written. A length that is a multiple of 57 ends on a whole
// line, so a file may be written in pieces of such lengths.
size_t Base64EncodeEscaped(const unsigned char* data, size_t length, char* out);

#endif  // ORVO_TEXT_BASE64_H_
