// A file layer for tests that fails chosen operations of the framework file
// classes with a chosen Windows error and passes everything else to the real
// one. With a fault plan (support/FaultPlan.h) it also fails the k-th open,
// write or flush, or cuts the k-th write short. Install with ScopedFileIo.
// Single-threaded set-up only.
#ifndef VERSEWELL_TESTS_SUPPORT_FAILING_FILE_IO_H
#define VERSEWELL_TESTS_SUPPORT_FAILING_FILE_IO_H

#include <atomic>
#include <mutex>
#include <string>

#include "platform/FileIo.h"
#include "support/FaultPlan.h"

class CFailingFileIo : public platform::IFileIo {
 public:
  // Opens of paths that contain this text fail (empty: none).
  void FailOpenOf(const std::wstring& pathPart, DWORD error);
  // Writes fail once this many bytes in total have been written; the write
  // that crosses the limit writes up to it. Negative: no limit.
  std::atomic<long long> writeBudget{-1};
  std::atomic<bool> failReads{false};
  std::atomic<bool> failClose{false};
  std::atomic<DWORD> errorCode{112};  // ERROR_DISK_FULL
  std::atomic<int> openCalls{0};
  std::atomic<int> readCalls{0};
  std::atomic<DWORD> largestRead{0};  // the largest read asked for
  CFaultPlan* plan = nullptr;  // not owned; null: no planned faults

  platform::FileHandle OpenFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition) override;
  bool ReadFile(platform::FileHandle file, void* buffer, DWORD size, DWORD* read) override;
  bool WriteFile(platform::FileHandle file, const void* data, DWORD size, DWORD* written) override;
  bool SetFilePointer(platform::FileHandle file, int64_t distance, DWORD method, uint64_t* newPosition) override;
  bool GetFileSize(platform::FileHandle file, uint64_t* size) override;
  bool FlushFileBuffers(platform::FileHandle file) override;
  bool CloseFile(platform::FileHandle file) override;
  bool IsSameFile(platform::FileHandle a, platform::FileHandle b) override;
  bool GetFileIdentity(platform::FileHandle file, platform::FileIdentity* identity) override;

 private:
  std::mutex m_mutex;
  std::wstring m_failOpenPart;
  DWORD m_failOpenError = 0;
};

class ScopedFileIo {
 public:
  explicit ScopedFileIo(platform::IFileIo& io) : m_previous(platform::SetFileIoForTesting(&io)) {}
  ~ScopedFileIo() { platform::SetFileIoForTesting(m_previous); }
  ScopedFileIo(const ScopedFileIo&) = delete;
  ScopedFileIo& operator=(const ScopedFileIo&) = delete;

 private:
  platform::IFileIo* m_previous;
};

#endif
