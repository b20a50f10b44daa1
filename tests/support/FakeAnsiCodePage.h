// Fixes the system's and the threads' ANSI code pages for a test, whatever
// the machine's locale. Install with ScopedFakeAnsiCodePage; the previous
// source returns when it goes out of scope. Single-threaded set-up only; the
// values may be read from any thread.
#ifndef VERSEWELL_TESTS_SUPPORT_FAKE_ANSI_CODE_PAGE_H
#define VERSEWELL_TESTS_SUPPORT_FAKE_ANSI_CODE_PAGE_H

#include <atomic>

#include "platform/CodePage.h"

class CFakeAnsiCodePage : public platform::IAnsiCodePageSource {
 public:
  CFakeAnsiCodePage(UINT systemCodePage, UINT threadCodePage) : m_system(systemCodePage), m_thread(threadCodePage) {}
  void SetSystem(UINT codePage) { m_system = codePage; }
  void SetThread(UINT codePage) { m_thread = codePage; }
  UINT GetACP() override { return m_system.load(); }
  UINT GetThreadACP() override { return m_thread.load(); }

 private:
  std::atomic<UINT> m_system;
  std::atomic<UINT> m_thread;
};

class ScopedFakeAnsiCodePage {
 public:
  explicit ScopedFakeAnsiCodePage(UINT systemCodePage, UINT threadCodePage)
      : m_fake(systemCodePage, threadCodePage), m_previous(platform::SetAnsiCodePageSourceForTesting(&m_fake)) {}
  ~ScopedFakeAnsiCodePage() { platform::SetAnsiCodePageSourceForTesting(m_previous); }
  ScopedFakeAnsiCodePage(const ScopedFakeAnsiCodePage&) = delete;
  ScopedFakeAnsiCodePage& operator=(const ScopedFakeAnsiCodePage&) = delete;
  CFakeAnsiCodePage& Fake() { return m_fake; }

 private:
  CFakeAnsiCodePage m_fake;
  platform::IAnsiCodePageSource* m_previous;
};

#endif
