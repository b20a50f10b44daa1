// The posix private-profile module's file calls for tests: each forwards to
// the real call unless the fault plan (support/FaultPlan.h) says to fail it
// (open, lock, write, truncate, fsync as a flush, rename, unlink as a
// delete). A write cut short stores part of its bytes and returns that
// count; the write that continues it then fails with ENOSPC. Install with
// ScopedProfileFileCalls. Single-threaded set-up only.
#ifndef VERSEWELL_TESTS_SUPPORT_FAILING_PROFILE_FILE_CALLS_H
#define VERSEWELL_TESTS_SUPPORT_FAILING_PROFILE_FILE_CALLS_H

#include <atomic>

#include "platform/posix/ProfileFileCalls.h"
#include "support/FaultPlan.h"

class CFailingProfileFileCalls : public platform::IProfileFileCalls {
 public:
  explicit CFailingProfileFileCalls(CFaultPlan& plan) : m_plan(plan) {}
  // Beside the plan, for a second fault in the same run: every truncate
  // (the rollback of a failed append) or every unlink (the removal of a
  // failed compaction's temporary file) fails while set.
  std::atomic<bool> failTruncate{false};
  std::atomic<bool> failUnlink{false};
  int Open(const char* path, int flags, mode_t mode) override;
  int Lock(int fd, int operation) override;
  ssize_t ReadAt(int fd, void* buffer, size_t size, off_t offset) override;
  ssize_t WriteAt(int fd, const void* data, size_t size, off_t offset) override;
  int Truncate(int fd, off_t size) override;
  int Sync(int fd) override;
  int Rename(const char* from, const char* to) override;
  int Unlink(const char* path) override;

 private:
  CFaultPlan& m_plan;
  std::atomic<bool> m_failNextWrite{false};
};

class ScopedProfileFileCalls {
 public:
  explicit ScopedProfileFileCalls(platform::IProfileFileCalls& calls)
      : m_previous(platform::SetProfileFileCallsForTesting(&calls)) {}
  ~ScopedProfileFileCalls() { platform::SetProfileFileCallsForTesting(m_previous); }
  ScopedProfileFileCalls(const ScopedProfileFileCalls&) = delete;
  ScopedProfileFileCalls& operator=(const ScopedProfileFileCalls&) = delete;

 private:
  platform::IProfileFileCalls* m_previous;
};

#endif
