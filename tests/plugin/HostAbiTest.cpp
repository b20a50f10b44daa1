// Drives the built shared library exactly as a host does: loading it, the one
// export, and nothing but the public header.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <type_traits>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <versewell/plugin.h>

#include "support/LoadedLibrary.h"
#include "support/PluginEntry.h"

// The song records cross the boundary by layout: a host built elsewhere
// reads the fields at these offsets. Numbers for the 64-bit (LP64 / LLP64)
// and the 32-bit GCC and Clang ABIs with libstdc++, whose std::wstring is
// 32 or 24 bytes.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"  // SongListEntry has a base with fields
#endif
#if defined(__LP64__) || defined(_WIN64)
static_assert(sizeof(std::wstring) == 32, "libstdc++ wide string");
static_assert(offsetof(SongEntry, Title) == 0, "SongEntry::Title");
static_assert(offsetof(SongEntry, Artist) == 32, "SongEntry::Artist");
static_assert(offsetof(SongEntry, Extra1) == 64, "SongEntry::Extra1");
static_assert(offsetof(SongEntry, Url) == 96, "SongEntry::Url");
static_assert(offsetof(SongEntry, Flag) == 128, "SongEntry::Flag");
static_assert(sizeof(SongEntry) == 136, "SongEntry size");
static_assert(offsetof(SongListEntry, Title) == 0, "SongListEntry::Title");
static_assert(offsetof(SongListEntry, Flag) == 128, "SongListEntry::Flag");
static_assert(offsetof(SongListEntry, Extra2) == 136, "SongListEntry::Extra2");
static_assert(offsetof(SongListEntry, SourceName) == 168, "SongListEntry::SourceName");
static_assert(offsetof(SongListEntry, SourceId) == 200, "SongListEntry::SourceId");
static_assert(sizeof(SongListEntry) == 232, "SongListEntry size");
#else
static_assert(sizeof(std::wstring) == 24, "libstdc++ wide string");
static_assert(offsetof(SongEntry, Title) == 0, "SongEntry::Title");
static_assert(offsetof(SongEntry, Artist) == 24, "SongEntry::Artist");
static_assert(offsetof(SongEntry, Extra1) == 48, "SongEntry::Extra1");
static_assert(offsetof(SongEntry, Url) == 72, "SongEntry::Url");
static_assert(offsetof(SongEntry, Flag) == 96, "SongEntry::Flag");
static_assert(sizeof(SongEntry) == 100, "SongEntry size");
static_assert(offsetof(SongListEntry, Title) == 0, "SongListEntry::Title");
static_assert(offsetof(SongListEntry, Flag) == 96, "SongListEntry::Flag");
static_assert(offsetof(SongListEntry, Extra2) == 100, "SongListEntry::Extra2");
static_assert(offsetof(SongListEntry, SourceName) == 124, "SongListEntry::SourceName");
static_assert(offsetof(SongListEntry, SourceId) == 148, "SongListEntry::SourceId");
static_assert(sizeof(SongListEntry) == 172, "SongListEntry size");
#endif
static_assert(sizeof(BOOL) == 4, "BOOL is a 32-bit int");
static_assert(std::is_base_of<SongEntry, SongListEntry>::value, "SongListEntry derives from SongEntry");
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace {

class CHost : public CHostCallback {
 public:
  BOOL GetHostValue(const CString&, void*) override { return 0; }
  void Notify() override {}
  bool IsStopRequested() override { return false; }
};

struct Library {
  void* handle = nullptr;
  PFN_GetDllInterface entry = nullptr;
  Library() {
    handle = LoadSharedLibrary(VERSEWELL_PLUGIN_PATH);
    if (handle != nullptr) entry = FindPluginEntry(handle);
  }
  ~Library() {
    if (handle != nullptr) UnloadSharedLibrary(handle);
  }
};

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder.
fs::path MakeTempDir() {
  fs::path base = fs::temp_directory_path();
  for (unsigned n = 0;; ++n) {
    fs::path candidate = base / ("versewell-abi-" + std::to_string(std::random_device()()) + "-" + std::to_string(n));
    if (fs::create_directory(candidate)) return candidate;
  }
}

std::vector<std::string> ListDir(const fs::path& path) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(path)) names.push_back(entry.path().filename().string());
  return names;
}

