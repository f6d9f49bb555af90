#include "protocol/json_writer.h"

#include <json/writer.h>

#include <cstring>
#include <vector>

#include "protocol/answer_files.h"

namespace {

bool NeedsEscape(unsigned char c) { return c < 0x20 || c == '"' || c == '\\'; }

void AppendEscapedString(const char* begin, const char* end, std::string& out) {
  out.push_back('"');
  const char* run = begin;
  for (const char* p = begin; p != end; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (!NeedsEscape(c)) continue;
    out.append(run, p);
    run = p + 1;
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
  out.append(run, end);
  out.push_back('"');
}

// The written size of a string with its quotes. Base64 file records escape a CR LF every 76
// characters, so the escapes must be counted for the output to be allocated only once.
size_t WrittenStringSize(const char* begin, const char* end) {
  size_t size = static_cast<size_t>(end - begin) + 2;
  for (const char* p = begin; p != end; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    bool short_form =
        c == '"' || c == '\\' || c == '\b' || c == '\f' || c == '\n' || c == '\r' || c == '\t';
    size += short_form ? 1 : 5;
  }
  return size;
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
  size_t StandInSize(const char* begin) const {
    if (files_ == nullptr) return 0;
    size_t size = files_->WrittenSize(begin);
    return skeleton_of_ != nullptr && size > 0 ? 2 : size;
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
    case Json::stringValue: {
      const char* begin = nullptr;
      const char* end = nullptr;
      value.getString(&begin, &end);
      size_t stand_in = StandInSize(begin);
      return stand_in > 0 ? stand_in : WrittenStringSize(begin, end);
    }
    case Json::arrayValue:
    case Json::objectValue: {
      size_t total = 2;
      for (auto it = value.begin(); it != value.end(); ++it) {
        total += Estimate(*it) + 1;
        if (value.isObject()) {
          const char* name_end = nullptr;
          const char* name = it.memberName(&name_end);
          total += WrittenStringSize(name, name_end) + 1;
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
  const char* begin = nullptr;
  const char* end = nullptr;
  value.getString(&begin, &end);
  if (skeleton_of_ != nullptr) {
    if (skeleton_of_->PlaceText(begin, out_)) return true;
  } else if (files_ != nullptr) {
    size_t mark = out_.size();
    switch (files_->AppendText(begin, out_)) {
      case AnswerFiles::Written::kWritten:
        return true;
      case AnswerFiles::Written::kFileShortened:
        out_.resize(mark);
        return false;
      case AnswerFiles::Written::kNotAStandIn:
        break;
    }
  }
  AppendEscapedString(begin, end, out_);
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
    AppendEscapedString(name, name_end, out_);
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
