#include "protocol/answer_files.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <random>
#include <stdexcept>

#include "platform/file_system.h"
#include "platform/log.h"
#include "protocol/file_records.h"
#include "protocol/json_escape.h"

namespace {

// Files are encoded in blocks of whole base64 lines into a small buffer that stays in the cache,
// then appended; a block's text is independent of where the file is cut into blocks.
constexpr size_t kBlockLines = 512;
constexpr size_t kBlockBytes = kBlockLines * 57;
// How much of a file is read before its pages are given back, so that at most this much of it
// is resident beside the answer.
constexpr size_t kReleaseBytes = kBlockBytes * 128;  // about 3.7 MB
// One base64 line of 57 bytes as it stands in JSON: 76 characters and the escapes \r\n.
constexpr size_t kLineBytes = 57;
constexpr size_t kLineText = 80;

}  // namespace

// A file's base64 text, or a text (when file is null), held by holder when it may be streamed.
struct AnswerFile {
  std::unique_ptr<MappedFile> file;
  std::string_view text;
  std::shared_ptr<const void> holder;
  mutable size_t released = 0;  // the pages before this offset were given back
  mutable EscapeCursor cursor;  // where a streamed text was left off
  // text is base64 spelt as Base64Encode spells it (lines of 76 and CR LF), escaped_size long
  // in JSON.
  bool base64_lines = false;
  size_t escaped_size = 0;
  bool Streams() const { return file != nullptr || holder != nullptr; }
  size_t TextSize() const {
    if (file != nullptr) return Base64EscapedSize(file->size());
    return base64_lines ? escaped_size : EscapedSize(text);
  }
};

namespace {

// Writes the JSON characters of lines (base64 spelt as Base64Encode spells it) from character
// at on into out, at most capacity of them; returns how many. Whole lines are copied as they
// stand, each CR LF written as its two escapes.
size_t WriteBase64LinesFrom(std::string_view lines, size_t at, char* out, size_t capacity) {
  constexpr size_t kChars = 76;
  size_t n = 0;
  while (n < capacity) {
    size_t line = (at + n) / kLineText, within = (at + n) % kLineText;
    size_t start = line * (kChars + 2);
    if (start + 2 > lines.size()) break;
    size_t chars = std::min(kChars, lines.size() - start - 2);
    if (within == 0 && chars == kChars && capacity - n >= kLineText) {
      std::memcpy(out + n, lines.data() + start, kChars);
      std::memcpy(out + n + kChars, "\\r\\n", 4);
      n += kLineText;
      continue;
    }
    char escaped[kLineText];
    std::memcpy(escaped, lines.data() + start, chars);
    std::memcpy(escaped + chars, "\\r\\n", 4);
    if (within >= chars + 4) break;
    size_t take = std::min(chars + 4 - within, capacity - n);
    std::memcpy(out + n, escaped + within, take);
    n += take;
  }
  return n;
}

}  // namespace

AnswerFiles::AnswerFiles() {
  // 0xF8 never occurs in UTF-8; the random number keeps any text from matching by chance.
  std::random_device random;
  uint64_t number = (uint64_t{random()} << 32) ^ random();
  key_prefix_ = "\xF8" + std::to_string(number) + ":";
}

AnswerFiles::~AnswerFiles() = default;

Json::Value AnswerFiles::StandIn(std::unique_ptr<Entry> entry) {
  entries_.push_back(std::move(entry));
  return Json::Value(key_prefix_ + std::to_string(entries_.size() - 1));
}

Json::Value AnswerFiles::Refer(std::unique_ptr<MappedFile> file) {
  auto entry = std::make_unique<Entry>();
  entry->file = std::move(file);
  text_size_ += Base64EscapedSize(entry->file->size());
  return StandIn(std::move(entry));
}

void AnswerFiles::KeepBytes(std::string path, std::unique_ptr<MappedFile> bytes) {
  kept_[std::move(path)] = std::move(bytes);
}

