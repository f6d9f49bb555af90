#ifndef ORVO_PROTOCOL_JSON_ESCAPE_H_
#define ORVO_PROTOCOL_JSON_ESCAPE_H_

#include <cstddef>
#include <string>
#include <string_view>

// The characters of a JSON string as the envelope writes them (json_writer.h), without the
// quotes: '"' and '\' escaped, \b \f \n \r \t for those controls, \u00XX (upper-case hex) for
// the other bytes below 0x20, every other byte as it is. Plain runs are found sixteen bytes at a
// time and copied whole, so an archive's base64 lines cost little more than a copy.

// The number of characters text takes when escaped.
size_t EscapedSize(std::string_view text);

// Appends text escaped to out.
void AppendEscaped(std::string_view text, std::string& out);

// Where an escaped text was last left off: `read` bytes of the text gave `written` characters.
// Lets a long text be escaped piece by piece as a connection takes it, without starting over.
struct EscapeCursor {
  size_t read = 0;
  size_t written = 0;
};

// Writes the escaped characters of text from character `at` on (below EscapedSize(text)) into
// out, at most capacity of them (at least one when capacity is not 0), and returns how many.
// cursor is where the previous call stopped; reading on from there costs nothing extra, an
// earlier `at` starts over from the text's beginning. An escape may be split between two calls.
size_t WriteEscapedFrom(std::string_view text, size_t at, EscapeCursor& cursor, char* out,
                        size_t capacity);

#endif  // ORVO_PROTOCOL_JSON_ESCAPE_H_
