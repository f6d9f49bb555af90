#ifndef ORVO_TESTS_INTEGRATION_COMMAND_SERVICE_TEST_H_
#define ORVO_TESTS_INTEGRATION_COMMAND_SERVICE_TEST_H_

// A running service whose request folders go to a private temp folder, and one command sent
// to it as the page would send it.

#include <gtest/gtest.h>
#include <httplib.h>
#include <json/json.h>

#include <string>

#include "integration/service_fixture.h"
#include "support/scratch_folder.h"

namespace service_test {

class CommandServiceTest : public RunningServiceTest {
 protected:
  explicit CommandServiceTest(std::string cmd) : cmd_(std::move(cmd)) {}

  // POSTs {"cmd", "session": "it", "pdu": pdu}.
  httplib::Result Post(const Json::Value& pdu) { return Post(cmd_, pdu); }
  httplib::Result Post(const std::string& cmd, const Json::Value& pdu) {
    Json::Value envelope;
    envelope["cmd"] = cmd;
    envelope["session"] = "it";
    envelope["pdu"] = pdu;
    return service_.Client()->Post("/", Json::FastWriter().write(envelope), "text/plain");
  }
  Json::Value Answer(const httplib::Result& res) {
    Json::Value answer;
    EXPECT_TRUE(Json::Reader().parse(res->body, answer)) << res->body;
    return answer;
  }
  // Request folders left in the private temp folder's shared root.
  int RequestFoldersLeft() const { return scratch::CountEntries(temp_ / "TAVU"); }

  // Set before the service starts, so the service's temp folder is this one.
  scratch::ScratchFolder temp_;
  scratch::TempDirOverride tmpdir_{temp_.path()};

 private:
  std::string cmd_;
};

}  // namespace service_test

#endif  // ORVO_TESTS_INTEGRATION_COMMAND_SERVICE_TEST_H_