std::unique_ptr<MappedFile> AnswerFiles::TakeBytes(const std::string& path) {
  if (kept_.empty()) return nullptr;
  auto found = kept_.find(path);
  if (found == kept_.end()) return nullptr;
  std::unique_ptr<MappedFile> bytes = std::move(found->second);
  kept_.erase(found);
  return bytes;
}

void AnswerFiles::KeepEncoded(std::string path, KeptText text) {
  kept_texts_[std::move(path)] = std::move(text);
}

AnswerFiles::KeptText AnswerFiles::TakeEncoded(const std::string& path) {
  if (kept_texts_.empty()) return {};
  auto found = kept_texts_.find(path);
  if (found == kept_texts_.end()) return {};
  KeptText text = std::move(found->second);
  kept_texts_.erase(found);
  return text;
}

Json::Value AnswerFiles::ReferEncoded(KeptText text) {
  auto entry = std::make_unique<Entry>();
  entry->text = text.text;
  entry->base64_lines = true;
  entry->escaped_size = Base64EscapedSize(text.size);
  if (text.holder != nullptr) text_size_ += entry->escaped_size;
  entry->holder = std::move(text.holder);
  return StandIn(std::move(entry));
}

void AnswerFiles::NoteUnreadFile(const std::string& path) {
  // The first one says why; a hundred thousand lines would say no more.
  if (unread_files_++ == 0) Log("\n file could not be read for the answer [%s]", path.c_str());
}

Json::Value AnswerFiles::ReferText(std::string_view text, std::shared_ptr<const void> holder) {
  auto entry = std::make_unique<Entry>();
  entry->text = text;
  if (holder != nullptr) text_size_ += text.size();
  entry->holder = std::move(holder);
  return StandIn(std::move(entry));
}

const AnswerFiles::Entry* AnswerFiles::Find(std::string_view string) const {
  if (string.size() <= key_prefix_.size() ||
      string.compare(0, key_prefix_.size(), key_prefix_) != 0)
    return nullptr;
  const char* digits = string.data() + key_prefix_.size();
  const char* end = string.data() + string.size();
  size_t index = 0;
  auto [stop, error] = std::from_chars(digits, end, index);
  if (error != std::errc() || stop != end || index >= entries_.size()) return nullptr;
  return entries_[index].get();
}

std::optional<std::string_view> AnswerFiles::TextOf(std::string_view string) const {
  const Entry* entry = Find(string);
  if (entry == nullptr || entry->file != nullptr) return std::nullopt;
  return entry->text;
}

size_t AnswerFiles::WrittenSize(std::string_view string) const {
  const Entry* entry = Find(string);
  return entry == nullptr || entry->file == nullptr ? 0
                                                    : Base64EscapedSize(entry->file->size()) + 2;
}

AnswerFiles::Written AnswerFiles::AppendText(std::string_view string, std::string& out) const {
  const Entry* entry = Find(string);
  if (entry == nullptr || entry->file == nullptr) return Written::kNotAStandIn;
  const MappedFile& file = *entry->file;
  char block[kBlockLines * 80];
  out.push_back('"');
  size_t released = 0;
  for (size_t offset = 0; offset < file.size(); offset += kBlockBytes) {
    size_t length = std::min(kBlockBytes, file.size() - offset);
    size_t written = 0;
    if (!Base64EncodeMapped(file.data() + offset, length, Base64LineEnds::kJsonEscaped, block,
                            &written)) {
      return Written::kFileShortened;
    }
    out.append(block, written);
    if (offset + length - released >= kReleaseBytes) {
      file.ReleasePages(released, offset + length - released);
      released = offset + length;
    }
  }
  file.ReleasePages(released, file.size() - released);
  out.push_back('"');
  return Written::kWritten;
}

void AnswerFiles::StartSkeleton() {
  places_.clear();
  skeleton_written_ = false;
}

bool AnswerFiles::Placed(std::string_view string) const {
  const Entry* entry = Find(string);
  return entry != nullptr && entry->Streams();
}

