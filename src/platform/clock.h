#ifndef ORVO_PLATFORM_CLOCK_H_
#define ORVO_PLATFORM_CLOCK_H_

// The wall clock in the desktop's time zone, to the millisecond. For names and log lines only:
// intervals and deadlines use std::chrono::steady_clock, which the wall clock's jumps do not move.
struct LocalTime {
  int year = 0;    // e.g. 2026
  int month = 0;   // 1..12
  int day = 0;     // 1..31
  int hour = 0;    // 0..23
  int minute = 0;  // 0..59
  int second = 0;  // 0..60 (a leap second)
  int millisecond = 0;  // 0..999
};

// The current local time. Thread-safe.
LocalTime CurrentLocalTime();

#endif  // ORVO_PLATFORM_CLOCK_H_
