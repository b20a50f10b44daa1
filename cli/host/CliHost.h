// The command-line program's side of the host interface: the callback object
// it hands every plug-in object, and the host-ignore list the plug-in reports
// its downloads to.
//
// Host values answered (anything else is answered 0, "not provided"):
//   "HttpProxy"           the --proxy value, when one was given
//   "MaxMatchDifference"  the --max-diff value, when one was given
//   "HostIgnore"          this program's CCliHostIgnore
// IsStopRequested is true once SIGINT or SIGTERM arrived, and (with a
// download time limit set) once the download under way has run longer than
// the limit: the plug-in announces every download to the host-ignore list
// before it starts and after it ends, and asks for a stop while it waits
// for the connection and for data, so the limit bounds the connect and every
// wait without the plug-in knowing of it. A download stopped that way leaves
// TimedOut() true until the next BeginRequest().
//
// Ownership: the program owns both objects; they must outlive every plug-in
// object they are registered with.
// Threads: called on the thread that called into the plug-in; the stop flag
// may be set by a signal at any time.
#ifndef VERSEWELL_CLI_CLI_HOST_H
#define VERSEWELL_CLI_CLI_HOST_H

#include <atomic>
#include <map>
#include <optional>
#include <string>

#include <versewell/plugin.h>

namespace cli {

// Records the hosts the plug-in announces around its downloads, and starts
// and ends the download clock of its host.
class CCliHost;
class CCliHostIgnore : public CHostIgnore {
 public:
  explicit CCliHostIgnore(CCliHost& host) : m_host(host) {}

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
  CCliHost& m_host;
  std::map<std::wstring, SCounts> m_mapHosts;
  std::wstring m_strLastHost;
};

class CCliHost : public CHostCallback {
 public:
  CCliHost(std::wstring proxy, std::optional<float> maxDifference)
      : m_strProxy(std::move(proxy)), m_fMaxDifference(maxDifference), m_ignore(*this) {}

  // Added to the artist name difference the plug-in accepts (the
  // --max-diff value, else its default of 1) while set; 0: nothing added.
  void SetExtraDifference(float extra) { m_fExtraDifference = extra; }

  // The longest a single download may take; 0: no limit of the host's (the
  // plug-in's own time-outs still apply).
  void SetDownloadLimit(unsigned milliseconds) { m_nLimitMs = milliseconds; }
  unsigned DownloadLimit() const { return m_nLimitMs; }
  // Called before every plug-in request: forgets a time-out of the last one.
  void BeginRequest();
  // Whether a download of the current request was stopped by the limit.
  bool TimedOut() const { return m_bTimedOut.load(); }
  // The download clock, driven by the host-ignore announcements.
  void DownloadStarted();
  void DownloadEnded();

  BOOL GetHostValue(const CString& name, void* value) override;
  void Notify() override {}
  bool IsStopRequested() override;

  CCliHostIgnore& Ignore() { return m_ignore; }
  const CCliHostIgnore& Ignore() const { return m_ignore; }

 private:
  std::wstring m_strProxy;
  std::optional<float> m_fMaxDifference;
  CCliHostIgnore m_ignore;
  float m_fExtraDifference = 0;
  unsigned m_nLimitMs = 0;
  // Milliseconds on the steady clock when the download under way started;
  // -1 when none is under way. Atomic: a backend may ask for a stop from
  // its own thread.
  std::atomic<long long> m_nStartedMs{-1};
  std::atomic<bool> m_bTimedOut{false};
};

}  // namespace cli

#endif  // VERSEWELL_CLI_CLI_HOST_H
