#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "platform/Array.h"
#include "platform/ErrorText.h"
#include "platform/FileSystem.h"
#include "platform/Module.h"
#include "platform/Path.h"
#include "platform/Process.h"
#include "platform/Sync.h"
#include "support/TempDir.h"

TEST(Platform, CriticalSectionIsReentrantAndFullyReleasedByTheOuterUnlock) {
  // The nested lock runs on a worker so that a lock that is not re-entrant
  // shows as a missed deadline rather than a hung test program.
  CCriticalSection cs;
  std::promise<void> nested;
  std::promise<void> release;
  std::thread owner([&] {
    CSingleLock outer(cs);
    {
      CSingleLock inner(cs);
      nested.set_value();
    }
    // Still held by the outer lock: another thread must wait for it.
    release.get_future().wait();
  });
  std::future<void> nestedDone = nested.get_future();
  ASSERT_EQ(std::future_status::ready, nestedDone.wait_for(std::chrono::seconds(30)))
      << "a second lock on the owning thread blocked";
  std::atomic<bool> taken{false};
  std::thread other([&] {
    CSingleLock lock(cs);
    taken = true;
  });
  release.set_value();
  owner.join();
  other.join();  // ends only once both of the owner's locks were released
  EXPECT_TRUE(taken.load());
}

TEST(Platform, InterlockedCompareExchangeReturnsPreviousValue) {
  std::atomic<DWORD> word{0};
  EXPECT_EQ(platform::InterlockedCompareExchange(word, 7, 0), 0u);
  EXPECT_EQ(word.load(), 7u);
  EXPECT_EQ(platform::InterlockedCompareExchange(word, 9, 0), 7u);
  EXPECT_EQ(word.load(), 7u);
}

TEST(Platform, ThreadIdsAreNonZeroAndDistinct) {
  DWORD main = platform::GetCurrentThreadId();
  DWORD other = 0;
  std::thread([&] { other = platform::GetCurrentThreadId(); }).join();
  EXPECT_NE(main, 0u);
  EXPECT_NE(other, 0u);
  EXPECT_NE(main, other);
}

TEST(Platform, ArrayRemovesAndReleasesSpareStorage) {
  CArray<int> a;
  for (int i = 0; i < 10; ++i) a.SetAtGrow(a.GetSize(), i);
  a.RemoveAt(0);
  a.FreeExtra();
  EXPECT_EQ(a.GetSize(), 9);
  EXPECT_EQ(a[0], 1);
  EXPECT_EQ(a.GetCapacity(), 9u);
}

TEST(Platform, SystemTextsEndInALineBreakAndUnknownCodesHaveNone) {
  if (platform::PATH_SEPARATOR == L'/') {
    // posix: the backend's own English table.
    EXPECT_EQ(platform::FormatSystemMessage(0), L"The operation completed successfully.\r\n");
    EXPECT_EQ(platform::FormatSystemMessage(3), L"The system cannot find the path specified.\r\n");
  }
  // Every backend: each code the system produces has a text ending in CR LF.
  // On Windows the words are the system's own (Wine's differ from Windows':
  // "Path not found." for 3), and the WinHTTP codes, which Wine's winhttp.dll
  // has no texts for, fall back to the shared English table.
  for (DWORD code : {0u, 2u, 3u, 5u, 87u, 122u, 12002u, 12007u, 12029u, 12030u, 12152u, 12156u, 12175u}) {
    const std::wstring text = platform::FormatSystemMessage(code);
    ASSERT_GE(text.size(), 3u) << code;
    EXPECT_EQ(text.substr(text.size() - 2), L"\r\n") << code;
  }
  EXPECT_TRUE(platform::FormatSystemMessage(0xDEADBEEF).empty());
}

TEST(Platform, CreateDirectoryReportsWindowsCodes) {
  CTempDir dir;
  std::wstring sub = dir.WPath() + L"/a";
  EXPECT_TRUE(platform::CreateDirectory(sub));
  EXPECT_FALSE(platform::CreateDirectory(sub));
  EXPECT_EQ(platform::GetLastError(), platform::ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(platform::CreateDirectory(dir.WPath() + L"/missing/b"));
  EXPECT_EQ(platform::GetLastError(), platform::ERROR_PATH_NOT_FOUND);
}

TEST(Platform, CreateFileAlwaysTruncatesAnExistingFile) {
  CTempDir dir;
  WriteFileBytes(dir.File("f"), "old contents");
  platform::FileHandle h = platform::CreateFileAlways(FromUtf8(dir.File("f")));
  ASSERT_NE(h, platform::INVALID_FILE_HANDLE);
  DWORD written = 0;
  EXPECT_TRUE(platform::WriteFile(h, "ab", 2, &written));
  EXPECT_EQ(written, 2u);
  platform::CloseHandle(h);
  EXPECT_EQ(ReadFileBytes(dir.File("f")), "ab");
  EXPECT_TRUE(platform::DeleteFile(FromUtf8(dir.File("f"))));
  EXPECT_FALSE(platform::PathFileExists(FromUtf8(dir.File("f"))));
}

TEST(Platform, NativePathsRoundTripNonAsciiNames) {
  std::wstring name = L"Bj\x00F6rk \x6F22\x5B57 \x1F3B5";
  EXPECT_EQ(platform::FromNativePath(platform::ToNativePath(name)), name);
  EXPECT_EQ(platform::FromNativePath("a\xFF" "b"), L"a\xFFFD" L"b");
}

TEST(Platform, OwnModulePathNamesAnExistingFile) {
  std::wstring path = platform::GetOwnModulePath();
  ASSERT_FALSE(path.empty());
  EXPECT_TRUE(platform::PathFileExists(path));
}
