// What the Windows INI backend adds to Kernel32's private-profile calls:
// files without the UTF-16 mark become UTF-16 before the first write (every
// old entry kept), a bare file name means the Windows folder for every step
// of a call, a rename that another opener blocks is retried for a bounded
// time, two spellings of one file share one lock, a lock that cannot be
// made fails the call, and a copy that cannot be flushed to the disk never
// replaces the file.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "diag/TraceLevels.h"
#include "platform/PrivateProfile.h"
#include "platform/PrivateProfileTestSupport.h"
#include "platform/win32/ProfileKernelCalls.h"
#include "search/LocalCache.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"
// Last, after every platform header (see the file).
#include "platform/win32/WinApi.h"

using namespace profile_test;

namespace {

// `bytes` decoded from the ANSI code page, as Kernel32 reads a file
// without the mark.
std::wstring FromAnsi(const std::string& bytes) {
  const int n = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], n);
  return text;
}

const std::wstring NON_ASCII = L"Quill \u03A9mega \u65E5\u672C";

// The INI module's Kernel32 calls with one of them failing on request: the
// lock's mutex cannot be made, or the copy cannot be flushed. What the
// flush found on the disk when it was called is kept for the test.
class CFailingKernelCalls : public platform::IProfileKernelCalls {
 public:
  explicit CFailingKernelCalls(std::wstring file = std::wstring()) : m_file(std::move(file)) {}
  DWORD failMutex = 0;  // the error CreateNamedMutex fails with, 0 for none
  DWORD failFlush = 0;  // the same for FlushFile
  int flushes = 0;
  std::string fileAtFlush;  // the bytes of m_file when the flush came
  bool copyAtFlush = false;  // whether m_file's ".writing" copy existed then

  void* CreateNamedMutex(const wchar_t* name) override {
    if (failMutex == 0) return platform::SystemProfileKernelCalls().CreateNamedMutex(name);
    ::SetLastError(failMutex);
    return nullptr;
  }
  bool FlushFile(void* file) override {
    ++flushes;
    if (!m_file.empty()) {
      fileAtFlush = ReadFileBytes(ToUtf8(m_file));
      copyAtFlush = ::GetFileAttributesW((m_file + L".writing").c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    if (failFlush == 0) return platform::SystemProfileKernelCalls().FlushFile(file);
    ::SetLastError(failFlush);
    return false;
  }

 private:
  std::wstring m_file;
};

class ScopedKernelCalls {
 public:
  explicit ScopedKernelCalls(platform::IProfileKernelCalls& calls)
      : m_previous(platform::SetProfileKernelCallsForTesting(&calls)) {}
  ~ScopedKernelCalls() { platform::SetProfileKernelCallsForTesting(m_previous); }
  ScopedKernelCalls(const ScopedKernelCalls&) = delete;
  ScopedKernelCalls& operator=(const ScopedKernelCalls&) = delete;

 private:
  platform::IProfileKernelCalls* m_previous;
};

}  // namespace

TEST_F(PrivateProfileTest, AnsiFileKeepsEveryEntryAndTakesANonAsciiWrite) {
  const std::wstring file = FilePath();
  // A cache file another tool wrote in the ANSI code page, one name with a
  // byte above 0x7F.
  const std::string cafe = "Caf\xE9";
  WriteFileBytes(ToUtf8(file), "[Abba]\r\nArtistUrl=/abba\r\n[" + cafe + "]\r\nArtistUrl=/cafe\r\n[Queen]\r\nArtistUrl=/q\r\n");
  ASSERT_EQ(ReadValue(file, FromAnsi(cafe)), L"/cafe");

  ASSERT_TRUE(Write(file, NON_ASCII, L"/quill"));
  EXPECT_EQ(ReadValue(file, NON_ASCII), L"/quill");
  EXPECT_EQ(ReadValue(file, L"Abba"), L"/abba");
  EXPECT_EQ(ReadValue(file, FromAnsi(cafe)), L"/cafe");
  EXPECT_EQ(ReadValue(file, L"Queen"), L"/q");
  EXPECT_EQ(SectionNames(file), (std::vector<std::wstring>{L"Abba", FromAnsi(cafe), L"Queen", NON_ASCII}));
  const std::string bytes = Bytes();
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  const ParsedFile parsed = ParseStrict(bytes, false);
  ASSERT_TRUE(parsed.ok) << parsed.error;
  ASSERT_EQ(parsed.values.count(NON_ASCII), 1u);
  EXPECT_EQ(parsed.values.at(NON_ASCII).at(L"ArtistUrl"), L"/quill");
}

TEST_F(PrivateProfileTest, EmptyFileBecomesUtf16AtTheFirstWrite) {
  const std::wstring file = FilePath();
  WriteFileBytes(ToUtf8(file), "");
  ASSERT_TRUE(Write(file, NON_ASCII, L"/quill"));
  EXPECT_EQ(ReadValue(file, NON_ASCII), L"/quill");
  EXPECT_EQ(Bytes().substr(0, 2), "\xFF\xFE");
}

TEST_F(PrivateProfileTest, BareNameMeansTheWindowsFolderForEveryStep) {
  wchar_t folder[MAX_PATH];
  const UINT n = ::GetWindowsDirectoryW(folder, MAX_PATH);
  ASSERT_GT(n, 0u);
  const std::wstring name = L"VersewellBareName" + std::to_wstring(::GetCurrentProcessId()) + L".ini";
  const std::wstring inWindows = std::wstring(folder, n) + L"\\" + name;
  ::DeleteFileW(inWindows.c_str());
  wchar_t previous[MAX_PATH];
  ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH, previous), 0u);
  ASSERT_TRUE(::SetCurrentDirectoryW(m_dir.WPath().c_str()));

  const bool written = Write(name, NON_ASCII, L"/bare");
  const std::wstring readBare = ReadValue(name, NON_ASCII);
  const std::wstring readFull = ReadValue(inWindows, NON_ASCII);
  const std::vector<std::string> here = m_dir.List();
  ::SetCurrentDirectoryW(previous);
  ::DeleteFileW(inWindows.c_str());

  EXPECT_TRUE(written);
  EXPECT_EQ(readBare, L"/bare");
  EXPECT_EQ(readFull, L"/bare");
  EXPECT_TRUE(here.empty()) << "the current folder got " << here.front();
}

