#ifndef ORVO_PROTOCOL_COMMAND_TABLE_H_
#define ORVO_PROTOCOL_COMMAND_TABLE_H_

#include <json/value.h>

#include <string>
#include <string_view>
#include <vector>

class CommandRequest;

// What a worker hands BuildResponse; a payload builder reads only what it needs.
struct PayloadInputs {
  const CommandRequest& request;
  const std::vector<std::string>& paths_a;
  const std::vector<std::string>& paths_b;
  const Json::Value& extra;
  const std::string& payload;
};

using CommandWorker = std::string (*)(CommandRequest& request);
using PayloadBuilder = Json::Value (*)(const PayloadInputs& inputs);

// The number of a command code, compared without regard to case and as a whole: 1, 2, 3, 4, 5,
// 8, 9, 11, 14, 15 for "cfp-0001" ... "cfp-1000"; 0 for anything else.
int CommandCodeOf(std::string_view cmd);

// Prints "doCMD [%d]\n", runs the worker of the number and returns its answer text. The worker
// runs with an AnswerFiles of its own current, so file records are written into the answer
// straight from their files. A number
// without a worker (0, or a command this build does not offer) runs nothing and answers
// empty text, exactly like an unknown code.
std::string doCMD(CommandRequest& request, int command_code);

// Selects the payload builder of the number and returns its value; null when it has none.
Json::Value BuildPdu(int command_code, const PayloadInputs& inputs);

#endif  // ORVO_PROTOCOL_COMMAND_TABLE_H_
