#ifndef ORVO_PROTOCOL_COMMAND_REQUEST_H_
#define ORVO_PROTOCOL_COMMAND_REQUEST_H_

#include <json/value.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/large_members.h"

// One POST "/" request: the parsed envelope and the state its command leaves for the answer.
// Made by the endpoint for one request, used by exactly one worker on the same thread, then
// discarded. Not thread-safe; never shared between requests.
class AnswerFiles;

class CommandRequest {
 public:
  CommandRequest() = default;
  // Not copied: the large members' texts lie in this request's own body, which a move takes
  // along (a body that holds one is far too long to be kept inside the string object).
  CommandRequest(const CommandRequest&) = delete;
  CommandRequest& operator=(const CommandRequest&) = delete;
  CommandRequest(CommandRequest&&) = default;
  CommandRequest& operator=(CommandRequest&&) = default;

  // Reads the whole body with JsonCpp's old reader (comments allowed, any root value) into
  // root. Returns whether the body was valid JSON; on failure root keeps whatever the reader
  // had stored before it stopped.
  // The envelope's large members are unescaped once into buffers of their own
  // (large_members.h); root then holds an empty string in their place, and TextOf gives
  // their text.
  bool Parse(std::string_view body);
  // The same for a body handed over: its large members are unescaped where they stand in it,
  // so a request of tens of megabytes is held once.
  bool ParseOwned(std::string body);

  // The characters of a string value read from root or a copy of it, a large member's own
  // text included. Empty for any other value. Valid while this request lives.
  std::string_view TextOf(const Json::Value& value) const;
  // Whether value is a large member whose text is known to be all ASCII, so valid UTF-8
  // without another look at its tens of megabytes. False when not known.
  bool IsAsciiText(const Json::Value& value) const;
  // The owner of the texts TextOf gives for large members: holding it keeps them valid after
  // this request is gone (an answer that quotes them as it streams).
  std::shared_ptr<const void> TextHolder() const { return body_; }

  // "cmd" and "session" as text by JsonCpp's string conversion (empty when absent). Throws the
  // JSON library's error when root is neither an object nor null, or when the member is an
  // array or an object.
  std::string Cmd() const;
  std::string Session() const;

  // A copy of "pdu" (null when absent); writing into it leaves root unchanged.
  Json::Value Pdu() const;

  // The number of "cmd" in the command table (0 for none).
  int CommandCode() const;

  // Turns a worker's results into the whole answer text: {"cmd","error","pdu","session"}
  // written compactly with a closing line feed. The payload builder of this request's command
  // takes only the inputs it needs; pass empty lists, null or empty text for the rest. Files
  // and texts that stand-ins of answer_files refer to are written into the text here, once.
  // payload_holder, the owner of payload's bytes, lets a long payload go out streamed instead
  // (AnswerFiles::ReferText).
  std::string BuildResponse(const std::vector<std::string>& paths_a,
                            const std::vector<std::string>& paths_b, const Json::Value& extra,
                            std::string_view payload,
                            std::shared_ptr<const void> payload_holder = nullptr) const;

  Json::Value root;
  int32_t error = -1;  // -1: the worker set nothing; 0: success; else the command's number.
  int32_t isUpdate = 0;
  int32_t type = 1;
  int32_t isOffice = 1;
  std::string uuid;
  // The files and texts of this request's answer (answer_files.h), while its command runs;
  // null outside a command: records then carry their text itself.
  AnswerFiles* answer_files = nullptr;

 private:
  const LargeMember* LargeMemberOf(const Json::Value& value) const;

  // As read; the large members lie in it. Shared with answers that quote them.
  std::shared_ptr<std::string> body_ = std::make_shared<std::string>();
  std::vector<LargeMember> large_members_;  // in the order of their place in the envelope
};

#endif  // ORVO_PROTOCOL_COMMAND_REQUEST_H_
