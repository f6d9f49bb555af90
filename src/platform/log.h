#ifndef ORVO_PLATFORM_LOG_H_
#define ORVO_PLATFORM_LOG_H_

// Diagnostic output. The service has no log file: its lines go to standard output, which is
// seen only when the output was redirected.
//
// Log formats like printf and hands the whole text to one writer thread, which writes each
// line with one write and in order, so lines of concurrent requests never interleave.
// Thread-safe.
//
// Logging never blocks a request for long: Log waits a short while for its line to be written
// (so output is in place when Log returns, as long as the reader keeps up), but once a write
// has stalled (standard output is a pipe that nobody reads) it only queues. The queue is
// bounded; a line that does not fit is dropped and counted, and when the writer catches up it
// writes "\n log lines dropped [N]\n" with the number of lines lost.
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

#endif  // ORVO_PLATFORM_LOG_H_
