// The command-line program's side of the host interface: the callback object
// it hands every plug-in object, and the host-ignore list the plug-in reports
// its downloads to.
//
// Host values answered (anything else is answered 0, "not provided"):
//   "HttpProxy"           the --proxy value, when one was given
//   "MaxMatchDifference"  the --max-diff value, when one was given
//   "HostIgnore"          this program's CCliHostIgnore
// IsStopRequested is true once SIGINT or SIGTERM arrived.
//
// Ownership: the program owns both objects; they must outlive every plug-in
// object they are registered with.
// Threads: called on the thread that called into the plug-in; the stop flag
// may be set by a signal at any time.
#ifndef VERSEWELL_CLI_CLI_HOST_H
#define VERSEWELL_CLI_CLI_HOST_H

#include <map>
#include <optional>
#include <string>

#include <versewell/plugin.h>

namespace cli {

// Records the hosts the plug-in announces around its downloads.
class CCliHostIgnore : public CHostIgnore {
 public:
  struct SCounts {
    unsigned nAdded = 0;
    unsigned nRemoved = 0;
  };

  BOOL AddIgnoredHost(const wchar_t* host, unsigned int value) override;
  BOOL RemoveIgnoredHost(const wchar_t* host) override;

  const std::map<std::wstring, SCounts>& Hosts() const { return m_mapHosts; }
  // The host of the most recent announcement; empty before the first.
  const std::wstring& LastHost() const { return m_strLastHost; }

 private:
  std::map<std::wstring, SCounts> m_mapHosts;
  std::wstring m_strLastHost;
};

class CCliHost : public CHostCallback {
 public:
  CCliHost(std::wstring proxy, std::optional<float> maxDifference)
      : m_strProxy(std::move(proxy)), m_fMaxDifference(maxDifference) {}

  BOOL GetHostValue(const CString& name, void* value) override;
  void Notify() override {}
  bool IsStopRequested() override;

  CCliHostIgnore& Ignore() { return m_ignore; }
  const CCliHostIgnore& Ignore() const { return m_ignore; }

 private:
  std::wstring m_strProxy;
  std::optional<float> m_fMaxDifference;
  CCliHostIgnore m_ignore;
};

}  // namespace cli

#endif  // VERSEWELL_CLI_CLI_HOST_H
