// Windows backend of the file-safety calls (cli/sys/SafeFileSystem.h):
// CREATE_NEW with FILE_FLAG_OPEN_REPARSE_POINT, so no reparse point (link,
// junction) at an invented name is ever followed; only disk files are
// opened; MoveFileExW with MOVEFILE_WRITE_THROUGH after FlushFileBuffers;
// LockFileEx for the advisory locks. Owner and ACL: a new file takes the
// folder's inherited ACL, and the original's security descriptor (owner,
// group, DACL) is copied onto it where the process may.
#define _CRT_RAND_S
#include "cli/sys/SafeFileSystem.h"

#include "cli/sys/HostPlatform.h"

#include <windows.h>
#include <aclapi.h>

#include <io.h>

#include <cstdlib>
#include <cwchar>
#include <string>

namespace safesys {
namespace {

HANDLE H(Handle handle) { return reinterpret_cast<HANDLE>(handle); }
Handle FromHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? NO_HANDLE : reinterpret_cast<Handle>(handle);
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
  return wide;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &narrow[0], n, nullptr, nullptr);
  return narrow;
}

const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

int64_t Ticks(const FILETIME& time) {
  return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

bool Fill(HANDLE file, SIdentity& identity, int& error) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) {
    error = static_cast<int>(GetLastError());
    return false;
  }
  identity.nDevice = info.dwVolumeSerialNumber;
  identity.nInode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  identity.nSize = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  identity.nModified = Ticks(info.ftLastWriteTime);
  identity.nChanged = 0;
  identity.nLinks = info.nNumberOfLinks;
  return true;
}

}  // namespace

std::string ErrorText(int error) {
  wchar_t* buffer = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, static_cast<DWORD>(error), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                           reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = n > 0 && buffer != nullptr ? std::wstring(buffer, n) : L"Windows error " + std::to_wstring(error);
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L'.')) text.pop_back();
  return Narrow(text);
}

bool IsAlreadyExists(int error) { return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS; }
bool IsNotFound(int error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }
int NoSpaceError() { return ERROR_DISK_FULL; }
int NotRegularError() { return ERROR_BAD_FILE_TYPE; }

Handle CreateNew(const std::string& path, int& error) {
  HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, SHARE_ALL, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) error = static_cast<int>(GetLastError());
  return FromHandle(file);
}

Handle OpenRegular(const std::string& path, bool forWriting, bool followLinks, int& error) {
  DWORD access = GENERIC_READ | (forWriting ? GENERIC_WRITE : 0);
  DWORD flags = FILE_ATTRIBUTE_NORMAL | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE file = CreateFileW(Wide(path).c_str(), access, SHARE_ALL, nullptr, OPEN_EXISTING, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = static_cast<int>(GetLastError());
    return NO_HANDLE;
  }
  BY_HANDLE_FILE_INFORMATION info;
  // A pipe or a device is not a disk file; a reparse point opened as itself
  // is not the file the name promised.
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    CloseHandle(file);
    error = NotRegularError();
    return NO_HANDLE;
  }
  return FromHandle(file);
}

void Close(Handle handle) {
  if (handle != NO_HANDLE) CloseHandle(H(handle));
}

long long Read(Handle handle, char* buffer, size_t size, int& error) {
  DWORD want = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
  DWORD got = 0;
  if (!ReadFile(H(handle), buffer, want, &got, nullptr)) {
    DWORD code = GetLastError();
    if (code == ERROR_BROKEN_PIPE) return 0;  // the writer closed a pipe: the end
    error = static_cast<int>(code);
    return -1;
  }
  return got;
}

bool WriteAll(Handle handle, const char* data, size_t size, int& error) {
  while (size > 0) {
    DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(H(handle), data, chunk, &written, nullptr) || written == 0) {
      error = written == 0 && GetLastError() == 0 ? ERROR_DISK_FULL : static_cast<int>(GetLastError());
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

bool Seek(Handle handle, uint64_t position, int& error) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(position);
  if (!SetFilePointerEx(H(handle), to, nullptr, FILE_BEGIN)) {
    error = static_cast<int>(GetLastError());
    return false;
  }
  return true;
}

bool Truncate(Handle handle, uint64_t size, int& error) {
  if (!Seek(handle, size, error)) return false;
  if (!SetEndOfFile(H(handle))) {
    error = static_cast<int>(GetLastError());
    return false;
  }
  return true;
}

bool Sync(Handle handle, int& error) {
  if (!FlushFileBuffers(H(handle))) {
    error = static_cast<int>(GetLastError());
    return false;
  }
  return true;
}

bool Identify(Handle handle, SIdentity& identity, int& error) { return Fill(H(handle), identity, error); }

bool IdentifyPath(const std::string& path, SIdentity& identity, int& error) {
  HANDLE file = CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = static_cast<int>(GetLastError());
    return false;
  }
  bool ok = Fill(file, identity, error);
  CloseHandle(file);
  return ok;
}

bool Lock(Handle handle, bool wait, int& error) {
  OVERLAPPED where = {};
  DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
  if (!LockFileEx(H(handle), flags, 0, MAXDWORD, MAXDWORD, &where)) {
    error = static_cast<int>(GetLastError());
    return false;
  }
  return true;
}

