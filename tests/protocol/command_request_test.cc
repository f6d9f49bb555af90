#include "protocol/command_request.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

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
  } cases[] = {{"7", "7"},        {"-12", "-12"},     {"true", "true"},
               {"false", "false"}, {"null", ""},       {"\"s-1\"", "s-1"},
               {"1.5", "1.5"},    {"\"한\"", "한"}};
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
  EXPECT_EQ(ErrorOf([] { Parsed("{\"cmd\":\"cfp-1000\",\"session\":[]}").Session(); }),
            kNotString);
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
