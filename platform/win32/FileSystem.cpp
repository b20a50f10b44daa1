// Windows backend of platform/FileSystem.h: CreateFileW (GENERIC_WRITE,
// FILE_SHARE_READ, CREATE_ALWAYS), WriteFile, CloseHandle, DeleteFileW,
// GetFileAttributesW and CreateDirectoryW.
//
// Win32 behaviour that shaped this file: CREATE_ALWAYS over an existing file
// succeeds but sets ERROR_ALREADY_EXISTS, so the caller's last error is
// restored on success; writes go through the shared WriteAll loop.

#include "platform/ErrorText.h"
#include "platform/FileSystem.h"
#include "platform/NoDestructor.h"
#include "platform/win32/WinApi.h"
#include "platform/win32/WriteAll.h"

namespace platform {
namespace {

bool IsOpen(FileHandle file) { return file != INVALID_FILE_HANDLE && file != 0; }

class CWin32FileSystem : public IFileSystem {
 public:
  FileHandle CreateFileAlways(const std::wstring& path) override {
    if (path.empty()) {
      ::SetLastError(ERROR_PATH_NOT_FOUND);
      return INVALID_FILE_HANDLE;
    }
    const DWORD saved = ::GetLastError();
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return INVALID_FILE_HANDLE;
    ::SetLastError(saved);
    return reinterpret_cast<FileHandle>(h);
  }

  bool WriteFile(FileHandle file, const void* data, DWORD size, DWORD* written) override {
    if (written != nullptr) *written = 0;
    if (!IsOpen(file)) {
      ::SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    return WriteAll(reinterpret_cast<HANDLE>(file), data, size, written);
  }

  bool CloseHandle(FileHandle file) override {
    if (!IsOpen(file)) {
      ::SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    return ::CloseHandle(reinterpret_cast<HANDLE>(file)) != FALSE;
  }

  bool DeleteFile(const std::wstring& path) override { return ::DeleteFileW(path.c_str()) != FALSE; }

  bool PathFileExists(const std::wstring& path) override {
    return !path.empty() && ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  bool CreateDirectory(const std::wstring& path) override {
    if (path.empty()) {
      ::SetLastError(ERROR_PATH_NOT_FOUND);
      return false;
    }
    return ::CreateDirectoryW(path.c_str(), nullptr) != FALSE;
  }
};

CWin32FileSystem& SystemFileSystemInstance() {
  static NoDestructor<CWin32FileSystem> s_instance;
  return *s_instance.get();
}

}  // namespace

IFileSystem& SystemFileSystem() { return SystemFileSystemInstance(); }

}  // namespace platform
