#include "cli/host/CliHost.h"

#include <chrono>

#include "cli/sys/HostPlatform.h"

namespace cli {
namespace {

// The plug-in's own allowance when the host names none.
constexpr float DEFAULT_MAX_DIFFERENCE = 1.0f;

}  // namespace

BOOL CCliHostIgnore::AddIgnoredHost(const wchar_t* host, unsigned int) {
  std::wstring name = host != nullptr ? host : L"";
  ++m_mapHosts[name].nAdded;
  m_strLastHost = name;
  m_host.DownloadStarted();
  return 1;
}

BOOL CCliHostIgnore::RemoveIgnoredHost(const wchar_t* host) {
  ++m_mapHosts[host != nullptr ? host : L""].nRemoved;
  m_host.DownloadEnded();
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
    if (!m_fMaxDifference && m_fExtraDifference <= 0) return 0;
    *static_cast<float*>(value) = m_fMaxDifference.value_or(DEFAULT_MAX_DIFFERENCE) + m_fExtraDifference;
    return 1;
  }
  if (name == L"HostIgnore") {
    *static_cast<CHostIgnore**>(value) = &m_ignore;
    return 1;
  }
  return 0;
}

namespace {

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void CCliHost::BeginRequest() {
  m_bTimedOut = false;
  m_nStartedMs = -1;
}

void CCliHost::DownloadStarted() {
  if (m_nLimitMs > 0) m_nStartedMs = NowMs();
}

void CCliHost::DownloadEnded() { m_nStartedMs = -1; }

bool CCliHost::IsStopRequested() {
  if (hostplatform::StopRequested()) return true;
  if (m_bTimedOut) return true;  // the rest of a timed-out request is not tried
  const long long started = m_nStartedMs.load();
  if (started < 0 || m_nLimitMs == 0 || NowMs() - started <= static_cast<long long>(m_nLimitMs)) return false;
  m_bTimedOut = true;
  return true;
}

}  // namespace cli
