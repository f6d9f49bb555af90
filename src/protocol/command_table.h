#ifndef ORVO_PROTOCOL_COMMAND_TABLE_H_
#define ORVO_PROTOCOL_COMMAND_TABLE_H_

#include <json/value.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class AnswerFiles;
class CommandRequest;
class StreamedAnswer;

// What a worker hands BuildResponse; a payload builder reads only what it needs.
struct PayloadInputs {
  const CommandRequest& request;
  const std::vector<std::string>& paths_a;
  const std::vector<std::string>& paths_b;
  const Json::Value& extra;
  std::string_view payload;  // stays where it lies until the answer is written
  AnswerFiles* files;        // for stand-ins of files and long texts; null outside a command
  // The owner of payload's bytes when they may outlive the worker (AnswerFiles::ReferText).
  std::shared_ptr<const void> payload_holder = nullptr;

  // The payload as a JSON string value of its own.
  Json::Value PayloadValue() const {
    return Json::Value(payload.data(), payload.data() + payload.size());
  }
};

using CommandWorker = std::string (*)(CommandRequest& request);
using PayloadBuilder = Json::Value (*)(const PayloadInputs& inputs);

// One row of the command table: the workers and payload builders of a command number. The
// table itself, which names every worker, is assembled where every subsystem is visible (the
// service) and installed with InstallCommandTable.
struct CommandEntry {
  int number;
  CommandWorker worker;    // Null while this build does not offer the command.
  PayloadBuilder builder;  // Null for commands whose answer has no payload.
};

// Makes entries the table doCMD and BuildPdu consult; entries must stay alive while requests
// run (a static array). Call at start-up, before the first request: it is not synchronised with
// running requests. Until a table is installed every command is unknown.
void InstallCommandTable(const CommandEntry* entries, size_t count);

// The number of a command code, compared without regard to case and as a whole: 1, 2, 3, 4, 5,
// 8, 9, 11, 14, 15 for "cfp-0001" ... "cfp-1000"; 0 for anything else.
int CommandCodeOf(std::string_view cmd);

// Prints "doCMD [%d]\n", runs the worker of the number and returns its answer text. The worker
// runs with an AnswerFiles of its own as request.answer_files, so file records are written
// into the answer straight from their files. A number
// without a worker (0, or a command this build does not offer) runs nothing and answers
// empty text, exactly like an unknown code.
std::string doCMD(CommandRequest& request, int command_code);

// A command's answer as the connection sends it: a large answer with files as a stream made from
// the files as it goes out (no answer-sized text is ever held), any other as its text.
struct CommandAnswer {
  std::string text;                        // when stream is null
  std::unique_ptr<StreamedAnswer> stream;  // holds the answer's files until it is destroyed
};

// doCMD for the connection: the same log line, worker and bytes, but an answer whose files add
// up to AnswerFiles::kStreamFrom characters of text or more comes back as a stream. A worker
// returns the text BuildResponse gave it unchanged.
CommandAnswer RunCommand(CommandRequest& request, int command_code);

// Selects the payload builder of the number and returns its value; null when it has none.
Json::Value BuildPdu(int command_code, const PayloadInputs& inputs);

#endif  // ORVO_PROTOCOL_COMMAND_TABLE_H_
