#include "support/FailingFileSystem.h"

#include "platform/ErrorText.h"

using platform::SystemFileSystem;

platform::FileHandle CFailingFileSystem::CreateFileAlways(const std::wstring& path) {
  ++createFileCalls;
  if (failCreateFile || (plan != nullptr && plan->Next(EFileCall::OPEN) != CFaultPlan::EVerdict::PASS)) {
    platform::SetLastError(errorCode);
    return platform::INVALID_FILE_HANDLE;
  }
  return SystemFileSystem().CreateFileAlways(path);
}

bool CFailingFileSystem::WriteFile(platform::FileHandle file, const void* data, DWORD size, DWORD* written) {
  const CFaultPlan::EVerdict verdict = plan != nullptr ? plan->Next(EFileCall::WRITE) : CFaultPlan::EVerdict::PASS;
  if (verdict != CFaultPlan::EVerdict::PASS) {
    DWORD done = 0;
    if (verdict == CFaultPlan::EVerdict::CUT_SHORT && CutShortSize(size) > 0)
      SystemFileSystem().WriteFile(file, data, CutShortSize(size), &done);
    if (written != nullptr) *written = done;
    platform::SetLastError(errorCode);
    return false;
  }
  if (failWrite) {
    if (written != nullptr) *written = 0;
    platform::SetLastError(errorCode);
    return false;
  }
  return SystemFileSystem().WriteFile(file, data, size, written);
}

bool CFailingFileSystem::CloseHandle(platform::FileHandle file) { return SystemFileSystem().CloseHandle(file); }

bool CFailingFileSystem::DeleteFile(const std::wstring& path) {
  if (failDelete || (plan != nullptr && plan->Next(EFileCall::REMOVE) != CFaultPlan::EVerdict::PASS)) {
    platform::SetLastError(errorCode);
    return false;
  }
  return SystemFileSystem().DeleteFile(path);
}

bool CFailingFileSystem::PathFileExists(const std::wstring& path) { return SystemFileSystem().PathFileExists(path); }

bool CFailingFileSystem::CreateDirectory(const std::wstring& path) {
  if (failCreateDirectory) {
    platform::SetLastError(errorCode);
    return false;
  }
  return SystemFileSystem().CreateDirectory(path);
}
