// A settable clock for tests: local time and tick count advance only when a
// test says so. Install with ScopedFakeClock; the previous clock returns when
// it goes out of scope. Single-threaded set-up only.
#ifndef VERSEWELL_TESTS_SUPPORT_FAKE_CLOCK_H
#define VERSEWELL_TESTS_SUPPORT_FAKE_CLOCK_H

#include <atomic>
#include <mutex>

#include "platform/Clock.h"

class CFakeClock : public platform::IClock {
 public:
  CFakeClock();
  void SetLocalTime(int year, int month, int day, int hour, int minute, int second, int ms = 0);
  void SetTickCount(DWORD ticks) { m_ticks = ticks; }
  void AdvanceTicks(DWORD ms) { m_ticks += ms; }

  void GetLocalTime(platform::SYSTEMTIME& time) override;
  DWORD GetTickCount() override { return m_ticks.load(); }
  uint64_t QueryPerformanceCounter() override { return ++m_counter; }

 private:
  std::mutex m_mutex;
  platform::SYSTEMTIME m_time;
  std::atomic<DWORD> m_ticks{0};
  std::atomic<uint64_t> m_counter{0};
};

class ScopedFakeClock {
 public:
  explicit ScopedFakeClock(CFakeClock& clock) : m_previous(platform::SetClockForTesting(&clock)) {}
  ~ScopedFakeClock() { platform::SetClockForTesting(m_previous); }

 private:
  platform::IClock* m_previous;
};

#endif