bool IsLockBusy(int error) { return error == ERROR_LOCK_VIOLATION || error == ERROR_SHARING_VIOLATION; }

bool Replace(const std::string& from, const std::string& to, int& error) {
  if (!MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = static_cast<int>(GetLastError());
    return false;
  }
  return true;
}

bool Remove(const std::string& path, int& error) {
  if (!DeleteFileW(Wide(path).c_str())) {
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) return true;
    error = static_cast<int>(code);
    return false;
  }
  return true;
}

Handle LockFolder(const std::string& folder, int& error) {
  HANDLE directory = CreateFileW(Wide(folder).c_str(), FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (directory == INVALID_HANDLE_VALUE) {
    error = static_cast<int>(GetLastError());
    return NO_HANDLE;
  }
  BY_HANDLE_FILE_INFORMATION info;
  BOOL known = GetFileInformationByHandle(directory, &info);
  error = static_cast<int>(GetLastError());
  CloseHandle(directory);
  if (!known) return NO_HANDLE;
  wchar_t name[96];
  swprintf(name, 96, L"Local\\versewell-folder-%08lx-%08lx%08lx", static_cast<unsigned long>(info.dwVolumeSerialNumber),
           static_cast<unsigned long>(info.nFileIndexHigh), static_cast<unsigned long>(info.nFileIndexLow));
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
  if (mutex == nullptr) {
    error = static_cast<int>(GetLastError());
    return NO_HANDLE;
  }
  // WAIT_ABANDONED: the run that held it ended without letting go; ours now.
  DWORD waited = WaitForSingleObject(mutex, 0);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    CloseHandle(mutex);
    error = ERROR_LOCK_VIOLATION;
    return NO_HANDLE;
  }
  return reinterpret_cast<Handle>(mutex);
}

void UnlockFolder(Handle lock) {
  if (lock == NO_HANDLE) return;
  ReleaseMutex(H(lock));
  CloseHandle(H(lock));
}

// Windows keeps the owner when the security descriptor is copied; whether
// that may be done shows only when it is tried.
bool CanKeepOwner(Handle) { return true; }

bool KeepMetadata(Handle model, Handle copy, bool ownerOptional, std::string& error) {
  PSID owner = nullptr, group = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  if (GetSecurityInfo(H(model), SE_FILE_OBJECT, what, &owner, &group, &dacl, nullptr, &descriptor) == ERROR_SUCCESS) {
    DWORD rc = SetSecurityInfo(H(copy), SE_FILE_OBJECT, what, owner, group, dacl, nullptr);
    if (rc != ERROR_SUCCESS && !ownerOptional) {
      rc = SetSecurityInfo(H(copy), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl, nullptr);
      if (rc != ERROR_SUCCESS) {
        LocalFree(descriptor);
        error = "cannot keep the owner and access list: " + ErrorText(static_cast<int>(rc));
        return false;
      }
    }
    LocalFree(descriptor);
  }
  int code = 0;
  SIdentity identity;
  if (!Fill(H(model), identity, code) || !SetModified(copy, identity, code)) {
    error = "cannot keep the modification time: " + ErrorText(code);
    return false;
  }
  return true;
}

bool SetModified(Handle handle, const SIdentity& identity, int& error) {
  FILETIME written;
  written.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(identity.nModified) & 0xFFFFFFFFu);
  written.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(identity.nModified) >> 32);
  if (!SetFileTime(H(handle), nullptr, nullptr, &written)) {
    error = static_cast<int>(GetLastError());
    return false;
  }
  return true;
}

// A rename made with MOVEFILE_WRITE_THROUGH is durable when it returns.
bool SyncFolder(const std::string&, int&) { return true; }

int RuntimeDescriptor(Handle handle) {
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), H(handle), GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
    return -1;
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(copy), 0);
  if (fd < 0) CloseHandle(copy);
  return fd;
}

Handle OpenForReading(const std::string& path, int& error) {
  HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) error = static_cast<int>(GetLastError());
  return FromHandle(file);
}

Handle StandardInput() { return FromHandle(GetStdHandle(STD_INPUT_HANDLE)); }

// A console or pipe read cannot be abandoned here; the stop flag is looked
// at between reads.
long long ReadUnlessStopped(Handle handle, char* buffer, size_t size, int& error) {
  if (hostplatform::StopRequested()) return -2;
  return Read(handle, buffer, size, error);
}

std::string RandomCharacters() {
  static const char ALPHABET[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string text;
  for (int i = 0; i < 8; ++i) {
    unsigned int value = 0;
    if (rand_s(&value) != 0) std::abort();  // no random source: an unpredictable name cannot be made
    text += ALPHABET[value % 36];
  }
  return text;
}

int64_t FileClockNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return Ticks(now);
}

int64_t FileClockSecond() { return 10000000; }

std::string ResolvedPath(const std::string& path) {
  HANDLE file = CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  wchar_t buffer[32768];
  DWORD n = GetFinalPathNameByHandleW(file, buffer, 32768, FILE_NAME_NORMALIZED);
  CloseHandle(file);
  if (n == 0 || n >= 32768) return std::string();
  std::wstring text(buffer, n);
  if (text.compare(0, 4, L"\\\\?\\") == 0) text.erase(0, 4);
  return Narrow(text);
}

}  // namespace safesys
