#include "protocol/command_request.h"

#include <json/reader.h>

#include <algorithm>
#include <exception>

#include "protocol/answer_files.h"
#include "protocol/command_table.h"
#include "protocol/json_writer.h"

bool CommandRequest::Parse(std::string_view body) { return ParseOwned(std::string(body)); }

bool CommandRequest::ParseOwned(std::string body) {
  body_ = std::make_shared<std::string>(std::move(body));
  // The old reader with every feature: comments are allowed and any value may be the root.
  std::string envelope;
  std::string_view text = TakeLargeMembers(*body_, envelope, large_members_) ? envelope : *body_;
  Json::Reader reader(Json::Features::all());
  try {
    return reader.parse(text.data(), text.data() + text.size(), root, /*collectComments=*/false);
  } catch (const std::exception&) {
    // The reader refuses nesting deeper than its stack limit by throwing. That is a body it
    // cannot read, like any other: root keeps what was stored before it stopped.
    return false;
  }
}

const LargeMember* CommandRequest::LargeMemberOf(const Json::Value& value) const {
  const char* begin = nullptr;
  const char* end = nullptr;
  if (!value.isString() || !value.getString(&begin, &end) || begin != end) return nullptr;
  // The reader keeps where each value stood in the text it read, and copies keep it too.
  auto at = static_cast<size_t>(value.getOffsetStart());
  auto found =
      std::lower_bound(large_members_.begin(), large_members_.end(), at,
                       [](const LargeMember& member, size_t offset) { return member.at < offset; });
  return found != large_members_.end() && found->at == at ? &*found : nullptr;
}

std::string_view CommandRequest::TextOf(const Json::Value& value) const {
  if (const LargeMember* member = LargeMemberOf(value)) return member->view();
  const char* begin = nullptr;
  const char* end = nullptr;
  if (!value.isString() || !value.getString(&begin, &end)) return {};
  return std::string_view(begin, end - begin);
}

bool CommandRequest::IsAsciiText(const Json::Value& value) const {
  const LargeMember* member = LargeMemberOf(value);
  return member != nullptr && member->ascii;
}

// Value::get looks the key up with find(), which raises the library's own
// "requires objectValue or nullValue" error for any other root; asString raises
// "Type is not convertible to string" for arrays and objects.
std::string CommandRequest::Cmd() const { return root.get("cmd", Json::Value()).asString(); }

std::string CommandRequest::Session() const {
  return root.get("session", Json::Value()).asString();
}

Json::Value CommandRequest::Pdu() const { return root.get("pdu", Json::Value()); }

int CommandRequest::CommandCode() const { return CommandCodeOf(Cmd()); }

std::string CommandRequest::BuildResponse(const std::vector<std::string>& paths_a,
                                          const std::vector<std::string>& paths_b,
                                          const Json::Value& extra, std::string_view payload,
                                          std::shared_ptr<const void> payload_holder) const {
  Json::Value answer(Json::objectValue);
  answer["cmd"] = Cmd();
  answer["session"] = Session();
  PayloadInputs inputs{
      *this, paths_a, paths_b, extra, payload, answer_files, std::move(payload_holder)};
  answer["pdu"] = BuildPdu(CommandCode(), inputs);
  answer["error"] = error;
  return WriteCompactJson(answer, answer_files);
}