TEST_F(PrivateProfileTest, RenameBlockedByAnotherOpenerIsRetriedThenFails) {
  const std::wstring file = FilePath();
  ASSERT_TRUE(Write(file, L"Abba", L"/one"));
  // A reader that shares reading and writing but not deletion, as virus
  // scanners and indexers open files: the rename cannot replace the file.
  auto block = [&] {
    return ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  HANDLE reader = block();
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  // Let go while the write waits: the write goes through.
  std::thread release([reader] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::CloseHandle(reader);
  });
  const bool second = Write(file, L"Abba", L"/two");
  release.join();
  EXPECT_TRUE(second);
  EXPECT_EQ(ReadValue(file, L"Abba"), L"/two");

  // Held for good: the write fails with the sharing error, the file stays.
  reader = block();
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  const bool third = Write(file, L"Abba", L"/three");
  const DWORD error = ::GetLastError();
  ::CloseHandle(reader);
  EXPECT_FALSE(third);
  EXPECT_TRUE(error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) << error;
  EXPECT_EQ(ReadValue(file, L"Abba"), L"/two");
  EXPECT_EQ(m_dir.List(), std::vector<std::string>{"A.ini"});
}

// The two writers of TwoProcessesWritingOneFileLoseNothing, one naming the
// file by its path and one by the "\\?\" form of it: one lock for both.
TEST(Kernel32ProfileProcesses, TwoSpellingsOfOneFileShareOneLock) {
  CTempDir dir;
  const std::string path = dir.File("T.ARTISTCACHE");
  CChildProcess first("ProfileSharedWriter", {path, "0"});
  CChildProcess second("ProfileSharedWriter", {"\\\\?\\" + path, "1"});
  ASSERT_TRUE(first.Started());
  ASSERT_TRUE(second.Started());
  for (CChildProcess* child : {&first, &second}) {
    const CChildExit exit = child->Wait();
    ASSERT_FALSE(exit.bKilled);
    EXPECT_EQ(exit.nCode, 0);
  }
  const ParsedFile parsed = ParseStrict(ReadFileBytes(path), false);
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.values.size(), 2u * 150 + 7);
  EXPECT_EQ(dir.List(), std::vector<std::string>{"T.ARTISTCACHE"});
}

