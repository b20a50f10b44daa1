#include "cli/host/CliHost.h"

#include "cli/sys/HostPlatform.h"

namespace cli {

BOOL CCliHostIgnore::AddIgnoredHost(const wchar_t* host, unsigned int) {
  std::wstring name = host != nullptr ? host : L"";
  ++m_mapHosts[name].nAdded;
  m_strLastHost = name;
  return 1;
}

BOOL CCliHostIgnore::RemoveIgnoredHost(const wchar_t* host) {
  ++m_mapHosts[host != nullptr ? host : L""].nRemoved;
  return 1;
}

BOOL CCliHost::GetHostValue(const CString& name, void* value) {
  if (value == nullptr) return 0;
  if (name == L"HttpProxy") {
    if (m_strProxy.empty()) return 0;
    *static_cast<CString*>(value) = CString(m_strProxy);
    return 1;
  }
  if (name == L"MaxMatchDifference") {
    if (!m_fMaxDifference) return 0;
    *static_cast<float*>(value) = *m_fMaxDifference;
    return 1;
  }
  if (name == L"HostIgnore") {
    *static_cast<CHostIgnore**>(value) = &m_ignore;
    return 1;
  }
  return 0;
}

bool CCliHost::IsStopRequested() { return hostplatform::StopRequested(); }

}  // namespace cli
