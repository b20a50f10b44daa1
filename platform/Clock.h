// Time services: local calendar time with milliseconds, the 32-bit tick count
// and the high-resolution performance counter.
//
// All calls go through the current IClock. The posix backend supplies the
// real clock; tests may install their own (for a midnight roll-over, say)
// with SetClockForTesting. Any thread may read the clock; installing one is
// for single-threaded test set-up only.
#ifndef VERSEWELL_PLATFORM_CLOCK_H
#define VERSEWELL_PLATFORM_CLOCK_H

#include <cstdint>

#include "platform/Types.h"

namespace platform {

class IClock {
 public:
  virtual ~IClock() = default;
  virtual void GetLocalTime(SYSTEMTIME& time) = 0;
  // Milliseconds since an arbitrary start; wraps modulo 2^32.
  virtual DWORD GetTickCount() = 0;
  // A fast-changing high-resolution counter.
  virtual uint64_t QueryPerformanceCounter() = 0;
};

// The clock of the platform backend.
IClock& SystemClock();
// Installs `clock` (not owned) for every later call; null restores the
// system clock. Returns the previously installed clock (null for the system).
IClock* SetClockForTesting(IClock* clock);

void GetLocalTime(SYSTEMTIME& time);
DWORD GetTickCount();
uint64_t QueryPerformanceCounter();

}  // namespace platform

#endif  // VERSEWELL_PLATFORM_CLOCK_H
