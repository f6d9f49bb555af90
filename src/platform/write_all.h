#ifndef ORVO_PLATFORM_WRITE_ALL_H_
#define ORVO_PLATFORM_WRITE_ALL_H_

#include <string_view>

// Writes all of bytes to the open descriptor fd, going on after short writes and interrupted
// calls. False, with errno set (EIO when the descriptor takes nothing without an error), when a
// write fails; how much was written then is not said. Thread-safe for distinct descriptors.
//
// A library of its own, so that the components loaded beside the service use the same loop
// without the rest of the platform layer.
bool WriteAll(int fd, std::string_view bytes);

#endif  // ORVO_PLATFORM_WRITE_ALL_H_
