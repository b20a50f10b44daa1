#include "platform/win32/ProfileKernelCalls.h"

#include <atomic>

#include "platform/NoDestructor.h"
#include "platform/win32/WinApi.h"

namespace platform {
namespace {

class CSystemProfileKernelCalls : public IProfileKernelCalls {
 public:
  void* CreateNamedMutex(const wchar_t* name) override { return ::CreateMutexW(nullptr, FALSE, name); }
  bool FlushFile(void* file) override { return ::FlushFileBuffers(file) != FALSE; }
};

std::atomic<IProfileKernelCalls*> g_currentCalls{nullptr};

}  // namespace

IProfileKernelCalls& SystemProfileKernelCalls() {
  static NoDestructor<CSystemProfileKernelCalls> s_calls;
  return *s_calls.get();
}

IProfileKernelCalls* SetProfileKernelCallsForTesting(IProfileKernelCalls* calls) {
  return g_currentCalls.exchange(calls);
}

IProfileKernelCalls& CurrentProfileKernelCalls() {
  IProfileKernelCalls* calls = g_currentCalls.load();
  return calls != nullptr ? *calls : SystemProfileKernelCalls();
}

}  // namespace platform
