#include "protocol/json_writer.h"

#include <json/writer.h>

#include <string_view>
#include <vector>

#include "protocol/answer_files.h"
#include "protocol/json_escape.h"

namespace {

// A string with its quotes.
void AppendEscapedString(std::string_view text, std::string& out) {
  out.push_back('"');
  AppendEscaped(text, out);
  out.push_back('"');
}

// The written size of a string with its quotes.
size_t WrittenStringSize(std::string_view text) { return EscapedSize(text) + 2; }

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
      if (skeleton_of_ != nullptr && skeleton_of_->Placed(string)) return 2;
      if (size_t file = files_->WrittenSize(string); file > 0) return file;
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
  if (skeleton_of_ != nullptr && skeleton_of_->PlaceText(string, out_)) return true;
  if (files_ != nullptr) {
    if (auto text = files_->TextOf(string)) {
      AppendEscapedString(*text, out_);
      return true;
    }
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
