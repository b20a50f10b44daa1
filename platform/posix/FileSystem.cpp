// posix backend of platform/FileSystem.h.
#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>


#include "platform/NoDestructor.h"
#include <cerrno>

#include "platform/ErrorText.h"
#include "platform/Path.h"
#include "platform/posix/WriteAll.h"

namespace platform {
namespace {

class CPosixFileSystem : public IFileSystem {
 public:
  FileHandle CreateFileAlways(const std::wstring& path) override {
    if (path.empty()) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return INVALID_FILE_HANDLE;
    }
    // Never through a link planted at the name, never a FIFO or device
    // (O_NONBLOCK: opening one must not wait); truncated only once it is
    // known to be a regular file.
    int fd = ::open(ToNativePath(path).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0) {
      SetLastError(errno == ENXIO || errno == ELOOP ? ERROR_ACCESS_DENIED : ErrorFromErrno(errno));
      return INVALID_FILE_HANDLE;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::ftruncate(fd, 0) != 0) {
      ::close(fd);
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_FILE_HANDLE;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (fd == 0) {
      // Callers treat the handle 0 as "no file", as Windows never returns
      // it; in a process without standard input open() hands out 0, so the
      // file is moved to a higher descriptor.
      int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 1);
      int savedErrno = errno;
      ::close(fd);
      if (moved < 0) {
        SetLastError(ErrorFromErrno(savedErrno));
        return INVALID_FILE_HANDLE;
      }
      fd = moved;
    }
    return static_cast<FileHandle>(fd);
  }
  bool WriteFile(FileHandle file, const void* data, DWORD size, DWORD* written) override {
    if (written != nullptr) *written = 0;
    if (file == INVALID_FILE_HANDLE || file == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    return WriteAll(static_cast<int>(file), data, size, written);
  }
  bool CloseHandle(FileHandle file) override {
    if (file == INVALID_FILE_HANDLE || file == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    return ::close(static_cast<int>(file)) == 0;
  }
  bool DeleteFile(const std::wstring& path) override {
    if (::unlink(ToNativePath(path).c_str()) != 0) {
      SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ErrorFromErrno(errno));
      return false;
    }
    return true;
  }
  bool PathFileExists(const std::wstring& path) override {
    struct stat st {};
    return !path.empty() && ::stat(ToNativePath(path).c_str(), &st) == 0;
  }
  bool CreateDirectory(const std::wstring& path) override {
    if (path.empty()) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return false;
    }
    if (::mkdir(ToNativePath(path).c_str(), 0755) != 0) {
      SetLastError(ErrorFromErrno(errno));
      return false;
    }
    return true;
  }
};

CPosixFileSystem& SystemFileSystemInstance() {
  static NoDestructor<CPosixFileSystem> s_instance;
  return *s_instance.get();
}

}  // namespace

IFileSystem& SystemFileSystem() { return SystemFileSystemInstance(); }

}  // namespace platform
