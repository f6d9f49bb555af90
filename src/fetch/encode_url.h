#ifndef ORVO_FETCH_ENCODE_URL_H_
#define ORVO_FETCH_ENCODE_URL_H_

#include <string>
#include <string_view>

// Percent-encodes the bytes of url (UTF-8) for a request line. Copied as they are: 0-9, A-Z,
// a-z, '@', '.', '/', '\', '-', '_', ':', and every '%' that starts a valid escape ("%" and two
// hexadecimal digits), so text that is already encoded is not encoded again. Every other byte,
// a blank included, becomes '%' and its two lower-case hexadecimal digits ("%20", "%ed").
// The result is at most three times as long as url.
std::string EncodeUrl(std::string_view url);

#endif  // ORVO_FETCH_ENCODE_URL_H_
