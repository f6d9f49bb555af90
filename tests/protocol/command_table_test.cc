#include "protocol/command_table.h"

#include <gtest/gtest.h>

#include "protocol/command_request.h"

namespace {

TEST(CommandTable, CodesMatchWholeAndWithoutRegardToCase) {
  struct Case {
    const char* cmd;
    int code;
  } cases[] = {
      {"cfp-0001", 1},  {"CFP-0001", 1},  {"Cfp-0001", 1},  {"cfp-0002", 2},  {"cfp-0010", 3},
      {"cfp-0011", 4},  {"cfp-0020", 5},  {"cfp-0030", 8},  {"cfp-0040", 9},  {"cfp-0050", 11},
      {"cfp-0060", 14}, {"cfp-1000", 15}, {"CFP-1000", 15}, {" cfp-0001", 0}, {"cfp-0001 ", 0},
      {"cfp-001", 0},   {"cfp-00001", 0}, {"cfp0001", 0},   {"", 0},          {"cfp-0003", 0},
      {"cfp_0001", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(CommandCodeOf(c.cmd), c.code) << '"' << c.cmd << '"';
  EXPECT_EQ(CommandCodeOf(std::string("cfp-0001\0", 9)), 0);
  EXPECT_EQ(CommandCodeOf(std::string("cfp-000\0"
                                      "1",
                                      8)),
            0);
}

TEST(CommandTable, UnknownCodeRunsNothingAndAnswersEmpty) {
  CommandRequest request;
  request.Parse("{\"cmd\":\"cfp-4242\"}");
  EXPECT_EQ(doCMD(request, request.CommandCode()), "");
  EXPECT_EQ(request.error, -1);
}

TEST(CommandTable, VersionCommandAnswersAFullEnvelope) {
  CommandRequest request;
  request.Parse("{\"cmd\":\"cfp-1000\",\"session\":\"s\",\"pdu\":\"ignored\"}");
  std::string answer = doCMD(request, request.CommandCode());
  EXPECT_EQ(answer.rfind("{\"cmd\":\"cfp-1000\",\"error\":-1,\"pdu\":{\"version\":", 0), 0u);
  EXPECT_EQ(request.error, -1);
}

TEST(CommandTable, PduOfANumberWithoutBuilderIsNull) {
  CommandRequest request;
  std::vector<std::string> none;
  Json::Value extra;
  std::string payload;
  PayloadInputs inputs{request, none, none, extra, payload, nullptr};
  EXPECT_TRUE(BuildPdu(0, inputs).isNull());
  EXPECT_TRUE(BuildPdu(6, inputs).isNull());
  EXPECT_TRUE(BuildPdu(15, inputs).isObject());
}

}  // namespace
