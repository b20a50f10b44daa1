#include "support/FailingFileIo.h"

#include "platform/ErrorText.h"

using platform::SystemFileIo;

void CFailingFileIo::FailOpenOf(const std::wstring& pathPart, DWORD error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_failOpenPart = pathPart;
  m_failOpenError = error;
}

platform::FileHandle CFailingFileIo::OpenFile(const std::wstring& path, DWORD access, DWORD share,
                                              DWORD disposition) {
  ++openCalls;
  if (plan != nullptr && plan->Next(EFileCall::OPEN) != CFaultPlan::EVerdict::PASS) {
    platform::SetLastError(platform::ERROR_ACCESS_DENIED);
    return platform::INVALID_FILE_HANDLE;
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_failOpenPart.empty() && path.find(m_failOpenPart) != std::wstring::npos) {
      platform::SetLastError(m_failOpenError);
      return platform::INVALID_FILE_HANDLE;
    }
  }
  return SystemFileIo().OpenFile(path, access, share, disposition);
}

bool CFailingFileIo::ReadFile(platform::FileHandle file, void* buffer, DWORD size, DWORD* read) {
  ++readCalls;
  if (size > largestRead) largestRead = size;
  if (failReads) {
    if (read != nullptr) *read = 0;
    platform::SetLastError(platform::ERROR_READ_FAULT);
    return false;
  }
  return SystemFileIo().ReadFile(file, buffer, size, read);
}

bool CFailingFileIo::WriteFile(platform::FileHandle file, const void* data, DWORD size, DWORD* written) {
  const CFaultPlan::EVerdict verdict = plan != nullptr ? plan->Next(EFileCall::WRITE) : CFaultPlan::EVerdict::PASS;
  if (verdict != CFaultPlan::EVerdict::PASS) {
    DWORD done = 0;
    if (verdict == CFaultPlan::EVerdict::CUT_SHORT && CutShortSize(size) > 0)
      SystemFileIo().WriteFile(file, data, CutShortSize(size), &done);
    if (written != nullptr) *written = done;
    platform::SetLastError(errorCode);
    return false;
  }
  long long budget = writeBudget.load();
  if (budget >= 0) {
    DWORD allowed = budget < static_cast<long long>(size) ? static_cast<DWORD>(budget) : size;
    DWORD done = 0;
    bool ok = allowed == 0 || SystemFileIo().WriteFile(file, data, allowed, &done);
    writeBudget -= done;
    if (written != nullptr) *written = done;
    if (!ok) return false;
    if (done < size) {
      platform::SetLastError(errorCode);
      return false;
    }
    return true;
  }
  return SystemFileIo().WriteFile(file, data, size, written);
}

bool CFailingFileIo::SetFilePointer(platform::FileHandle file, int64_t distance, DWORD method,
                                    uint64_t* newPosition) {
  return SystemFileIo().SetFilePointer(file, distance, method, newPosition);
}

bool CFailingFileIo::GetFileSize(platform::FileHandle file, uint64_t* size) {
  return SystemFileIo().GetFileSize(file, size);
}

bool CFailingFileIo::FlushFileBuffers(platform::FileHandle file) {
  if (plan != nullptr && plan->Next(EFileCall::FLUSH) != CFaultPlan::EVerdict::PASS) {
    platform::SetLastError(errorCode);
    return false;
  }
  return SystemFileIo().FlushFileBuffers(file);
}

bool CFailingFileIo::CloseFile(platform::FileHandle file) {
  bool ok = SystemFileIo().CloseFile(file);
  if (failClose) {
    platform::SetLastError(errorCode);
    return false;
  }
  return ok;
}

bool CFailingFileIo::IsSameFile(platform::FileHandle a, platform::FileHandle b) {
  return SystemFileIo().IsSameFile(a, b);
}

bool CFailingFileIo::GetFileIdentity(platform::FileHandle file, platform::FileIdentity* identity) {
  return SystemFileIo().GetFileIdentity(file, identity);
}
