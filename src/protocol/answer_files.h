#ifndef ORVO_PROTOCOL_ANSWER_FILES_H_
#define ORVO_PROTOCOL_ANSWER_FILES_H_

#include <json/value.h>

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class MappedFile;

// The files whose base64 text goes into one answer. Their text is written by the answer's JSON
// writer straight from each mapped file into the answer text: a large file's text is then made
// once, in its place, instead of being encoded into a buffer, copied into a JSON value and
// copied again into the answer.
//
// An AnswerFiles object is the current one of the thread that made it, from construction to
// destruction (doCMD makes one around each command, so workers and payload builders share it).
// While one is current, the file-record functions (file_records.h) put into their records a
// stand-in: a JSON string value whose identity (kept by every copy of the value) names a file
// held here; its own text is empty. WriteCompactJson given this object writes the file's text
// in its place. Stand-ins must be written while their object lives. Objects nest: the previous
// one is current again after. Used only by the thread that made it.
class AnswerFiles {
 public:
  AnswerFiles();
  ~AnswerFiles();
  AnswerFiles(const AnswerFiles&) = delete;
  AnswerFiles& operator=(const AnswerFiles&) = delete;

  // The current object of the calling thread, or null.
  static AnswerFiles* Current();

  // Keeps file until this object goes and returns the stand-in of its base64 text.
  Json::Value Refer(std::unique_ptr<MappedFile> file);

  // For the characters of a JSON string value (from Value::getString): the size of the written
  // JSON string that stands there, quotes included; 0 when it is not a stand-in of this object.
  size_t WrittenSize(const char* string_begin) const;

  enum class Written { kNotAStandIn, kWritten, kFileShortened };
  // Appends to out the JSON string that stands for string_begin: the file's base64 text in
  // quotes, each line end written as the escapes \r\n. kFileShortened when another process cut
  // the file short since it was referred to; out then holds part of the text and the caller
  // removes it.
  Written AppendText(const char* string_begin, std::string& out) const;

 private:
  struct Entry;
  const Entry* Find(const char* string_begin) const;

  AnswerFiles* previous_;
  std::vector<std::unique_ptr<Entry>> entries_;
  std::unordered_map<const char*, const Entry*> by_stand_in_;
};

#endif  // ORVO_PROTOCOL_ANSWER_FILES_H_
