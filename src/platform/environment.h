#ifndef ORVO_PLATFORM_ENVIRONMENT_H_
#define ORVO_PLATFORM_ENVIRONMENT_H_

#include <optional>
#include <string>

// The value of the process's environment variable name, or nothing when it is not set. A
// variable set to empty text is set: callers that treat empty as unset say so themselves.
// Thread-safe as long as nobody changes the environment while the service runs (it never does).
std::optional<std::string> EnvironmentVariable(const std::string& name);

#endif  // ORVO_PLATFORM_ENVIRONMENT_H_
