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
#include <random>
#include <sstream>
#include <string>

#include <versewell/plugin.h>

#include "support/LoadedLibrary.h"
#include "support/PluginEntry.h"

namespace {

namespace fs = std::filesystem;

fs::path MakeTempDir() {
  fs::path base = fs::temp_directory_path();
  for (unsigned n = 0;; ++n) {
    fs::path candidate = base / ("versewell-unwind-" + std::to_string(std::random_device()()) + "-" + std::to_string(n));
    if (fs::create_directory(candidate)) return candidate;
  }
}

std::wstring ReadUtf16File(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string b = ss.str();
  std::wstring out;
  for (size_t i = 0; i + 1 < b.size(); i += 2)
    out += static_cast<wchar_t>(static_cast<unsigned char>(b[i]) | (static_cast<unsigned char>(b[i + 1]) << 8));
  return out;
}

}  // namespace

TEST(ForeignUnwinder, ExceptionsInsideTheDllWorkAfterTheHostLoadedLibgcc) {
  const fs::path dir = MakeTempDir();
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

  std::wstring trace;
  for (const auto& file : fs::directory_iterator(logs)) trace += ReadUtf16File(file.path());
  EXPECT_NE(trace.find(L" ERR: Can not make MD5hash, CFileException: "), std::wstring::npos) << fs::path(trace).u8string();
  ::FreeLibrary(foreign);
  std::error_code ec;
  fs::remove_all(dir, ec);
}
