#ifndef ORVO_PROTOCOL_VERSION_COMMAND_H_
#define ORVO_PROTOCOL_VERSION_COMMAND_H_

#include <json/value.h>

#include <string>

class CommandRequest;
struct PayloadInputs;

// "cfp-1000": answers {"version", "version_daemon"}; the request's "pdu" is not read and the
// error number is never set (it stays -1).
std::string RunVersionCommand(CommandRequest& request);
Json::Value BuildVersionPdu(const PayloadInputs& inputs);

// The companion service whose version is reported beside ours.
inline constexpr char kCompanionFileName[] = "OrvoService.exe";

#endif  // ORVO_PROTOCOL_VERSION_COMMAND_H_
