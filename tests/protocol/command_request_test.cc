#include "protocol/command_request.h"

#include <gtest/gtest.h>
#include <json/reader.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/command_table.h"

namespace {

// The error texts of the JSON library that the endpoint sends back in its 500 answer.
constexpr char kNotObject[] = "in Json::Value::find(begin, end): requires objectValue or nullValue";
constexpr char kNotString[] = "Type is not convertible to string";

std::string ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no error)";
}

CommandRequest Parsed(const std::string& body) {
  CommandRequest request;
  request.Parse(body);
  return request;
}

TEST(CommandRequest, StartsWithTheDocumentedState) {
  CommandRequest request;
  EXPECT_TRUE(request.root.isNull());
  EXPECT_EQ(request.error, -1);
  EXPECT_EQ(request.isUpdate, 0);
  EXPECT_EQ(request.type, 1);
  EXPECT_EQ(request.isOffice, 1);
  EXPECT_EQ(request.uuid, "");
}

TEST(CommandRequest, ScalarsConvertToText) {
  struct Case {
    std::string session_json;
    std::string text;
  } cases[] = {{"7", "7"},   {"-12", "-12"},     {"true", "true"}, {"false", "false"},
               {"null", ""}, {"\"s-1\"", "s-1"}, {"1.5", "1.5"},   {"\"한\"", "한"}};
  for (const Case& c : cases) {
    CommandRequest request = Parsed("{\"cmd\":\"cfp-1000\",\"session\":" + c.session_json + "}");
    EXPECT_EQ(request.Session(), c.text) << c.session_json;
  }
  EXPECT_EQ(Parsed("{}").Session(), "");
  EXPECT_EQ(Parsed("{}").Cmd(), "");
}

TEST(CommandRequest, ReaderAcceptsCommentsAndAnyRoot) {
  CommandRequest request;
  EXPECT_TRUE(request.Parse("// line\n{/* block */\"cmd\":\"cfp-1000\"}"));
  EXPECT_EQ(request.Cmd(), "cfp-1000");
  EXPECT_TRUE(request.Parse("42"));
  EXPECT_FALSE(request.Parse("not json"));
}

TEST(CommandRequest, CutOffBodyKeepsTheMembersReadSoFar) {
  CommandRequest request;
  EXPECT_FALSE(request.Parse("{\"cmd\":\"CFP-1000\",\"session\":\"abc\",\"pdu\":{\"x\":"));
  EXPECT_EQ(request.Cmd(), "CFP-1000");
  EXPECT_EQ(request.Session(), "abc");
  EXPECT_EQ(request.CommandCode(), 15);
}

TEST(CommandRequest, NestingBeyondTheReaderLimitIsAnUnreadableBody) {
  CommandRequest request;
  std::string deep(5000, '[');
  EXPECT_FALSE(request.Parse("{\"cmd\":\"cfp-1000\",\"session\":\"s\",\"pdu\":" + deep));
  EXPECT_EQ(request.Cmd(), "cfp-1000");
  EXPECT_EQ(request.Session(), "s");
  CommandRequest bare;
  EXPECT_FALSE(bare.Parse(deep));
}

// The text of pdu.html as the request gives it, or "(none)" when it is not a string.
std::string HtmlOf(const CommandRequest& request, const Json::Value& root) {
  if (!root.isObject() || !root["pdu"].isObject() || !root["pdu"]["html"].isString())
    return "(none)";
  return std::string(request.TextOf(root["pdu"]["html"]));
}

