// Routing of the file system calls to the installed file system: the
// backend's own (SystemFileSystem) unless a test installed another one.
#include "platform/FileSystem.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<IFileSystem*> g_currentFileSystem{nullptr};

IFileSystem& Current() {
  IFileSystem* fs = g_currentFileSystem.load(std::memory_order_acquire);
  return fs != nullptr ? *fs : SystemFileSystem();
}

}  // namespace

IFileSystem* SetFileSystemForTesting(IFileSystem* fs) { return g_currentFileSystem.exchange(fs); }
FileHandle CreateFileAlways(const std::wstring& path) { return Current().CreateFileAlways(path); }
bool WriteFile(FileHandle file, const void* data, DWORD size, DWORD* written) {
  return Current().WriteFile(file, data, size, written);
}
bool CloseHandle(FileHandle file) { return Current().CloseHandle(file); }
bool DeleteFile(const std::wstring& path) { return Current().DeleteFile(path); }
bool PathFileExists(const std::wstring& path) { return Current().PathFileExists(path); }
bool CreateDirectory(const std::wstring& path) { return Current().CreateDirectory(path); }

}  // namespace platform
