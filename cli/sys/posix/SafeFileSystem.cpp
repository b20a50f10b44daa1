// POSIX backend of the file-safety calls (cli/sys/SafeFileSystem.h).
#include "cli/sys/SafeFileSystem.h"

#include "cli/sys/HostPlatform.h"

#include <fcntl.h>
#include <poll.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <system_error>
#include <vector>

namespace safesys {
namespace {

int Fd(Handle handle) { return static_cast<int>(handle); }

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

int OpenFolder(const std::string& folder, int& error) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) error = errno;
  return fd;
}

void Fill(const struct stat& st, SIdentity& identity) {
  identity.nDevice = static_cast<uint64_t>(st.st_dev);
  identity.nInode = static_cast<uint64_t>(st.st_ino);
  identity.nSize = static_cast<uint64_t>(st.st_size);
  identity.nModified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  identity.nChanged = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  identity.nLinks = static_cast<uint64_t>(st.st_nlink);
}

bool InGroup(gid_t gid) {
  if (getegid() == gid) return true;
  int count = getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  count = getgroups(count, groups.data());
  for (int i = 0; i < count; ++i)
    if (groups[static_cast<size_t>(i)] == gid) return true;
  return false;
}

// Copies every extended attribute, ACLs included (they are attributes here).
bool CopyAttributes(int from, int to, std::string& error) {
  ssize_t size = flistxattr(from, nullptr, 0);
  if (size < 0) return errno == ENOTSUP;  // a file system without attributes has none to keep
  std::vector<char> names(static_cast<size_t>(size) + 1);
  size = flistxattr(from, names.data(), names.size());
  if (size < 0) return errno == ENOTSUP;
  for (ssize_t at = 0; at < size;) {
    const char* name = names.data() + at;
    at += static_cast<ssize_t>(std::strlen(name)) + 1;
    ssize_t length = fgetxattr(from, name, nullptr, 0);
    if (length < 0) continue;  // removed meanwhile
    std::vector<char> value(static_cast<size_t>(length) + 1);
    length = fgetxattr(from, name, value.data(), value.size());
    if (length < 0) continue;
    if (fsetxattr(to, name, value.data(), static_cast<size_t>(length), 0) != 0) {
      error = std::string("cannot keep the extended attribute ") + name + ": " + ErrorText(errno);
      return false;
    }
  }
  return true;
}

}  // namespace

std::string ErrorText(int error) { return std::generic_category().message(error); }
bool IsAlreadyExists(int error) { return error == EEXIST; }
bool IsNotFound(int error) { return error == ENOENT; }
int NoSpaceError() { return ENOSPC; }
int NotRegularError() { return EINVAL; }

