#include "plugin/msabi/MsHostCallback.h"

#include "platform/win32/msabi/MsCString.h"

BOOL CMsHostIgnore::AddIgnoredHost(const wchar_t* host, unsigned int value) {
  return m_pIgnore->vtbl->AddIgnoredHost(m_pIgnore, host, value);
}

BOOL CMsHostIgnore::RemoveIgnoredHost(const wchar_t* host) {
  return m_pIgnore->vtbl->RemoveIgnoredHost(m_pIgnore, host);
}

BOOL CMsHostCallback::GetHostValue(const CString& name, void* value) {
  msabi::CLocalCString hostName(name.Str());
  if (value != nullptr && name == L"HttpProxy") {
    msabi::CLocalCString proxy;
    const BOOL written = m_pHost->vtbl->GetHostValue(m_pHost, hostName.Get(), proxy.Get());
    *static_cast<CString*>(value) = proxy.Text();
    return written;
  }
  if (value != nullptr && name == L"HostIgnore") {
    msabi::SHostIgnore* ignore = nullptr;
    const BOOL written = m_pHost->vtbl->GetHostValue(m_pHost, hostName.Get(), &ignore);
    if (ignore != nullptr) {
      m_ignore.Attach(ignore);
      *static_cast<CHostIgnore**>(value) = &m_ignore;
    }
    return written;
  }
  return m_pHost->vtbl->GetHostValue(m_pHost, hostName.Get(), value);
}

void CMsHostCallback::Notify() { m_pHost->vtbl->Notify(m_pHost); }

bool CMsHostCallback::IsStopRequested() { return m_pHost->vtbl->IsStopRequested(m_pHost); }