TEST_F(PrivateProfileTest, LockThatCannotBeMadeFailsEveryCallAndTouchesNothing) {
  const std::wstring file = FilePath();
  ASSERT_TRUE(Write(file, L"Abba", L"/one"));
  const std::string before = Bytes();
  CFailingKernelCalls calls;
  calls.failMutex = ERROR_NOT_ENOUGH_MEMORY;
  bool written = true;
  DWORD writeError = 0, readError = 0, namesError = 0;
  std::wstring read;
  std::vector<std::wstring> names;
  {
    ScopedKernelCalls scoped(calls);
    written = Write(file, L"Abba", L"/two");
    writeError = ::GetLastError();
    read = ReadValue(file, L"Abba");
    readError = ::GetLastError();
    names = SectionNames(file);
    namesError = ::GetLastError();
  }
  // No call goes on unlocked: each fails with the creation's error.
  EXPECT_FALSE(written);
  EXPECT_EQ(writeError, static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(read, L"");
  EXPECT_EQ(readError, static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(namesError, static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(Bytes(), before);
  EXPECT_EQ(ReadValue(file, L"Abba"), L"/one");
}

TEST(Kernel32ProfileCache, LockThatCannotBeMadeCostsTheCacheWriteWithATraceLine) {
  CTempDir root;
  CLocalCache cache(CString(root.WPath()), L"Versewell", L"ID42");
  CTraceCapture capture(TRACE_DEBUG);
  CFailingKernelCalls calls;
  calls.failMutex = ERROR_NOT_ENOUGH_MEMORY;
  bool written = true;
  {
    ScopedKernelCalls scoped(calls);
    written = cache.WriteArtistUrl(L"Abba", L"/x");
  }
  EXPECT_FALSE(written);
  EXPECT_EQ(capture.Count(L"WriteArtistUrl to LocalCache fails for: Abba", TRACE_DEBUG), 1);
  CString url;
  EXPECT_FALSE(cache.ReadArtistUrl(L"Abba", url, 0.0f));
  EXPECT_TRUE(cache.WriteArtistUrl(L"Abba", L"/x"));  // the lock works again
}

TEST_F(PrivateProfileTest, CopyIsFlushedBeforeTheRenameAndAFailedFlushKeepsTheOriginal) {
  const std::wstring file = FilePath();
  ASSERT_TRUE(Write(file, L"Abba", L"/one"));
  const std::string before = Bytes();

  // A write that succeeds flushed its copy while the file still held the
  // old text: the flush came before the rename.
  CFailingKernelCalls watching(file);
  {
    ScopedKernelCalls scoped(watching);
    ASSERT_TRUE(Write(file, L"Abba", L"/two"));
  }
  EXPECT_EQ(watching.flushes, 1);
  EXPECT_TRUE(watching.copyAtFlush);
  EXPECT_EQ(watching.fileAtFlush, before);
  EXPECT_EQ(ReadValue(file, L"Abba"), L"/two");

  // A flush that fails fails the write with its error; the file stays as it
  // was and no copy is left behind.
  const std::string second = Bytes();
  CFailingKernelCalls failing(file);
  failing.failFlush = ERROR_IO_DEVICE;
  bool written = true;
  DWORD error = 0;
  {
    ScopedKernelCalls scoped(failing);
    written = Write(file, L"Abba", L"/three");
    error = ::GetLastError();
  }
  EXPECT_FALSE(written);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_IO_DEVICE));
  EXPECT_EQ(Bytes(), second);
  EXPECT_EQ(ReadValue(file, L"Abba"), L"/two");
  EXPECT_EQ(m_dir.List(), std::vector<std::string>{"A.ini"});
}
