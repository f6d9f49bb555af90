#ifndef ORVO_PROTOCOL_JSON_WRITER_H_
#define ORVO_PROTOCOL_JSON_WRITER_H_

#include <json/value.h>

#include <string>

// Writes value as the envelope's compact JSON, followed by one line feed: no blanks between
// tokens, object members in ascending byte order of their names, the quotation mark and the
// backslash escaped, \b \f \n \r \t for those controls, \u00XX (upper-case hex) for the other
// bytes below 0x20, and every other byte (UTF-8 included) written unchanged. Linear in the
// size of the output.
std::string WriteCompactJson(const Json::Value& value);

// Appends value (without the closing line feed) to out.
void AppendCompactJson(const Json::Value& value, std::string& out);

#endif  // ORVO_PROTOCOL_JSON_WRITER_H_
