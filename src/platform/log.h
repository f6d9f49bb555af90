#ifndef ORVO_PLATFORM_LOG_H_
#define ORVO_PLATFORM_LOG_H_

#include <cstddef>
#include <string>

// Diagnostic output. The service has no log file: its lines go to standard output, which is
// seen only when the output was redirected.
//
// Log formats like printf and queues the whole text for one writer thread, which writes the
// lines queued meanwhile with one write and in order, so lines of concurrent requests never
// interleave. Thread-safe.
//
// Logging never blocks a request for long: Log does not wait for its line, only for room when
// the queue is full, and not at all once a write has stalled (standard output is a pipe that
// nobody reads). A line that finds no room is dropped and counted, and when the writer catches
// up it writes "\n log lines dropped [N]\n" with the number of lines lost.
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Queues lines, text already formatted, as one entry: a caller that logs many lines at once
// (a folder's deletion) hands them over together instead of one by one. When the entry finds
// no room, lines is the count of lines reported as dropped.
void LogLines(std::string text, size_t lines);

// Waits a short while until every line logged before the call is written, so that a command's
// lines are in place before its answer goes out. Returns at once while the output is stalled.
void FlushLog();

#endif  // ORVO_PLATFORM_LOG_H_