// What the reader accepts and what pdu.html reads as, in the large-member path and around it;
// each row is also read by the JSON library alone, which must agree.
TEST(CommandRequest, AcceptanceTableOfTheReader) {
  struct Row {
    std::string body;
    bool accepted;
    std::string html;
  } rows[] = {
      {R"({"pdu":{"html":"x\"y\\z\/\b\f\n\r\t\u00e9\ud83d\ude00"}})", true,
       "x\"y\\z/\b\f\n\r\t\xC3\xA9\xF0\x9F\x98\x80"},
      {R"({"pdu":{"html":"\udc00|\uD83D\u0041"}})", true, "\xED\xB0\x80|\xF0\x9F\x91\x81"},
      {std::string("{\"pdu\":{\"html\":\"\x01\t\xFF\xFE\\u0000z\"}}"), true,
       std::string("\x01\t\xFF\xFE\0z", 6)},
      {R"({"pdu":{"html":"a\\"}})", true, "a\\"},
      {R"({"pdu":{"html":/*"no"*/// "no"
        /**/"v"}} "trailing)",
       true, "v"},
      {R"({"pdu":{"ht\u006dl":"v","html":"w","html":"z"}})", true, "z"},
      {R"({"html":"v","pdu":{"x":{"html":"y"}}})", true, "(none)"},
      {R"([{"pdu":{"html":"v"}}])", true, "(none)"},
      {R"({"pdu":{"html":7}})", true, "(none)"},
      {R"({"pdu":{"html":"\ud83dxxxxxx"}})", false, "(none)"},
      {R"({"pdu":{"html":"\ud83d"}})", false, "(none)"},
      {R"({"pdu":{"html":"\ud83d\uZZZZ"}})", false, "(none)"},
      {R"({"pdu":{"html":"\x"}})", false, "(none)"},
      {R"({"pdu":{"html":"\u12"}})", false, "(none)"},
      {R"({"pdu":{"html":"abc)", false, "(none)"},
      {R"({"pdu":{"html":/* "v"}})", false, "(none)"},
      {R"({"cmd":"cfp-1000","pdu":{"mimevalue":"a","html":"b\q"}})", false, "(none)"},
      // Refused only at its end: unescaped in place before that, it would read as "x".
      {R"({"pdu":{"html":"x\"}, \"y\":\"z\q"}})", false, "(none)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.body);
    CommandRequest request;
    EXPECT_EQ(request.Parse(row.body), row.accepted);
    EXPECT_EQ(HtmlOf(request, request.root), row.html);
    Json::Value copy = request.root;  // workers read copies
    EXPECT_EQ(HtmlOf(request, copy), row.html);
    Json::Value alone;
    EXPECT_EQ(Json::Reader(Json::Features::all()).parse(row.body, alone, false), row.accepted);
    EXPECT_EQ(HtmlOf(CommandRequest(), alone), row.html);
  }
  CommandRequest cut;  // members read before the reader stopped stay readable
  cut.Parse(rows[std::size(rows) - 2].body);
  EXPECT_EQ(cut.Cmd(), "cfp-1000");
  EXPECT_EQ(cut.TextOf(cut.root["pdu"]["mimevalue"]), "a");
}

// The root as the JSON library alone would have read it: large members' texts put back.
std::string Resolved(const CommandRequest& request) {
  Json::Value root = request.root;
  for (const char* name : {"mimevalue", "html"}) {
    if (root.isObject() && root["pdu"].isObject() && root["pdu"][name].isString())
      root["pdu"][name] = std::string(request.TextOf(root["pdu"][name]));
  }
  return root.toStyledString();
}

