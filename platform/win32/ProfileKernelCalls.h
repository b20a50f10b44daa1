// The Kernel32 calls of the Windows INI module (platform/win32/
// PrivateProfile.cpp) whose failures no test can bring about on a healthy
// system, behind a small interface: the creation of a file's lock (a named
// mutex) and the flush of the written copy before it replaces the file.
// The results and last errors are Kernel32's: a null handle or false, and
// the error in GetLastError.
//
// SystemProfileKernelCalls() makes the real calls. Tests install another
// with SetProfileKernelCallsForTesting (not owned; null restores the real
// one); installing is for single-threaded set-up. Any thread may make the
// calls.
#ifndef VERSEWELL_PLATFORM_WIN32_PROFILE_KERNEL_CALLS_H
#define VERSEWELL_PLATFORM_WIN32_PROFILE_KERNEL_CALLS_H

namespace platform {

class IProfileKernelCalls {
 public:
  virtual ~IProfileKernelCalls() = default;
  // CreateMutexW(nullptr, FALSE, name): the mutex handle, or null.
  virtual void* CreateNamedMutex(const wchar_t* name) = 0;
  // FlushFileBuffers(file).
  virtual bool FlushFile(void* file) = 0;
};

IProfileKernelCalls& SystemProfileKernelCalls();
// Returns the previously installed calls (null for the real ones).
IProfileKernelCalls* SetProfileKernelCallsForTesting(IProfileKernelCalls* calls);
IProfileKernelCalls& CurrentProfileKernelCalls();

}  // namespace platform

#endif  // VERSEWELL_PLATFORM_WIN32_PROFILE_KERNEL_CALLS_H
