#include "plugin/msabi/MsHostCallback.h"

#include <cstdio>
#include <stdexcept>

#include "diag/TraceLevels.h"
#include "diag/TraceLog.h"
#include "platform/win32/msabi/GuardedCall.h"
#include "platform/win32/msabi/MsCString.h"

namespace {

// The host's exception, stopped at the guard, raised again as this module's
// own: the plug-in operation that called the host unwinds normally (locks
// released, nothing half-written) and ends at its boundary guard, which
// writes the one trace line and answers the operation's failure result.
[[noreturn]] void HostRaised(const char* slot, unsigned long code) {
  char text[96];
  std::snprintf(text, sizeof text, "the host's %s raised exception 0x%08lX", slot, code);
  throw std::runtime_error(text);
}

template <typename R>
R Returned(const char* slot, const msabi::SGuardedResult<R>& call) {
  if (call.nRaised != 0) HostRaised(slot, call.nRaised);
  if constexpr (!std::is_void<R>::value) return call.value;
}

}  // namespace

BOOL CMsHostIgnore::AddIgnoredHost(const wchar_t* host, unsigned int value) {
  return Returned("AddIgnoredHost", msabi::GuardedCall(m_pIgnore->vtbl->AddIgnoredHost, m_pIgnore, host, value));
}

BOOL CMsHostIgnore::RemoveIgnoredHost(const wchar_t* host) {
  return Returned("RemoveIgnoredHost", msabi::GuardedCall(m_pIgnore->vtbl->RemoveIgnoredHost, m_pIgnore, host));
}

BOOL CMsHostCallback::GetHostValue(const CString& name, void* value) {
  msabi::CLocalCString hostName(name.Str());
  const auto ask = [&](void* target) {
    return Returned("GetHostValue", msabi::GuardedCall(m_pHost->vtbl->GetHostValue, m_pHost, hostName.Get(), target));
  };
  if (value != nullptr && name == L"HttpProxy") {
    msabi::CLocalCString proxy;
    const BOOL written = ask(proxy.Get());
    *static_cast<CString*>(value) = proxy.Text();
    return written;
  }
  if (value != nullptr && name == L"HostIgnore") {
    msabi::SHostIgnore* ignore = nullptr;
    const BOOL written = ask(&ignore);
    if (ignore != nullptr) {
      m_ignore.Attach(ignore);
      *static_cast<CHostIgnore**>(value) = &m_ignore;
    }
    return written;
  }
  return ask(value);
}

void CMsHostCallback::Notify() { Returned("Notify", msabi::GuardedCall(m_pHost->vtbl->Notify, m_pHost)); }

// Asked from inside the transport's waits too, where an exception would
// leave a request running: a host that raises here is taken as asking for
// the stop, which ends the operation as a failure, with one line that says
// why.
bool CMsHostCallback::IsStopRequested() {
  const msabi::SGuardedResult<bool> call = msabi::GuardedCall(m_pHost->vtbl->IsStopRequested, m_pHost);
  if (call.nRaised == 0) return call.value;
  TraceFormat(TRACE_ERROR, L"IsStopRequested(): the host's IsStopRequested raised exception 0x%08lX; taken as a stop",
              call.nRaised);
  return true;
}
