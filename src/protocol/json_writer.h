#ifndef ORVO_PROTOCOL_JSON_WRITER_H_
#define ORVO_PROTOCOL_JSON_WRITER_H_

#include <json/value.h>

#include <string>

class AnswerFiles;

// Writes value as the envelope's compact JSON, followed by one line feed: no blanks between
// tokens, object members in ascending byte order of their names, the quotation mark and the
// backslash escaped, \b \f \n \r \t for those controls, \u00XX (upper-case hex) for the other
// bytes below 0x20, and every other byte (UTF-8 included) written unchanged. Linear in the
// size of the output, which is allocated once.
//
// With files, every string value that is a stand-in of files is written as that file's base64
// text, read from the file into the output (see answer_files.h). An object member whose file
// was cut short meanwhile is left out; such an array element is written as null.
std::string WriteCompactJson(const Json::Value& value, const AnswerFiles* files = nullptr);

// The same, except when files streams its answer (AnswerFiles::StreamsAnswer): then the text
// returned is the answer's skeleton, every stand-in written as "" and its place noted in files,
// from which AnswerFiles::TakeStream makes the whole answer.
std::string WriteCompactJson(const Json::Value& value, AnswerFiles* files);

// Appends value (without the closing line feed) to out.
void AppendCompactJson(const Json::Value& value, std::string& out,
                       const AnswerFiles* files = nullptr);

#endif  // ORVO_PROTOCOL_JSON_WRITER_H_
