#include "protocol/command_table.h"

#include "platform/log.h"
#include "protocol/answer_files.h"
#include "protocol/command_request.h"
#include "text/ascii.h"

namespace {

struct CommandCode {
  const char* code;
  int number;
};

// Codes are matched in this order; the first equal one wins.
constexpr CommandCode kCommandCodes[] = {
    {"cfp-0001", 1}, {"cfp-0002", 2}, {"cfp-0010", 3},  {"cfp-0011", 4},  {"cfp-0020", 5},
    {"cfp-0030", 8}, {"cfp-0040", 9}, {"cfp-0050", 11}, {"cfp-0060", 14}, {"cfp-1000", 15},
};

const CommandEntry* g_entries = nullptr;
size_t g_entry_count = 0;

const CommandEntry* FindEntry(int command_code) {
  for (size_t i = 0; i < g_entry_count; ++i) {
    if (g_entries[i].number == command_code) return &g_entries[i];
  }
  return nullptr;
}

}  // namespace

void InstallCommandTable(const CommandEntry* entries, size_t count) {
  g_entries = entries;
  g_entry_count = count;
}

int CommandCodeOf(std::string_view cmd) {
  for (const CommandCode& entry : kCommandCodes) {
    if (EqualsIgnoringAsciiCase(cmd, entry.code)) return entry.number;
  }
  return 0;
}

namespace {

CommandAnswer Run(CommandRequest& request, int command_code, bool may_stream) {
  Log("doCMD [%d]\n", command_code);
  const CommandEntry* entry = FindEntry(command_code);
  CommandAnswer answer;
  if (entry == nullptr || entry->worker == nullptr) return answer;
  AnswerFiles files;  // the files the worker's records refer to, until its answer is written
  if (may_stream) files.AllowStreaming();
  request.answer_files = &files;
  answer.text = entry->worker(request);
  request.answer_files = nullptr;
  FlushLog();  // the command's lines are in place before its answer goes out
  answer.stream = files.TakeStream(answer.text);
  if (answer.stream != nullptr) answer.text.clear();
  return answer;
}

}  // namespace

std::string doCMD(CommandRequest& request, int command_code) {
  return Run(request, command_code, false).text;
}

CommandAnswer RunCommand(CommandRequest& request, int command_code) {
  return Run(request, command_code, true);
}

Json::Value BuildPdu(int command_code, const PayloadInputs& inputs) {
  const CommandEntry* entry = FindEntry(command_code);
  if (entry == nullptr || entry->builder == nullptr) return Json::Value();
  return entry->builder(inputs);
}
