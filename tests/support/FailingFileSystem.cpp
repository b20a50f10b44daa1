#include "support/FailingFileSystem.h"

#include "platform/ErrorText.h"

using platform::SystemFileSystem;

platform::FileHandle CFailingFileSystem::CreateFileAlways(const std::wstring& path) {
  ++createFileCalls;
  if (failCreateFile) {
    platform::SetLastError(errorCode);
    return platform::INVALID_FILE_HANDLE;
  }
  return SystemFileSystem().CreateFileAlways(path);
}

bool CFailingFileSystem::WriteFile(platform::FileHandle file, const void* data, DWORD size, DWORD* written) {
  if (failWrite) {
    if (written != nullptr) *written = 0;
    platform::SetLastError(errorCode);
    return false;
  }
  return SystemFileSystem().WriteFile(file, data, size, written);
}

bool CFailingFileSystem::CloseHandle(platform::FileHandle file) { return SystemFileSystem().CloseHandle(file); }

bool CFailingFileSystem::DeleteFile(const std::wstring& path) {
  if (failDelete) {
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
