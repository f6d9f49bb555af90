#ifndef ORVO_PLATFORM_BUS_ERROR_GUARD_H_
#define ORVO_PLATFORM_BUS_ERROR_GUARD_H_

// Reading a memory-mapped file that another process shortens under us raises a bus error,
// which would end the whole service. This runs such a read so that the error ends only the
// read.
//
// Calls work(context) and returns true when it finished; false when it touched a mapped page
// that no longer has data behind it. work must only read and compute: on a bus error it is
// abandoned mid-way without unwinding, so it must not allocate, lock, or own anything that
// needs a destructor. Thread-safe; calls may be nested on different threads, not on one.
bool CallCatchingBusError(void (*work)(void* context), void* context);

#endif  // ORVO_PLATFORM_BUS_ERROR_GUARD_H_