// Long members with escapes at every offset of the scan's 16-character steps, then each refused
// after them: the same values and the same stop as the JSON library alone.
TEST(CommandRequest, LongMembersReadAndRefusedAsTheLibraryDoes) {
  const char* escapes[] = {"\\r\\n",  "\\\"",           "\\\\",    "\\/",
                           "\\u00e9", "\\ud83d\\ude00", "\xC3\xA9"};
  // The last ends the body unclosed.
  const std::string refusals[] = {"\\q\\\"in\"", "\\u12\"", "\\ud83d\\n\"", ""};
  for (size_t run = 0; run < 36; ++run) {
    for (const char* escape : escapes) {
      std::string literal;
      for (size_t k = 0; k < 5; ++k) literal += std::string(run + k * 7, 'a' + k) + escape;
      std::vector<std::string> bodies = {R"({"cmd":"c","pdu":{"html":")" + literal +
                                         R"(","mimevalue":")" + literal + "\"}}"};
      for (const std::string& refusal : refusals) {
        bodies.push_back(R"({"cmd":"c","pdu":{"mimevalue":")" + literal + R"(","html":")" +
                         literal + refusal + (refusal.empty() ? "" : R"(,"x":"y"}})"));
      }
      for (const std::string& body : bodies) {
        SCOPED_TRACE(body);
        CommandRequest request;
        Json::Value alone;
        EXPECT_EQ(request.Parse(body), body == bodies[0]);
        EXPECT_EQ(Json::Reader(Json::Features::all()).parse(body, alone, false), body == bodies[0]);
        EXPECT_EQ(Resolved(request), alone.toStyledString());
      }
      // Known to be all ASCII exactly when it is: then it is not checked for UTF-8 again.
      CommandRequest request;
      request.Parse(bodies[0]);
      std::string_view html = request.TextOf(request.root["pdu"]["html"]);
      bool ascii = std::all_of(html.begin(), html.end(), [](char c) { return c >= 0; });
      EXPECT_EQ(request.IsAsciiText(request.root["pdu"]["html"]), ascii) << bodies[0];
    }
  }
}

TEST(CommandRequest, NonObjectRootRaisesTheLibraryError) {
  for (const char* body : {"[1,2]", "7", "\"text\"", "true"}) {
    CommandRequest request = Parsed(body);
    EXPECT_EQ(ErrorOf([&] { request.Cmd(); }), kNotObject) << body;
    EXPECT_EQ(ErrorOf([&] { request.Session(); }), kNotObject) << body;
    EXPECT_EQ(ErrorOf([&] { request.Pdu(); }), kNotObject) << body;
  }
}

TEST(CommandRequest, ArrayOrObjectMembersCannotBeText) {
  EXPECT_EQ(ErrorOf([] { Parsed("{\"cmd\":[\"cfp-1000\"]}").Cmd(); }), kNotString);
  EXPECT_EQ(ErrorOf([] { Parsed("{\"cmd\":{}}").Cmd(); }), kNotString);
  EXPECT_EQ(ErrorOf([] { Parsed("{\"cmd\":\"cfp-1000\",\"session\":[]}").Session(); }), kNotString);
}

TEST(CommandRequest, PduIsACopy) {
  CommandRequest request = Parsed("{\"pdu\":{\"a\":1}}");
  Json::Value pdu = request.Pdu();
  pdu["a"] = 2;
  pdu["b"] = 3;
  EXPECT_EQ(request.root["pdu"]["a"].asInt(), 1);
  EXPECT_FALSE(request.root["pdu"].isMember("b"));
  EXPECT_TRUE(Parsed("{}").Pdu().isNull());
}

TEST(CommandRequest, AnswerRepeatsCmdAndSessionAndEndsWithOneLineFeed) {
  CommandRequest request = Parsed("{\"cmd\":\"Cfp-1000\",\"session\":7,\"pdu\":[\"bad\"]}");
  std::string answer = request.BuildResponse({}, {}, Json::Value(), "");
  EXPECT_EQ(answer.rfind("{\"cmd\":\"Cfp-1000\",\"error\":-1,\"pdu\":{\"version\":\"", 0), 0u)
      << answer;
  EXPECT_NE(answer.find("\"version_daemon\":\""), std::string::npos);
  EXPECT_EQ(answer.substr(answer.size() - 17), "},\"session\":\"7\"}\n");
}

TEST(CommandRequest, UnknownCommandAnswerHasNullPdu) {
  CommandRequest request = Parsed("{\"cmd\":\"cfp-9999\",\"session\":\"s\"}");
  request.error = 3;
  EXPECT_EQ(request.BuildResponse({"/a"}, {}, Json::Value(1), "text"),
            "{\"cmd\":\"cfp-9999\",\"error\":3,\"pdu\":null,\"session\":\"s\"}\n");
}

}  // namespace
