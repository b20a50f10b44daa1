// posix backend of platform/Clock.h.
#include "platform/Clock.h"


#include "platform/NoDestructor.h"
#include <ctime>

namespace platform {
namespace {

class CPosixClock : public IClock {
 public:
  void GetLocalTime(SYSTEMTIME& st) override {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    time_t secs = ts.tv_sec;
    tm local{};
    localtime_r(&secs, &local);
    st.wYear = static_cast<WORD>(local.tm_year + 1900);
    st.wMonth = static_cast<WORD>(local.tm_mon + 1);
    st.wDayOfWeek = static_cast<WORD>(local.tm_wday);
    st.wDay = static_cast<WORD>(local.tm_mday);
    st.wHour = static_cast<WORD>(local.tm_hour);
    st.wMinute = static_cast<WORD>(local.tm_min);
    st.wSecond = static_cast<WORD>(local.tm_sec > 59 ? 59 : local.tm_sec);
    st.wMilliseconds = static_cast<WORD>(ts.tv_nsec / 1000000);
  }
  DWORD GetTickCount() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<DWORD>(ms);
  }
  uint64_t QueryPerformanceCounter() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
  }
};

CPosixClock& SystemClockInstance() {
  static NoDestructor<CPosixClock> s_instance;
  return *s_instance.get();
}

}  // namespace

IClock& SystemClock() { return SystemClockInstance(); }

}  // namespace platform
