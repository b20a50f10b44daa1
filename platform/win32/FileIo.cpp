// Windows backend of platform/FileIo.h: CreateFileW with the caller's real
// sharing mode, ReadFile, WriteFile, SetFilePointerEx, GetFileSizeEx,
// FlushFileBuffers. Sharing is enforced by the system, so the posix
// backend's lock model is not needed here.
//
// Win32 behaviour that shaped this file:
//  - CreateFileW on a directory fails with ERROR_ACCESS_DENIED only when it
//    is opened for writing; for reading without FILE_FLAG_BACKUP_SEMANTICS it
//    also fails, but the backend checks the attributes first so the error is
//    always ERROR_ACCESS_DENIED, as the contract says.
//  - CREATE_ALWAYS on an existing file succeeds with ERROR_ALREADY_EXISTS as
//    the last error; the caller's last error is put back on success.
//  - ReadFile returns short counts on pipes and at the end; it is looped so
//    that a short read means the end of the file.
//  - Handles are created non-inheritable (null security attributes).
#include <atomic>

#include "platform/ErrorText.h"
#include "platform/FileIo.h"
#include "platform/NoDestructor.h"
#include "platform/win32/WinApi.h"
#include "platform/win32/WriteAll.h"

namespace platform {
namespace {

HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }
bool IsOpen(FileHandle file) { return file != INVALID_FILE_HANDLE && file != 0; }

// ReadFile / WriteFile take 32-bit counts: fine, every caller's size is a DWORD.
class CWin32FileIo : public IFileIo {
 public:
  FileHandle OpenFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition) override {
    if (path.empty()) {
      ::SetLastError(ERROR_PATH_NOT_FOUND);
      return INVALID_FILE_HANDLE;
    }
    if (disposition < DISPOSITION_CREATE_NEW || disposition > DISPOSITION_OPEN_ALWAYS) {
      ::SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_FILE_HANDLE;
    }
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      ::SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_FILE_HANDLE;
    }
    DWORD desired = 0;
    if ((access & FILE_ACCESS_READ) != 0) desired |= GENERIC_READ;
    if ((access & FILE_ACCESS_WRITE) != 0 || disposition == DISPOSITION_CREATE_ALWAYS) desired |= GENERIC_WRITE;
    DWORD shareMode = 0;
    if ((share & FILE_SHARE_READ_ACCESS) != 0) shareMode |= FILE_SHARE_READ;
    if ((share & FILE_SHARE_WRITE_ACCESS) != 0) shareMode |= FILE_SHARE_WRITE;
    // Deleting or renaming over an open file stays possible, as on posix.
    shareMode |= FILE_SHARE_DELETE;
    const DWORD saved = ::GetLastError();
    HANDLE h = ::CreateFileW(path.c_str(), desired, shareMode, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return INVALID_FILE_HANDLE;
    ::SetLastError(saved);
    return reinterpret_cast<FileHandle>(h);
  }

  bool ReadFile(FileHandle file, void* buffer, DWORD size, DWORD* read) override {
    if (read != nullptr) *read = 0;
    if (!IsOpen(file)) {
      ::SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    char* p = static_cast<char*>(buffer);
    DWORD done = 0;
    while (done < size) {
      DWORD n = 0;
      if (!::ReadFile(ToHandle(file), p + done, size - done, &n, nullptr)) {
        if (::GetLastError() == ERROR_HANDLE_EOF || ::GetLastError() == ERROR_BROKEN_PIPE) break;
        if (read != nullptr) *read = done;
        return false;
      }
      if (n == 0) break;
      done += n;
    }
    if (read != nullptr) *read = done;
    return true;
  }

  bool WriteFile(FileHandle file, const void* data, DWORD size, DWORD* written) override {
    if (written != nullptr) *written = 0;
    if (!IsOpen(file)) {
      ::SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    return WriteAll(ToHandle(file), data, size, written);
  }

  bool SetFilePointer(FileHandle file, int64_t distance, DWORD method, uint64_t* newPosition) override {
    if (!IsOpen(file)) {
      ::SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    if (method > MOVE_FROM_END) {
      ::SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    LARGE_INTEGER move;
    move.QuadPart = distance;
    LARGE_INTEGER result;
    // FILE_BEGIN, FILE_CURRENT and FILE_END have the values of MOVE_FROM_*;
    // a negative result fails with ERROR_NEGATIVE_SEEK, as the contract says.
    if (!::SetFilePointerEx(ToHandle(file), move, &result, method)) return false;
    if (newPosition != nullptr) *newPosition = static_cast<uint64_t>(result.QuadPart);
    return true;
  }

  bool GetFileSize(FileHandle file, uint64_t* size) override {
    LARGE_INTEGER value;
    if (!IsOpen(file)) {
      ::SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    if (!::GetFileSizeEx(ToHandle(file), &value)) return false;
    if (size != nullptr) *size = static_cast<uint64_t>(value.QuadPart);
    return true;
  }

  bool FlushFileBuffers(FileHandle file) override {
    if (!IsOpen(file)) {
      ::SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    return ::FlushFileBuffers(ToHandle(file)) != FALSE;
  }

  bool CloseFile(FileHandle file) override {
    if (!IsOpen(file)) {
      ::SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    return ::CloseHandle(ToHandle(file)) != FALSE;
  }

  bool IsSameFile(FileHandle a, FileHandle b) override {
    BY_HANDLE_FILE_INFORMATION ia;
    BY_HANDLE_FILE_INFORMATION ib;
    if (!IsOpen(a) || !IsOpen(b)) return false;
    if (!::GetFileInformationByHandle(ToHandle(a), &ia) || !::GetFileInformationByHandle(ToHandle(b), &ib))
      return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
  }

  bool GetFileIdentity(FileHandle file, FileIdentity* identity) override {
    BY_HANDLE_FILE_INFORMATION info;
    if (!IsOpen(file) || !::GetFileInformationByHandle(ToHandle(file), &info)) return false;
    identity->nVolume = info.dwVolumeSerialNumber;
    identity->nIndex = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    identity->nSize = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    identity->nWriteTime = static_cast<int64_t>((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                                info.ftLastWriteTime.dwLowDateTime);
    return true;
  }
};

CWin32FileIo& Instance() {
  static NoDestructor<CWin32FileIo> s_instance;
  return *s_instance.get();
}

std::atomic<IFileIo*> g_current{nullptr};

}  // namespace

IFileIo& SystemFileIo() { return Instance(); }
IFileIo* SetFileIoForTesting(IFileIo* io) { return g_current.exchange(io); }
IFileIo& CurrentFileIo() {
  IFileIo* io = g_current.load(std::memory_order_acquire);
  return io != nullptr ? *io : Instance();
}

}  // namespace platform
