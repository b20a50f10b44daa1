// The DLL's own exceptions while another module of the host has loaded the
// toolchain's shared libgcc (libgcc_s_dw2-1.dll for i686, the DWARF-2
// unwinder; libgcc_s_seh-1.dll for x86_64). A DLL built with the toolchain's
// default start-up code hands its unwind tables to a libgcc it finds loaded
// at its own load, and every throw inside it then ends the host, even one
// it catches itself. Here one is thrown and caught inside the DLL: the
// module fingerprint of a new plug-in object reads the DLL's file, which was
// moved away after the load, and the file exception it meets becomes a
// trace line.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <versewell/plugin.h>

#include "support/LoadedLibrary.h"
#include "support/PluginEntry.h"

namespace {

namespace fs = std::filesystem;

// The trace file's bytes hold `text` (UTF-16LE, as the trace log writes).
bool HoldsUtf16(const fs::path& file, const std::wstring& text) {
  std::ifstream in(file, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string needle;
  for (wchar_t c : text) {
    needle += static_cast<char>(c & 0xFF);
    needle += static_cast<char>((c >> 8) & 0xFF);
  }
  return bytes.find(needle) != std::string::npos;
}

}  // namespace

TEST(ForeignUnwinder, ExceptionsInsideTheDllWorkAfterTheHostLoadedLibgcc) {
  const fs::path dir = fs::temp_directory_path() / ("versewell-unwind-" + std::to_string(::GetCurrentProcessId()));
  fs::remove_all(dir);
  fs::create_directory(dir);
  // The toolchain's libgcc and the thread library it imports, side by side.
  const fs::path libgcc = dir / fs::path(VERSEWELL_FOREIGN_LIBGCC).filename();
  fs::copy_file(VERSEWELL_FOREIGN_LIBGCC, libgcc);
  fs::copy_file(VERSEWELL_FOREIGN_LIBGCC_IMPORT, dir / fs::path(VERSEWELL_FOREIGN_LIBGCC_IMPORT).filename());
  HMODULE foreign = ::LoadLibraryExW(libgcc.wstring().c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  ASSERT_NE(foreign, nullptr) << ::GetLastError();

  const fs::path dll = dir / "versewell.dll";
  fs::copy_file(fs::u8path(VERSEWELL_PLUGIN_PATH), dll);
  void* library = LoadSharedLibrary(dll.u8string());
  ASSERT_NE(library, nullptr) << LoaderError();
  PFN_GetDllInterface entry = FindPluginEntry(library);
  ASSERT_NE(entry, nullptr);

  CLyricsDllInterface* first = entry();
  ASSERT_NE(first, nullptr);
  const fs::path logs = dir / "logs";
  fs::create_directory(logs);
  CString folder = logs.wstring(), level = L"Error";
  ASSERT_EQ(first->SetProperty(L"LogFolder", &folder), 1);
  ASSERT_EQ(first->SetProperty(L"TraceLevel", &level), 1);
  CString firstId;
  ASSERT_EQ(first->GetProperty(L"SourceId", &firstId), 1);
  EXPECT_FALSE(firstId.IsEmpty());

  // The DLL's file moves away (a loaded image may be renamed): the next
  // object's fingerprint cannot open it.
  ASSERT_TRUE(::MoveFileW(dll.wstring().c_str(), (dir / "moved.dll").wstring().c_str())) << ::GetLastError();
  CLyricsDllInterface* second = entry();
  ASSERT_NE(second, nullptr);
  CString secondId = L"unset";
  ASSERT_EQ(second->GetProperty(L"SourceId", &secondId), 1);
  EXPECT_TRUE(secondId.IsEmpty());
  delete second;
  delete first;
  ASSERT_TRUE(UnloadSharedLibrary(library));

  bool traced = false;
  for (const auto& file : fs::directory_iterator(logs))
    traced = traced || HoldsUtf16(file.path(), L" ERR: Can not make MD5hash, CFileException: ");
  EXPECT_TRUE(traced);
  ::FreeLibrary(foreign);
  std::error_code ec;
  fs::remove_all(dir, ec);
}
