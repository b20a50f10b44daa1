// Windows backend of platform/Clock.h: GetLocalTime, GetTickCount and
// QueryPerformanceCounter.

#include "platform/Clock.h"
#include "platform/NoDestructor.h"
#include "platform/win32/WinApi.h"

namespace platform {
namespace {

class CWin32Clock : public IClock {
 public:
  void GetLocalTime(SYSTEMTIME& st) override {
    ::SYSTEMTIME local;
    ::GetLocalTime(&local);
    st.wYear = local.wYear;
    st.wMonth = local.wMonth;
    st.wDayOfWeek = local.wDayOfWeek;
    st.wDay = local.wDay;
    st.wHour = local.wHour;
    st.wMinute = local.wMinute;
    st.wSecond = local.wSecond;
    st.wMilliseconds = local.wMilliseconds;
  }
  DWORD GetTickCount() override { return ::GetTickCount(); }
  uint64_t QueryPerformanceCounter() override {
    LARGE_INTEGER value;
    ::QueryPerformanceCounter(&value);
    return static_cast<uint64_t>(value.QuadPart);
  }
};

CWin32Clock& SystemClockInstance() {
  static NoDestructor<CWin32Clock> s_instance;
  return *s_instance.get();
}

}  // namespace

IClock& SystemClock() { return SystemClockInstance(); }

}  // namespace platform