Handle CreateNew(const std::string& path, int& error) {
  int fd;
  do fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    error = errno;
    return NO_HANDLE;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

Handle OpenRegular(const std::string& path, bool forWriting, bool followLinks, int& error) {
  // O_NONBLOCK: opening a FIFO must not wait for its other end.
  int flags = (forWriting ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK | (followLinks ? 0 : O_NOFOLLOW);
  int fd;
  do fd = ::open(path.c_str(), flags);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    error = errno;
    if (error == ENXIO) error = NotRegularError();  // a FIFO without a reader
    return NO_HANDLE;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = S_ISDIR(st.st_mode) ? EISDIR : NotRegularError();
    ::close(fd);
    return NO_HANDLE;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

void Close(Handle handle) {
  if (handle != NO_HANDLE) ::close(Fd(handle));
}

long long Read(Handle handle, char* buffer, size_t size, int& error) {
  ssize_t n;
  do n = ::read(Fd(handle), buffer, size);
  while (n < 0 && errno == EINTR);
  if (n < 0) error = errno;
  return n;
}

bool WriteAll(Handle handle, const char* data, size_t size, int& error) {
  while (size > 0) {
    ssize_t n = ::write(Fd(handle), data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : ENOSPC;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool Seek(Handle handle, uint64_t position, int& error) {
  if (lseek(Fd(handle), static_cast<off_t>(position), SEEK_SET) < 0) {
    error = errno;
    return false;
  }
  return true;
}

bool Truncate(Handle handle, uint64_t size, int& error) {
  if (ftruncate(Fd(handle), static_cast<off_t>(size)) != 0) {
    error = errno;
    return false;
  }
  return true;
}

bool Sync(Handle handle, int& error) {
  int rc;
  do rc = fsync(Fd(handle));
  while (rc != 0 && errno == EINTR);
  if (rc != 0) error = errno;
  return rc == 0;
}

bool Identify(Handle handle, SIdentity& identity, int& error) {
  struct stat st {};
  if (fstat(Fd(handle), &st) != 0) {
    error = errno;
    return false;
  }
  Fill(st, identity);
  return true;
}

bool IdentifyPath(const std::string& path, SIdentity& identity, int& error) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) {
    error = errno;
    return false;
  }
  Fill(st, identity);
  return true;
}

bool Lock(Handle handle, bool wait, int& error) {
  int rc;
  do rc = flock(Fd(handle), LOCK_EX | (wait ? 0 : LOCK_NB));
  while (rc != 0 && errno == EINTR);
  if (rc != 0) error = errno;
  return rc == 0;
}

bool IsLockBusy(int error) { return error == EWOULDBLOCK || error == EAGAIN; }

bool Replace(const std::string& from, const std::string& to, int& error) {
  if (::rename(from.c_str(), to.c_str()) != 0) {
    error = errno;
    return false;
  }
  return SyncFolder(FolderOf(to), error);
}

bool Remove(const std::string& path, int& error) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    error = errno;
    return false;
  }
  return true;
}

Handle LockFolder(const std::string& folder, int& error) {
  int fd = OpenFolder(folder, error);
  if (fd < 0) return NO_HANDLE;
  if (!Lock(fd, false, error)) {
    ::close(fd);
    return NO_HANDLE;
  }
  return fd;
}

void UnlockFolder(Handle lock) { Close(lock); }

bool CanKeepOwner(Handle model) {
  struct stat st {};
  if (fstat(Fd(model), &st) != 0) return false;
  if (geteuid() == 0) return true;
  return st.st_uid == geteuid() && InGroup(st.st_gid);
}

bool KeepMetadata(Handle model, Handle copy, bool ownerOptional, std::string& error) {
  struct stat st {};
  if (fstat(Fd(model), &st) != 0) {
    error = "cannot examine the original: " + ErrorText(errno);
    return false;
  }
  // Owner first: changing it clears set-user-id bits, which the mode restores.
  if (fchown(Fd(copy), st.st_uid, st.st_gid) != 0 && !ownerOptional) {
    error = "cannot keep the owner and group: " + ErrorText(errno);
    return false;
  }
  if (fchmod(Fd(copy), st.st_mode & 07777) != 0) {
    error = "cannot keep the permissions: " + ErrorText(errno);
    return false;
  }
  if (!CopyAttributes(Fd(model), Fd(copy), error)) return false;
  int code = 0;
  SIdentity identity;
  Fill(st, identity);
  if (!SetModified(copy, identity, code)) {
    error = "cannot keep the modification time: " + ErrorText(code);
    return false;
  }
  return true;
}

bool SetModified(Handle handle, const SIdentity& identity, int& error) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(identity.nModified / 1000000000);
  times[1].tv_nsec = static_cast<long>(identity.nModified % 1000000000);
  if (futimens(Fd(handle), times) != 0) {
    error = errno;
    return false;
  }
  return true;
}

bool SyncFolder(const std::string& folder, int& error) {
  int fd = OpenFolder(folder, error);
  if (fd < 0) return false;
  bool ok = fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
  if (!ok) error = errno;
  ::close(fd);
  return ok;
}

int RuntimeDescriptor(Handle handle) { return ::dup(Fd(handle)); }

Handle OpenForReading(const std::string& path, int& error) {
  int fd;
  do fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    error = errno;
    return NO_HANDLE;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

Handle StandardInput() { return STDIN_FILENO; }

long long ReadUnlessStopped(Handle handle, char* buffer, size_t size, int& error) {
  for (;;) {
    if (hostplatform::StopRequested()) return -2;
    struct pollfd wait = {Fd(handle), POLLIN, 0};
    int ready = poll(&wait, 1, 200);
    if (ready < 0 && errno != EINTR) {
      error = errno;
      return -1;
    }
    if (ready <= 0) continue;
    ssize_t n = ::read(Fd(handle), buffer, size);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) error = errno;
    return n;
  }
}

std::string RandomCharacters() {
  static const char ALPHABET[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  unsigned char bytes[8];
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) std::abort();  // no random source: an unpredictable name cannot be made
    got += static_cast<size_t>(n);
  }
  std::string text;
  for (unsigned char b : bytes) text += ALPHABET[b % 36];
  return text;
}

int64_t FileClockNow() {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int64_t FileClockSecond() { return 1000000000; }

std::string ResolvedPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return std::string();
  std::string text(resolved);
  std::free(resolved);
  return text;
}

}  // namespace safesys