std::wstring ReadUtf16File(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string b = ss.str();
  std::wstring out;
  for (size_t i = 0; i + 1 < b.size(); i += 2)
    out += static_cast<wchar_t>(static_cast<unsigned char>(b[i]) | (static_cast<unsigned char>(b[i + 1]) << 8));
  return out;
}

}  // namespace

TEST(HostAbi, LoadsConfiguresAndTraces) {
  Library lib;
  ASSERT_NE(lib.handle, nullptr) << LoaderError();
  ASSERT_NE(lib.entry, nullptr);
  CLyricsDllInterface* plugin = lib.entry();
  ASSERT_NE(plugin, nullptr);

  CString name, id;
  ASSERT_EQ(plugin->GetProperty(L"SourceName", &name), 1);
  EXPECT_EQ(name, L"Versewell");
  ASSERT_EQ(plugin->GetProperty(L"SourceId", &id), 1);
  unsigned int counter = 7;
  ASSERT_EQ(plugin->GetProperty(L"StatisticDownloadCounter", &counter), 1);
  EXPECT_EQ(counter, 0u);
  EXPECT_EQ(plugin->SetHostCallback(nullptr), 0);
  CHost host;
  EXPECT_EQ(plugin->SetHostCallback(&host), 1);
  EXPECT_EQ(plugin->ExtraSearch(1, 2, 3, 4), 0);

  const fs::path dir = MakeTempDir();
  CString folder = dir.wstring();
  CString level = L"Debug", bogus = L"x";
  EXPECT_EQ(plugin->SetProperty(L"LogFolder", &folder), 1);
  EXPECT_EQ(plugin->SetProperty(L"TraceLevel", &level), 1);
  EXPECT_EQ(plugin->SetProperty(L"SourceName", &bogus), 0);
  EXPECT_EQ(plugin->GetProperty(L"LogFolder", &bogus), 0);
  delete plugin;

  std::vector<std::string> files = ListDir(dir);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].rfind("Versewell_", 0), 0u);
  std::wstring text = ReadUtf16File(dir / files[0]);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text[0], L'\xFEFF');
  EXPECT_NE(text.find(L" DBG: CCommonDllInterface::Set Property TraceLevel: Debug\r\n"), std::wstring::npos);
  EXPECT_NE(text.find(L" WRN: CCommonDllInterface::Set Property SourceName:  - Can not be set.\r\n"), std::wstring::npos);
  EXPECT_NE(text.find(L" ERR: CCommonDllInterface::Property not found: LogFolder\r\n"), std::wstring::npos);
  // The trace file stays open while the library is loaded (Windows will
  // not delete an open file): unload first.
  ASSERT_TRUE(UnloadSharedLibrary(lib.handle));
  lib.handle = nullptr;
  std::error_code ec;
  fs::remove_all(dir, ec);
  EXPECT_FALSE(ec) << ec.message();
}

TEST(HostAbi, ModuleCarriesThePluginInfoStringInReadOnlyData) {
  std::ifstream in(VERSEWELL_PLUGIN_PATH, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string info =
      "###_PluginInfo_###Name=\"Versewell\";Type=search;Version=2.1.2000.0;VersionInt=2.1;"
      "Author=\"Merrowgate\";Desc=\"Search plugin for Versewell\";InfoUrl=\"http://www.merrowgate.example/\";###";
  EXPECT_NE(ss.str().find(info + std::string(1, '\0')), std::string::npos);
}

TEST(HostAbi, OnlyTheEntryIsExportedAsAFunction) {
  Library lib;
  ASSERT_NE(lib.handle, nullptr) << LoaderError();
  EXPECT_NE(lib.entry, nullptr);
  // Internal symbols stay hidden from hosts.
  EXPECT_EQ(FindLibrarySymbol(lib.handle, "g_szPluginInfo"), nullptr);
  EXPECT_EQ(FindLibrarySymbol(lib.handle, "g_TraceLog"), nullptr);
}
