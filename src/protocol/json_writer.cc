#include "protocol/json_writer.h"

#include <json/writer.h>

#include <cstring>
#include <vector>

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
      case '"': out.append("\\\""); break;
      case '\\': out.append("\\\\"); break;
      case '\b': out.append("\\b"); break;
      case '\f': out.append("\\f"); break;
      case '\n': out.append("\\n"); break;
      case '\r': out.append("\\r"); break;
      case '\t': out.append("\\t"); break;
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
    bool short_form = c == '"' || c == '\\' || c == '\b' || c == '\f' || c == '\n' ||
                      c == '\r' || c == '\t';
    size += short_form ? 1 : 5;
  }
  return size;
}

// An upper bound of the written size, so the output is allocated once.
size_t EstimateSize(const Json::Value& value) {
  switch (value.type()) {
    case Json::stringValue: {
      const char* begin = nullptr;
      const char* end = nullptr;
      value.getString(&begin, &end);
      return WrittenStringSize(begin, end);
    }
    case Json::arrayValue:
    case Json::objectValue: {
      size_t total = 2;
      for (auto it = value.begin(); it != value.end(); ++it) {
        total += EstimateSize(*it) + 1;
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

void AppendValue(const Json::Value& value, std::string& out) {
  switch (value.type()) {
    case Json::nullValue: out.append("null"); break;
    case Json::booleanValue: out.append(value.asBool() ? "true" : "false"); break;
    case Json::intValue: out.append(Json::valueToString(value.asLargestInt())); break;
    case Json::uintValue: out.append(Json::valueToString(value.asLargestUInt())); break;
    case Json::realValue: out.append(Json::valueToString(value.asDouble())); break;
    case Json::stringValue: {
      const char* begin = nullptr;
      const char* end = nullptr;
      value.getString(&begin, &end);
      AppendEscapedString(begin, end, out);
      break;
    }
    case Json::arrayValue: {
      out.push_back('[');
      for (Json::ArrayIndex i = 0; i < value.size(); ++i) {
        if (i > 0) out.push_back(',');
        AppendValue(value[i], out);
      }
      out.push_back(']');
      break;
    }
    case Json::objectValue: {
      // JsonCpp keeps members in a map ordered by memcmp of the names, which is byte order.
      out.push_back('{');
      bool first = true;
      for (auto it = value.begin(); it != value.end(); ++it) {
        if (!first) out.push_back(',');
        first = false;
        const char* name_end = nullptr;
        const char* name = it.memberName(&name_end);
        AppendEscapedString(name, name_end, out);
        out.push_back(':');
        AppendValue(*it, out);
      }
      out.push_back('}');
      break;
    }
  }
}

}  // namespace

void AppendCompactJson(const Json::Value& value, std::string& out) {
  out.reserve(out.size() + EstimateSize(value));
  AppendValue(value, out);
}

std::string WriteCompactJson(const Json::Value& value) {
  std::string out;
  AppendCompactJson(value, out);
  out.push_back('\n');
  return out;
}
