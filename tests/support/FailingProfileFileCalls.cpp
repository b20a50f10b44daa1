#include "support/FailingProfileFileCalls.h"

#include <cerrno>

using platform::SystemProfileFileCalls;

namespace {

bool Fails(CFaultPlan& plan, EFileCall call, int error) {
  if (plan.Next(call) == CFaultPlan::EVerdict::PASS) return false;
  errno = error;
  return true;
}

}  // namespace

int CFailingProfileFileCalls::Open(const char* path, int flags, mode_t mode) {
  return Fails(m_plan, EFileCall::OPEN, EACCES) ? -1 : SystemProfileFileCalls().Open(path, flags, mode);
}

int CFailingProfileFileCalls::Lock(int fd, int operation) {
  return Fails(m_plan, EFileCall::LOCK, ENOLCK) ? -1 : SystemProfileFileCalls().Lock(fd, operation);
}

ssize_t CFailingProfileFileCalls::ReadAt(int fd, void* buffer, size_t size, off_t offset) {
  return SystemProfileFileCalls().ReadAt(fd, buffer, size, offset);
}

ssize_t CFailingProfileFileCalls::WriteAt(int fd, const void* data, size_t size, off_t offset) {
  if (m_failNextWrite.exchange(false)) {
    errno = ENOSPC;
    return -1;
  }
  const CFaultPlan::EVerdict verdict = m_plan.Next(EFileCall::WRITE);
  if (verdict == CFaultPlan::EVerdict::FAIL || (verdict == CFaultPlan::EVerdict::CUT_SHORT && CutShortSize(static_cast<unsigned>(size)) == 0)) {
    errno = ENOSPC;
    return -1;
  }
  if (verdict == CFaultPlan::EVerdict::CUT_SHORT) {
    m_failNextWrite = true;
    return SystemProfileFileCalls().WriteAt(fd, data, CutShortSize(static_cast<unsigned>(size)), offset);
  }
  return SystemProfileFileCalls().WriteAt(fd, data, size, offset);
}

int CFailingProfileFileCalls::Truncate(int fd, off_t size) {
  if (Fails(m_plan, EFileCall::TRUNCATE, EIO) || failTruncate) {
    errno = EIO;
    return -1;
  }
  return SystemProfileFileCalls().Truncate(fd, size);
}

int CFailingProfileFileCalls::Sync(int fd) {
  return Fails(m_plan, EFileCall::FLUSH, EIO) ? -1 : SystemProfileFileCalls().Sync(fd);
}

int CFailingProfileFileCalls::Rename(const char* from, const char* to) {
  return Fails(m_plan, EFileCall::RENAME, EIO) ? -1 : SystemProfileFileCalls().Rename(from, to);
}

int CFailingProfileFileCalls::Unlink(const char* path) {
  if (Fails(m_plan, EFileCall::REMOVE, EACCES) || failUnlink) {
    errno = EACCES;
    return -1;
  }
  return SystemProfileFileCalls().Unlink(path);
}
