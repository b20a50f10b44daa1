// The host's CHostCallback and CHostIgnore objects, built by a Microsoft-ABI
// host, seen by the plug-in as its own CHostCallback/CHostIgnore classes.
// CMsHostCallback calls the host's table slots 2 (GetHostValue), 4 (Notify)
// and 5 (IsStopRequested), never 0, 1 or 3; CMsHostIgnore calls slots 1 and
// 2, never 0.
//
// Host values cross as the host's types: the name as a CStringW of the
// plug-in's own string manager; "HttpProxy" into a preset empty CStringW of
// that manager, whose text is copied into the plug-in's CString and whose
// buffer is then released; "HostIgnore" as the host's object pointer, handed
// to the plug-in wrapped in a CMsHostIgnore; "MaxMatchDifference" (a float)
// and any other value as the plug-in's own pointer.
//
// Ownership: neither class owns the host's object. The CMsHostCallback
//   belongs to its plug-in object and holds the CMsHostIgnore it hands out.
// Failure: every call into the host's tables goes through the SEH guard
//   (platform/win32/msabi/GuardedCall.h). An exception of Microsoft's C++
//   runtime that the host raises ends there and is raised again as a
//   std::runtime_error ("the host's <slot> raised exception 0xE06D7363"),
//   which unwinds the plug-in's operation to its own boundary guard: one
//   trace line, the operation's failure result. IsStopRequested instead
//   writes that line itself and answers "stop" (the transport asks it while
//   a request runs, where an exception must not pass). Other exceptions of
//   the host are not stopped. Nothing else fails short of bad_alloc.
// Threads: the thread that drives the plug-in object.
#ifndef VERSEWELL_PLUGIN_MSABI_MS_HOST_CALLBACK_H
#define VERSEWELL_PLUGIN_MSABI_MS_HOST_CALLBACK_H

#include <versewell/plugin.h>

#include "platform/win32/msabi/MsLayout.h"

class CMsHostIgnore : public CHostIgnore {
 public:
  void Attach(msabi::SHostIgnore* ignore) { m_pIgnore = ignore; }
  BOOL AddIgnoredHost(const wchar_t* host, unsigned int value) override;
  BOOL RemoveIgnoredHost(const wchar_t* host) override;

 private:
  msabi::SHostIgnore* m_pIgnore = nullptr;
};

class CMsHostCallback : public CHostCallback {
 public:
  void Attach(msabi::SHostCallback* host) { m_pHost = host; }
  BOOL GetHostValue(const CString& name, void* value) override;
  void Notify() override;
  bool IsStopRequested() override;

 private:
  msabi::SHostCallback* m_pHost = nullptr;
  CMsHostIgnore m_ignore;
};

#endif  // VERSEWELL_PLUGIN_MSABI_MS_HOST_CALLBACK_H
