#include "protocol/json_writer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct EscapeCase {
  std::string input;
  std::string written;
};

TEST(JsonWriter, EscapesExactlyTheEnvelopeSet) {
  const EscapeCase kCases[] = {
      {"plain", "\"plain\"\n"},
      {"a\"b", "\"a\\\"b\"\n"},
      {"a\\b", "\"a\\\\b\"\n"},
      {"\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\"\n"},
      {std::string("\0", 1), "\"\\u0000\"\n"},
      {"\x01\x1F", "\"\\u0001\\u001F\"\n"},
      {"\x0B\x1A", "\"\\u000B\\u001A\"\n"},
      {"/", "\"/\"\n"},                        // The solidus stays as it is.
      {"\x7F", "\"\x7F\"\n"},                  // DEL is not a control below 0x20.
      {"한국어", "\"한국어\"\n"},              // Raw UTF-8, never \u escapes.
      {"\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\"\n"},
      {"", "\"\"\n"},
  };
  for (const EscapeCase& c : kCases) {
    EXPECT_EQ(WriteCompactJson(Json::Value(c.input)), c.written) << c.input;
    // The same in plain text, at each place of the sixteen bytes the writer tests at a time.
    std::string inner = c.written.substr(1, c.written.size() - 3);
    for (size_t before = 1; before <= 16; ++before) {
      std::string pad(before, 'x');
      EXPECT_EQ(WriteCompactJson(Json::Value(pad + c.input + "\x80yyyyyyyyyyyyyyyyy")),
                "\"" + pad + inner + "\x80yyyyyyyyyyyyyyyyy\"\n")
          << c.input << " after " << before;
    }
  }
}

TEST(JsonWriter, WritesMembersInByteOrderWithoutBlanks) {
  Json::Value value(Json::objectValue);
  value["session"] = "s";
  value["pdu"] = Json::Value(Json::objectValue);
  value["pdu"]["zeta"] = 1;
  value["pdu"]["Zeta"] = 2;  // Upper case sorts before lower case in byte order.
  value["pdu"]["\xED\x95\x9C"] = 3;
  value["pdu"]["_"] = 4;
  value["error"] = -1;
  value["cmd"] = "cfp-1000";
  EXPECT_EQ(WriteCompactJson(value),
            "{\"cmd\":\"cfp-1000\",\"error\":-1,\"pdu\":{\"Zeta\":2,\"_\":4,\"zeta\":1,"
            "\"\xED\x95\x9C\":3},\"session\":\"s\"}\n");
}

TEST(JsonWriter, WritesEveryValueType) {
  Json::Value value(Json::arrayValue);
  value.append(Json::Value());
  value.append(true);
  value.append(false);
  value.append(Json::Value::Int64(-9007199254740993LL));
  value.append(Json::Value::UInt64(18446744073709551615ULL));
  value.append(0.5);
  value.append(Json::Value(Json::arrayValue));
  value.append(Json::Value(Json::objectValue));
  EXPECT_EQ(WriteCompactJson(value),
            "[null,true,false,-9007199254740993,18446744073709551615,0.5,[],{}]\n");
}

TEST(JsonWriter, EscapesMemberNames) {
  Json::Value value(Json::objectValue);
  value["a\"\n"] = "x";
  EXPECT_EQ(WriteCompactJson(value), "{\"a\\\"\\n\":\"x\"}\n");
}

TEST(JsonWriter, WritesMultiMegabyteBase64TextWhole) {
  // Base64 lines end in CR LF, so a large file record is mostly plain bytes with escapes
  // every 76 characters.
  std::string line(76, 'A');
  line += "\r\n";
  std::string text;
  std::string expected = "\"";
  for (int i = 0; i < 60000; ++i) {
    text += line;
    expected += std::string(76, 'A') + "\\r\\n";
  }
  expected += "\"\n";
  EXPECT_EQ(WriteCompactJson(Json::Value(text)), expected);
}

TEST(JsonWriter, ReservesTheWholeOutputOnce) {
  // A record of a large file: had the buffer grown, its capacity would be far above its size.
  std::string text;
  for (int i = 0; i < 100000; ++i) text += std::string(76, 'Q') + "\r\n";
  Json::Value record(Json::objectValue);
  record["base64string"] = text;
  record["filename"] = "a\tb.png";
  Json::Value files(Json::arrayValue);
  files.append(record);
  std::string out;
  AppendCompactJson(files, out);
  // Each line is 76 characters and the four of the escaped CR LF; 43 bytes of structure.
  EXPECT_EQ(out.size(), 100000u * 80 + 43);
  EXPECT_LE(out.capacity(), out.size() + 64);
}

TEST(JsonWriter, StringWithEmbeddedZeroIsWrittenWhole) {
  std::string text("a\0b", 3);
  EXPECT_EQ(WriteCompactJson(Json::Value(text)), "\"a\\u0000b\"\n");
}

}  // namespace
