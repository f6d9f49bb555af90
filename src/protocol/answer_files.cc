#include "protocol/answer_files.h"

#include <algorithm>

#include "platform/file_system.h"
#include "protocol/file_records.h"

namespace {

thread_local AnswerFiles* t_current = nullptr;

// Files are encoded in blocks of whole base64 lines into a small buffer that stays in the cache,
// then appended; a block's text is independent of where the file is cut into blocks.
constexpr size_t kBlockLines = 512;
constexpr size_t kBlockBytes = kBlockLines * 57;
// How much of a file is read before its pages are given back, so that at most this much of it
// is resident beside the answer.
constexpr size_t kReleaseBytes = kBlockBytes * 128;  // about 3.7 MB

}  // namespace

struct AnswerFiles::Entry {
  std::unique_ptr<MappedFile> file;
  char stand_in[1] = {'\0'};  // its address names the entry
};

AnswerFiles::AnswerFiles() : previous_(t_current) { t_current = this; }

AnswerFiles::~AnswerFiles() { t_current = previous_; }

AnswerFiles* AnswerFiles::Current() { return t_current; }

Json::Value AnswerFiles::Refer(std::unique_ptr<MappedFile> file) {
  auto entry = std::make_unique<Entry>();
  entry->file = std::move(file);
  const char* stand_in = entry->stand_in;
  by_stand_in_[stand_in] = entry.get();
  entries_.push_back(std::move(entry));
  // A static string is stored, and copied, as the pointer itself.
  return Json::Value(Json::StaticString(stand_in));
}

const AnswerFiles::Entry* AnswerFiles::Find(const char* string_begin) const {
  auto found = by_stand_in_.find(string_begin);
  return found == by_stand_in_.end() ? nullptr : found->second;
}

size_t AnswerFiles::WrittenSize(const char* string_begin) const {
  const Entry* entry = Find(string_begin);
  return entry == nullptr ? 0 : Base64EscapedSize(entry->file->size()) + 2;
}

AnswerFiles::Written AnswerFiles::AppendText(const char* string_begin, std::string& out) const {
  const Entry* entry = Find(string_begin);
  if (entry == nullptr) return Written::kNotAStandIn;
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
