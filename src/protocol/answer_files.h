#ifndef ORVO_PROTOCOL_ANSWER_FILES_H_
#define ORVO_PROTOCOL_ANSWER_FILES_H_

#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class MappedFile;
class StreamedAnswer;
struct AnswerFile;

// The files and long texts that go into one answer. A file's base64 text is written by the
// answer's JSON writer straight from its mapping into the answer text, and a long text (an
// archive, a page) is escaped straight from where it lies: neither is first copied into a JSON
// value and then again into the answer.
//
// The dispatcher makes one around each command and hands it to the worker and the payload
// builders (CommandRequest::answer_files, PayloadInputs::files), which put stand-ins into the
// answer's JSON values in place of the texts: a stand-in is a JSON string value whose text is a
// key of this object, which no request, file name or file can hold by chance (it starts with a
// byte that never occurs in UTF-8 and carries a random number of this object). WriteCompactJson
// handed this object writes the text in its place, or, for an answer allowed to stream, leaves a
// file's place for a StreamedAnswer to fill as the answer goes out. Stand-ins must be written
// while their object lives. Used only by the thread that made it.
class AnswerFiles {
 public:
  AnswerFiles();
  ~AnswerFiles();
  AnswerFiles(const AnswerFiles&) = delete;
  AnswerFiles& operator=(const AnswerFiles&) = delete;

  // Keeps file until this object goes (or its stream, see TakeStream) and returns the stand-in
  // of its base64 text.
  Json::Value Refer(std::unique_ptr<MappedFile> file);

  // Bytes a worker holds of a file it has just written and names in the answer: a record of
  // the file (file_records.h) takes them instead of reading the file back. Bytes kept for a
  // path that no record names are let go with this object.
  void KeepBytes(std::string path, std::unique_ptr<MappedFile> bytes);
  // The bytes kept for path, handed over once; null when none were kept.
  std::unique_ptr<MappedFile> TakeBytes(const std::string& path);

  // The base64 text of a file a worker has just written, found where it lies in a text holder
  // owns (an archive in the request's body) and spelt exactly as Base64Encode spells the file's
  // size bytes: a record of the file refers to it (ReferEncoded) instead of reading and encoding
  // the file. Text kept for a path that no record names is let go with this object.
  struct KeptText {
    std::string_view text;
    uint64_t size = 0;
    std::shared_ptr<const void> holder;
  };
  void KeepEncoded(std::string path, KeptText text);
  // The text kept for path, handed over once; empty text when none was kept.
  KeptText TakeEncoded(const std::string& path);
  // The stand-in of a kept text: a text (TextOf) whose lines are known, so that a streamed
  // answer copies them line by line instead of looking for characters to escape.
  Json::Value ReferEncoded(KeptText text);

  // A file that should have gone into the answer could not be read (the process ran out of
  // memory or mappings, or the file went away): the answer is incomplete. Logged here.
  void NoteUnreadFile(const std::string& path);
  // Whether every file the answer should carry is in it. A command whose files are its whole
  // result (an archive's parts) answers an error instead of a partial list when this is false.
  bool complete() const { return unread_files_ == 0; }

  // The stand-in of text, which must stay unchanged where it is until the answer is written.
  // With holder, the owner of text's bytes, the text may instead go out in a streamed answer,
  // escaped block by block as the connection takes it (an archive is never copied whole into
  // the answer): holder is then kept until the answer is sent.
  Json::Value ReferText(std::string_view text, std::shared_ptr<const void> holder = nullptr);

  // The text a string value stands for when it is a text's stand-in of this object.
  std::optional<std::string_view> TextOf(std::string_view string) const;

  // Lets the answer be streamed: when the files referred to add up to kStreamFrom characters of
  // text or more, WriteCompactJson writes the answer without the files' texts (see
  // StartSkeleton) and the caller takes it with TakeStream. Without this call answers are
  // always whole texts.
  void AllowStreaming() { streaming_allowed_ = true; }
  static constexpr size_t kStreamFrom = size_t{1} << 20;
  bool StreamsAnswer() const { return streaming_allowed_ && text_size_ >= kStreamFrom; }

  // For the answer's writer while StreamsAnswer: a new skeleton text begins (places noted for an
  // earlier one are forgotten); then, for each string value, PlaceText either notes that the
  // file's or held text's characters go at the end of out, between the two quotes it appends,
  // and returns true, or returns false for a value that is neither; EndSkeleton takes note of
  // the finished text. Placed says beforehand whether PlaceText would place string.
  void StartSkeleton();
  bool Placed(std::string_view string) const;
  bool PlaceText(std::string_view string, std::string& out);
  void EndSkeleton(const std::string& skeleton);

  // When text is the last skeleton written, the whole answer as a stream: it takes over every
  // file of this object. Null when no skeleton was written; text is then the whole answer.
  // Throws std::logic_error when a skeleton was written but text is another one (a worker
  // must return the text it was given unchanged).
  std::unique_ptr<StreamedAnswer> TakeStream(const std::string& text);

  // For the characters of a JSON string value: the size of the written JSON string of the file
  // that stands there, quotes included; 0 when it is not a file's stand-in of this object.
  size_t WrittenSize(std::string_view string) const;

  enum class Written { kNotAStandIn, kWritten, kFileShortened };
  // Appends to out the JSON string that stands for string: the file's base64 text in
  // quotes, each line end written as the escapes \r\n. kFileShortened when another process cut
  // the file short since it was referred to; out then holds part of the text and the caller
  // removes it.
  Written AppendText(std::string_view string, std::string& out) const;

 private:
  using Entry = AnswerFile;
  const Entry* Find(std::string_view string) const;
  Json::Value StandIn(std::unique_ptr<Entry> entry);

  std::string key_prefix_;  // of every stand-in of this object; its number follows
  std::vector<std::unique_ptr<Entry>> entries_;
  std::unordered_map<std::string, std::unique_ptr<MappedFile>> kept_;
  std::unordered_map<std::string, KeptText> kept_texts_;
  bool streaming_allowed_ = false;
  size_t unread_files_ = 0;
  size_t text_size_ = 0;  // of every file referred to
  struct Place {
    size_t at;  // in the skeleton
    const Entry* file;
  };
  std::vector<Place> places_;
  std::string skeleton_;
  bool skeleton_written_ = false;
};

// An answer too large to be held as one text: its envelope without the files' texts, and the
// files, whose base64 text is made from their mappings block by block as the connection takes
// the answer. Its size is fixed when it is made. Used by one thread at a time.
class StreamedAnswer {
 public:
  ~StreamedAnswer();
  size_t size() const { return size_; }

  // Writes up to capacity bytes of the answer from offset (any offset below size()) into out
  // and sets *count (at least 1 byte when capacity is not 0). False when a file was cut short
  // by another process after the answer's size was fixed: the answer cannot be completed.
  bool Read(size_t offset, char* out, size_t capacity, size_t* count) const;

 private:
  friend class AnswerFiles;
  StreamedAnswer();
  struct Piece {
    size_t begin;  // in the answer
    size_t length;
    size_t skeleton_at;      // where a piece of the skeleton starts in it
    const AnswerFile* file;  // null for a piece of the skeleton
  };
  bool ReadText(const Piece& piece, size_t at, char* out, size_t capacity, size_t* count) const;

  std::string skeleton_;
  std::vector<std::unique_ptr<AnswerFile>> files_;
  std::vector<Piece> pieces_;
  size_t size_ = 0;
};

#endif  // ORVO_PROTOCOL_ANSWER_FILES_H_
