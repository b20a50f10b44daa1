// Starting a native Linux program from a test under Wine (the wiki server's
// launcher, curl, the certificate script) must leave this process's own
// handles alone. Wine's CreateProcessW hands back, for a Linux program,
// handles that are whatever its stack held (see support/win32/WineHost.h);
// a caller that closed them closed live handles of its own, once the
// directory of named objects, after which every "Local\" name failed.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/TempDir.h"
#include "support/win32/WineHost.h"

namespace {

constexpr int SLOTS = 8192;

// Leaves `value` in the stack below the caller's frame, where the frames of
// the next call (CreateProcessW's among them) find it in their unset slots.
__attribute__((noinline)) void LeaveOnTheStack(HANDLE value) {
  volatile HANDLE slots[SLOTS];
  for (int i = 0; i < SLOTS; ++i) slots[i] = value;
}

bool IsOpen(HANDLE handle) {
  DWORD flags = 0;
  return ::GetHandleInformation(handle, &flags) != FALSE;
}

}  // namespace

TEST(NativeProgram, StartingOneLeavesEveryHandleOfThisProcessOpen) {
  CTempDir folder;
  const std::string done = WineUnixPath(folder.Path()) + "/done";
  HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, L"Local\\VersewellNativeProgramTest");
  ASSERT_NE(mutex, nullptr);

  for (HANDLE bait : {event, mutex}) {
    LeaveOnTheStack(bait);
    ASSERT_TRUE(StartNativeProgram("Z:\\bin\\sh -c \": >'" + done + "'\""));
    EXPECT_TRUE(IsOpen(event));
    EXPECT_TRUE(IsOpen(mutex));
  }
  // The program did run.
  for (int i = 0; i < 500 && !FileExists(folder.File("done")); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(FileExists(folder.File("done")));
  // Named objects still resolve.
  HANDLE again = ::CreateMutexW(nullptr, FALSE, L"Local\\VersewellNativeProgramTest");
  EXPECT_NE(again, nullptr) << ::GetLastError();
  if (again != nullptr) ::CloseHandle(again);
  ::CloseHandle(mutex);
  ::CloseHandle(event);
}