bool AnswerFiles::PlaceText(std::string_view string, std::string& out) {
  const Entry* entry = Find(string);
  if (entry == nullptr || !entry->Streams()) return false;
  out.push_back('"');
  places_.push_back({out.size(), entry});
  out.push_back('"');
  return true;
}

void AnswerFiles::EndSkeleton(const std::string& skeleton) {
  skeleton_ = skeleton;
  skeleton_written_ = true;
}

std::unique_ptr<StreamedAnswer> AnswerFiles::TakeStream(const std::string& text) {
  if (!skeleton_written_) return nullptr;
  if (text != skeleton_) throw std::logic_error("the answer is not the skeleton written for it");
  std::unique_ptr<StreamedAnswer> stream(new StreamedAnswer());
  size_t from = 0;
  for (const Place& place : places_) {
    stream->pieces_.push_back({stream->size_, place.at - from, from, nullptr});
    stream->size_ += place.at - from;
    size_t text_size = place.file->TextSize();
    stream->pieces_.push_back({stream->size_, text_size, 0, place.file});
    stream->size_ += text_size;
    from = place.at;
  }
  stream->pieces_.push_back({stream->size_, text.size() - from, from, nullptr});
  stream->size_ += text.size() - from;
  stream->skeleton_ = std::move(skeleton_);
  stream->files_ = std::move(entries_);
  entries_.clear();
  places_.clear();
  skeleton_written_ = false;
  return stream;
}

StreamedAnswer::StreamedAnswer() = default;
StreamedAnswer::~StreamedAnswer() = default;

bool StreamedAnswer::Read(size_t offset, char* out, size_t capacity, size_t* count) const {
  *count = 0;
  auto piece = std::upper_bound(pieces_.begin(), pieces_.end(), offset,
                                [](size_t at, const Piece& p) { return at < p.begin; });
  if (piece == pieces_.begin()) return true;
  --piece;
  while (*count < capacity && piece != pieces_.end()) {
    size_t at = offset + *count - piece->begin;
    if (at >= piece->length) {
      ++piece;
      continue;
    }
    size_t room = capacity - *count;
    size_t written = 0;
    if (piece->file == nullptr) {
      written = std::min(room, piece->length - at);
      std::memcpy(out + *count, skeleton_.data() + piece->skeleton_at + at, written);
    } else if (!ReadText(*piece, at, out + *count, room, &written)) {
      return false;
    }
    *count += written;
  }
  return true;
}

bool StreamedAnswer::ReadText(const Piece& piece, size_t at, char* out, size_t capacity,
                              size_t* count) const {
  if (piece.file->file == nullptr) {
    *count = piece.file->base64_lines
                 ? WriteBase64LinesFrom(piece.file->text, at, out, capacity)
                 : WriteEscapedFrom(piece.file->text, at, piece.file->cursor, out, capacity);
    return true;
  }
  const MappedFile& file = *piece.file->file;
  size_t from = at / kLineText * kLineBytes;
  size_t within = at % kLineText;
  size_t length = 0;
  if (within == 0 && capacity >= kLineText) {
    // Whole lines straight into out: the usual case, a connection taking the answer in order.
    length = std::min(capacity / kLineText, kBlockLines) * kLineBytes;
    length = std::min(length, file.size() - from);
    if (!Base64EncodeMapped(file.data() + from, length, Base64LineEnds::kJsonEscaped, out, count))
      return false;
  } else {
    char line[kLineText];
    length = std::min(kLineBytes, file.size() - from);
    size_t written = 0;
    if (!Base64EncodeMapped(file.data() + from, length, Base64LineEnds::kJsonEscaped, line,
                            &written)) {
      return false;
    }
    *count = std::min(capacity, written - within);
    std::memcpy(out, line + within, *count);
  }
  // The pages read are given back as the text goes out, so that the file is not resident whole.
  size_t end = from + length;
  size_t& released = piece.file->released;
  if (end > released && (end - released >= kReleaseBytes || end == file.size())) {
    file.ReleasePages(released, end - released);
    released = end;
  }
  return true;
}
