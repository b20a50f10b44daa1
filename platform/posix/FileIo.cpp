// posix backend of platform/FileIo.h.
//
// Windows sharing is modelled with advisory flock() locks taken right after
// the open, on the open file description: an opener that denies others
// writing takes a shared lock when it only reads and an exclusive lock when
// it writes itself; an opener that denies reading takes an exclusive lock;
// an opener that denies nothing takes no lock. Openers that deny something
// therefore exclude each other exactly as on Windows (two deny-write readers
// coexist, a deny-write writer excludes every other deny-write opener),
// within one process as well as across processes. Programs that take no
// locks are not held off: the model is advisory.
#include "platform/FileIo.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/ErrorText.h"
#include "platform/NoDestructor.h"
#include "platform/Path.h"
#include "platform/posix/WriteAll.h"

namespace platform {
namespace {

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A missing file in an existing folder and a missing folder are different
// errors on Windows; ENOENT covers both.
DWORD OpenError(int err, const std::string& nativePath) {
  if (err == ENOENT) {
    std::string::size_type slash = nativePath.rfind('/');
    std::string parent = slash == std::string::npos ? "." : (slash == 0 ? "/" : nativePath.substr(0, slash));
    return IsDirectory(parent) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
  }
  if (err == EMFILE || err == ENFILE) return ERROR_TOO_MANY_OPEN_FILES;
  return ErrorFromErrno(err);
}

int LockFor(DWORD access, DWORD share) {
  const bool deniesRead = (share & FILE_SHARE_READ_ACCESS) == 0;
  const bool deniesWrite = (share & FILE_SHARE_WRITE_ACCESS) == 0;
  if (deniesRead) return LOCK_EX;
  if (deniesWrite) return (access & FILE_ACCESS_WRITE) != 0 ? LOCK_EX : LOCK_SH;
  return 0;
}

bool IsOpen(FileHandle file) { return file != INVALID_FILE_HANDLE && file >= 0; }

class CPosixFileIo : public IFileIo {
 public:
  FileHandle OpenFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition) override {
    if (path.empty()) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return INVALID_FILE_HANDLE;
    }
    const std::string native = ToNativePath(path);
    const bool truncate = disposition == DISPOSITION_CREATE_ALWAYS;
    bool wantsRead = (access & FILE_ACCESS_READ) != 0;
    bool wantsWrite = (access & FILE_ACCESS_WRITE) != 0;
    // A reader that truncates still needs a writable descriptor.
    if (truncate && !wantsWrite) wantsRead = wantsWrite = true;
    int flags = O_CLOEXEC | (wantsRead && wantsWrite ? O_RDWR : wantsWrite ? O_WRONLY : O_RDONLY);
    switch (disposition) {
      case DISPOSITION_CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
      case DISPOSITION_CREATE_ALWAYS:
      case DISPOSITION_OPEN_ALWAYS: flags |= O_CREAT; break;
      case DISPOSITION_OPEN_EXISTING: break;
      default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_FILE_HANDLE;
    }
    // Never O_TRUNC here: a file that another opener holds must not be
    // truncated before the sharing check below has refused this open.
    // O_NONBLOCK: a FIFO or device at the name is refused below, never
    // waited on. A file made new is never made through a link.
    if (disposition == DISPOSITION_CREATE_NEW) flags |= O_NOFOLLOW;
    int fd = ::open(native.c_str(), flags | O_NONBLOCK, 0666);
    if (fd < 0) {
      SetLastError(errno == ENXIO ? ERROR_ACCESS_DENIED : OpenError(errno, native));
      return INVALID_FILE_HANDLE;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_FILE_HANDLE;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (int lock = LockFor(access, share)) {
      while (::flock(fd, lock | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        int err = errno;
        ::close(fd);
        SetLastError(err == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : ErrorFromErrno(err));
        return INVALID_FILE_HANDLE;
      }
    }
    if (truncate && ::ftruncate(fd, 0) != 0) {
      int err = errno;
      ::close(fd);
      SetLastError(ErrorFromErrno(err));
      return INVALID_FILE_HANDLE;
    }
    return static_cast<FileHandle>(fd);
  }

  bool ReadFile(FileHandle file, void* buffer, DWORD size, DWORD* read) override {
    if (read != nullptr) *read = 0;
    if (!IsOpen(file)) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    char* p = static_cast<char*>(buffer);
    DWORD done = 0;
    while (done < size) {
      ssize_t n = ::read(static_cast<int>(file), p + done, size - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        SetLastError(errno == EIO ? ERROR_READ_FAULT : ErrorFromErrno(errno));
        if (read != nullptr) *read = done;
        return false;
      }
      if (n == 0) break;
      done += static_cast<DWORD>(n);
    }
    if (read != nullptr) *read = done;
    return true;
  }

  bool WriteFile(FileHandle file, const void* data, DWORD size, DWORD* written) override {
    if (written != nullptr) *written = 0;
    if (!IsOpen(file)) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    return WriteAll(static_cast<int>(file), data, size, written);
  }

  bool SetFilePointer(FileHandle file, int64_t distance, DWORD method, uint64_t* newPosition) override {
    if (!IsOpen(file)) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    int whence = method == MOVE_FROM_BEGIN ? SEEK_SET : method == MOVE_FROM_CURRENT ? SEEK_CUR : SEEK_END;
    if (method > MOVE_FROM_END) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    off_t pos = ::lseek(static_cast<int>(file), static_cast<off_t>(distance), whence);
    if (pos < 0) {
      SetLastError(errno == EINVAL ? ERROR_NEGATIVE_SEEK : ErrorFromErrno(errno));
      return false;
    }
    if (newPosition != nullptr) *newPosition = static_cast<uint64_t>(pos);
    return true;
  }

  bool GetFileSize(FileHandle file, uint64_t* size) override {
    struct stat st {};
    if (!IsOpen(file) || ::fstat(static_cast<int>(file), &st) != 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    if (size != nullptr) *size = static_cast<uint64_t>(st.st_size);
    return true;
  }

  bool FlushFileBuffers(FileHandle file) override {
    if (!IsOpen(file)) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    if (::fsync(static_cast<int>(file)) != 0 && errno != EINVAL && errno != EROFS) {
      SetLastError(ErrorFromErrno(errno));
      return false;
    }
    return true;
  }

  bool CloseFile(FileHandle file) override {
    if (!IsOpen(file)) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    // On Linux the descriptor is released even when close reports an error,
    // so it is never closed twice.
    if (::close(static_cast<int>(file)) != 0 && errno != EINTR) {
      SetLastError(errno == EIO ? ERROR_WRITE_FAULT : ErrorFromErrno(errno));
      return false;
    }
    return true;
  }

  bool IsSameFile(FileHandle a, FileHandle b) override {
    struct stat sa {}, sb {};
    if (!IsOpen(a) || !IsOpen(b)) return false;
    if (::fstat(static_cast<int>(a), &sa) != 0 || ::fstat(static_cast<int>(b), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  }

  bool GetFileIdentity(FileHandle file, FileIdentity* identity) override {
    struct stat st {};
    if (!IsOpen(file) || ::fstat(static_cast<int>(file), &st) != 0) return false;
    identity->nVolume = static_cast<uint64_t>(st.st_dev);
    identity->nIndex = static_cast<uint64_t>(st.st_ino);
    identity->nSize = static_cast<uint64_t>(st.st_size);
    identity->nWriteTime = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
  }
};

CPosixFileIo& SystemFileIoInstance() {
  static NoDestructor<CPosixFileIo> s_instance;
  return *s_instance.get();
}
std::atomic<IFileIo*> g_currentFileIo{nullptr};

}  // namespace

IFileIo& SystemFileIo() { return SystemFileIoInstance(); }
IFileIo* SetFileIoForTesting(IFileIo* io) { return g_currentFileIo.exchange(io); }
IFileIo& CurrentFileIo() {
  IFileIo* io = g_currentFileIo.load(std::memory_order_acquire);
  return io != nullptr ? *io : SystemFileIoInstance();
}

}  // namespace platform
