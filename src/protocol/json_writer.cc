#include "protocol/json_writer.h"

#include <json/writer.h>

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "protocol/answer_files.h"

namespace {

bool NeedsEscape(unsigned char c) { return c < 0x20 || c == '"' || c == '\\'; }

// The first byte at or after p that must be escaped, or end. Eight bytes are tested at a time:
// in each mask the lowest flagged byte is a true match (a borrow only runs upwards from one).
const char* NextToEscape(const char* p, const char* end) {
  constexpr uint64_t kOnes = 0x0101010101010101u;
  constexpr uint64_t kHigh = 0x8080808080808080u;
  for (; end - p >= 8; p += 8) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    uint64_t quote = v ^ (kOnes * '"');
    uint64_t slash = v ^ (kOnes * '\\');
    uint64_t found = ((v - kOnes * 0x20) | (quote - kOnes) | (slash - kOnes)) & ~v & kHigh;
    // ~v also clears bytes of 0x80 and above, which never need escaping.
    if (found != 0) return p + (__builtin_ctzll(found) >> 3);
  }
  while (p != end && !NeedsEscape(static_cast<unsigned char>(*p))) ++p;
  return p;
}

void AppendEscape(unsigned char c, std::string& out) {
  switch (c) {
    case '"':
      out.append("\\\"");
      break;
    case '\\':
      out.append("\\\\");
      break;
    case '\b':
      out.append("\\b");
      break;
    case '\f':
      out.append("\\f");
      break;
    case '\n':
      out.append("\\n");
      break;
    case '\r':
      out.append("\\r");
      break;
    case '\t':
      out.append("\\t");
      break;
    default: {
      static const char kHex[] = "0123456789ABCDEF";
      char escape[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
      out.append(escape, sizeof escape);
    }
  }
}

// Plain runs are copied whole; only the bytes between them are looked at one by one.
void AppendEscapedString(std::string_view text, std::string& out) {
  out.push_back('"');
  const char* p = text.data();
  const char* end = p + text.size();
  for (;;) {
    const char* special = NextToEscape(p, end);
    out.append(p, special);
    if (special == end) break;
    AppendEscape(static_cast<unsigned char>(*special), out);
    p = special + 1;
  }
  out.push_back('"');
}

// The written size of a string with its quotes.
size_t WrittenStringSize(std::string_view text) {
  size_t size = text.size() + 2;
  const char* end = text.data() + text.size();
  for (const char* p = NextToEscape(text.data(), end); p != end; p = NextToEscape(p + 1, end)) {
    unsigned char c = static_cast<unsigned char>(*p);
    bool short_form =
        c == '"' || c == '\\' || c == '\b' || c == '\f' || c == '\n' || c == '\r' || c == '\t';
    size += short_form ? 1 : 5;
  }
  return size;
}

// Room for a long text's written string: the text is not read twice to size the answer, so this
// is a guess that holds an archive's line ends and a page's quotes; a text with more escapes
// makes the answer grow once more.
size_t LongTextRoom(std::string_view text) { return text.size() + text.size() / 8 + 2; }

std::string_view StringOf(const Json::Value& value) {
  const char* begin = nullptr;
  const char* end = nullptr;
  value.getString(&begin, &end);
  return std::string_view(begin, end - begin);
}

// Writes one value into out, stand-ins of files as their text.
class CompactWriter {
 public:
  CompactWriter(std::string& out, const AnswerFiles* files) : out_(out), files_(files) {}
  // Writes the answer's skeleton instead: each stand-in's place is noted in files, its text is
  // left out.
  CompactWriter(std::string& out, AnswerFiles* skeleton_of)
      : out_(out), files_(skeleton_of), skeleton_of_(skeleton_of) {}

  // An upper bound of the written size, so the output is allocated once.
  size_t Estimate(const Json::Value& value) const;

  // False when value was a stand-in whose file was cut short while it was read: nothing of it
  // stays in out.
  bool Append(const Json::Value& value);

 private:
  // The room a string value takes in the answer.
  size_t StringSize(std::string_view string) const {
    if (files_ != nullptr) {
      if (size_t file = files_->WrittenSize(string); file > 0)
        return skeleton_of_ != nullptr ? 2 : file;
      if (auto text = files_->TextOf(string)) return LongTextRoom(*text);
    }
    return WrittenStringSize(string);
  }
  bool AppendString(const Json::Value& value);
  void AppendArray(const Json::Value& value);
  void AppendObject(const Json::Value& value);

  std::string& out_;
  const AnswerFiles* files_;
  AnswerFiles* skeleton_of_ = nullptr;
};

size_t CompactWriter::Estimate(const Json::Value& value) const {
  switch (value.type()) {
    case Json::stringValue:
      return StringSize(StringOf(value));
    case Json::arrayValue:
    case Json::objectValue: {
      size_t total = 2;
      for (auto it = value.begin(); it != value.end(); ++it) {
        total += Estimate(*it) + 1;
        if (value.isObject()) {
          const char* name_end = nullptr;
          const char* name = it.memberName(&name_end);
          total += WrittenStringSize(std::string_view(name, name_end - name)) + 1;
        }
      }
      return total;
    }
    default:
      return 24;
  }
}

bool CompactWriter::Append(const Json::Value& value) {
  switch (value.type()) {
    case Json::nullValue:
      out_.append("null");
      break;
    case Json::booleanValue:
      out_.append(value.asBool() ? "true" : "false");
      break;
    case Json::intValue:
      out_.append(Json::valueToString(value.asLargestInt()));
      break;
    case Json::uintValue:
      out_.append(Json::valueToString(value.asLargestUInt()));
      break;
    case Json::realValue:
      out_.append(Json::valueToString(value.asDouble()));
      break;
    case Json::stringValue:
      return AppendString(value);
    case Json::arrayValue:
      AppendArray(value);
      break;
    case Json::objectValue:
      AppendObject(value);
      break;
  }
  return true;
}

bool CompactWriter::AppendString(const Json::Value& value) {
  std::string_view string = StringOf(value);
  if (files_ != nullptr) {
    if (auto text = files_->TextOf(string)) string = *text;
  }
  if (skeleton_of_ != nullptr) {
    if (skeleton_of_->PlaceText(string, out_)) return true;
  } else if (files_ != nullptr) {
    size_t mark = out_.size();
    switch (files_->AppendText(string, out_)) {
      case AnswerFiles::Written::kWritten:
        return true;
      case AnswerFiles::Written::kFileShortened:
        out_.resize(mark);
        return false;
      case AnswerFiles::Written::kNotAStandIn:
        break;
    }
  }
  AppendEscapedString(string, out_);
  return true;
}

void CompactWriter::AppendArray(const Json::Value& value) {
  out_.push_back('[');
  for (Json::ArrayIndex i = 0; i < value.size(); ++i) {
    if (i > 0) out_.push_back(',');
    if (!Append(value[i])) out_.append("null");  // the array keeps its length
  }
  out_.push_back(']');
}

void CompactWriter::AppendObject(const Json::Value& value) {
  // JsonCpp keeps members in a map ordered by memcmp of the names, which is byte order.
  out_.push_back('{');
  bool first = true;
  for (auto it = value.begin(); it != value.end(); ++it) {
    size_t mark = out_.size();
    if (!first) out_.push_back(',');
    const char* name_end = nullptr;
    const char* name = it.memberName(&name_end);
    AppendEscapedString(std::string_view(name, name_end - name), out_);
    out_.push_back(':');
    if (!Append(*it)) {
      // A file that could not be read after all is left out, as if it had never been read.
      out_.resize(mark);
      continue;
    }
    first = false;
  }
  out_.push_back('}');
}

}  // namespace

void AppendCompactJson(const Json::Value& value, std::string& out, const AnswerFiles* files) {
  CompactWriter writer(out, files);
  out.reserve(out.size() + writer.Estimate(value));
  writer.Append(value);
}

std::string WriteCompactJson(const Json::Value& value, const AnswerFiles* files) {
  std::string out;
  CompactWriter writer(out, files);
  out.reserve(writer.Estimate(value) + 1);
  writer.Append(value);
  out.push_back('\n');
  return out;
}

std::string WriteCompactJson(const Json::Value& value, AnswerFiles* files) {
  if (files == nullptr || !files->StreamsAnswer()) {
    return WriteCompactJson(value, static_cast<const AnswerFiles*>(files));
  }
  std::string out;
  files->StartSkeleton();
  CompactWriter writer(out, files);
  out.reserve(writer.Estimate(value) + 1);
  writer.Append(value);
  out.push_back('\n');
  files->EndSkeleton(out);
  return out;
}
