// A file system for tests that fails chosen operations with a chosen Windows
// error code and passes everything else to the real one. With a fault plan
// (support/FaultPlan.h) it also fails the k-th file creation (an open),
// write or deletion, or cuts the k-th write short. Install with
// ScopedFileSystem. Single-threaded set-up only.
#ifndef VERSEWELL_TESTS_SUPPORT_FAILING_FILE_SYSTEM_H
#define VERSEWELL_TESTS_SUPPORT_FAILING_FILE_SYSTEM_H

#include <atomic>

#include "platform/FileSystem.h"
#include "support/FaultPlan.h"

class CFailingFileSystem : public platform::IFileSystem {
 public:
  std::atomic<bool> failCreateFile{false};
  std::atomic<bool> failWrite{false};
  std::atomic<bool> failDelete{false};
  std::atomic<bool> failCreateDirectory{false};
  std::atomic<DWORD> errorCode{5};  // ERROR_ACCESS_DENIED
  std::atomic<int> createFileCalls{0};
  CFaultPlan* plan = nullptr;  // not owned; null: no planned faults

  platform::FileHandle CreateFileAlways(const std::wstring& path) override;
  bool WriteFile(platform::FileHandle file, const void* data, DWORD size, DWORD* written) override;
  bool CloseHandle(platform::FileHandle file) override;
  bool DeleteFile(const std::wstring& path) override;
  bool PathFileExists(const std::wstring& path) override;
  bool CreateDirectory(const std::wstring& path) override;
};

class ScopedFileSystem {
 public:
  explicit ScopedFileSystem(platform::IFileSystem& fs) : m_previous(platform::SetFileSystemForTesting(&fs)) {}
  ~ScopedFileSystem() { platform::SetFileSystemForTesting(m_previous); }

 private:
  platform::IFileSystem* m_previous;
};

#endif
