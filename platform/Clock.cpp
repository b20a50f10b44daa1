// Routing of the clock calls to the installed clock: the backend's own
// (SystemClock) unless a test installed another one.
#include "platform/Clock.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<IClock*> g_currentClock{nullptr};

IClock& Current() {
  IClock* c = g_currentClock.load(std::memory_order_acquire);
  return c != nullptr ? *c : SystemClock();
}

}  // namespace

IClock* SetClockForTesting(IClock* clock) { return g_currentClock.exchange(clock); }
void GetLocalTime(SYSTEMTIME& time) { Current().GetLocalTime(time); }
DWORD GetTickCount() { return Current().GetTickCount(); }
uint64_t QueryPerformanceCounter() { return Current().QueryPerformanceCounter(); }

}  // namespace platform
