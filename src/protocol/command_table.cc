#include "protocol/command_table.h"

#include <strings.h>

#include "platform/log.h"
#include "protocol/answer_files.h"
#include "protocol/command_request.h"
#include "protocol/small_commands.h"
#include "protocol/version_command.h"

namespace {

struct CommandEntry {
  const char* code;
  int number;
  CommandWorker worker;    // Null while this build does not offer the command.
  PayloadBuilder builder;  // Null for commands whose answer has no payload.
};

// Codes are matched in this order; the first equal one wins.
constexpr CommandEntry kCommands[] = {
    {"cfp-0001", 1, nullptr, nullptr},
    {"cfp-0002", 2, nullptr, nullptr},
    {"cfp-0010", 3, nullptr, nullptr},
    {"cfp-0011", 4, nullptr, nullptr},
    {"cfp-0020", 5, nullptr, nullptr},
    {"cfp-0030", 8, RunCleanupCommand, BuildCleanupPdu},
    {"cfp-0040", 9, RunFilesCommand, BuildFilesPdu},
    {"cfp-0050", 11, nullptr, nullptr},
    {"cfp-0060", 14, RunHtmlFileCommand, nullptr},
    {"cfp-1000", 15, RunVersionCommand, BuildVersionPdu},
};

const CommandEntry* FindEntry(int command_code) {
  for (const CommandEntry& entry : kCommands) {
    if (entry.number == command_code) return &entry;
  }
  return nullptr;
}

}  // namespace

int CommandCodeOf(std::string_view cmd) {
  for (const CommandEntry& entry : kCommands) {
    std::string_view code(entry.code);
    if (cmd.size() == code.size() && strncasecmp(cmd.data(), code.data(), code.size()) == 0) {
      return entry.number;
    }
  }
  return 0;
}

std::string doCMD(CommandRequest& request, int command_code) {
  Log("doCMD [%d]\n", command_code);
  const CommandEntry* entry = FindEntry(command_code);
  if (entry == nullptr || entry->worker == nullptr) return {};
  AnswerFiles files;  // the files the worker's records refer to, until its answer is written
  return entry->worker(request);
}

Json::Value BuildPdu(int command_code, const PayloadInputs& inputs) {
  const CommandEntry* entry = FindEntry(command_code);
  if (entry == nullptr || entry->builder == nullptr) return Json::Value();
  return entry->builder(inputs);
}
