// Synchronisation stand-ins: a re-entrant critical section with a scoped lock,
// and an interlocked compare-exchange on a 32-bit word.
//
// CCriticalSection may be entered again by the thread that holds it. A
// failure to create one raises std::bad_alloc (the framework's
// out-of-memory exception). Any thread may use these objects.
#ifndef VERSEWELL_PLATFORM_SYNC_H
#define VERSEWELL_PLATFORM_SYNC_H

#include <atomic>
#include <mutex>
#include <new>
#include <system_error>

#include "platform/Types.h"

class CCriticalSection {
 public:
  CCriticalSection() = default;
  CCriticalSection(const CCriticalSection&) = delete;
  CCriticalSection& operator=(const CCriticalSection&) = delete;

  void Lock() { m_mutex.lock(); }
  void Unlock() { m_mutex.unlock(); }

 private:
  std::recursive_mutex m_mutex;
};

// Holds a CCriticalSection for the lifetime of the object (infinite wait).
class CSingleLock {
 public:
  explicit CSingleLock(CCriticalSection& cs) : m_cs(cs) { m_cs.Lock(); }
  ~CSingleLock() { m_cs.Unlock(); }
  CSingleLock(const CSingleLock&) = delete;
  CSingleLock& operator=(const CSingleLock&) = delete;

 private:
  CCriticalSection& m_cs;
};

namespace platform {

// Stores `exchange` into `target` if it holds `comparand`; returns the value
// `target` held before. Sequentially consistent, like the Windows call.
inline DWORD InterlockedCompareExchange(std::atomic<DWORD>& target, DWORD exchange, DWORD comparand) {
  DWORD expected = comparand;
  target.compare_exchange_strong(expected, exchange);
  return expected;
}

}  // namespace platform

#endif  // VERSEWELL_PLATFORM_SYNC_H
