// The trace log merge as a host sees it: the built plug-in is loaded as a
// host loads it (dlopen, or LoadLibraryW on Windows) and driven through the
// public header only; unloading it (dlclose / FreeLibrary, or the end of the
// process) merges the trace file into the host's log. On Windows both ends
// run the DLL's static destructors at DLL_PROCESS_DETACH; the end of the
// process is a child process of this program that exits with the plug-in
// still loaded.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include <versewell/plugin.h>

#include "support/ChildProcess.h"
#include "support/LoadedLibrary.h"
#include "support/PluginEntry.h"
#include "support/ReferenceMd5.h"
#include "support/TempDir.h"

namespace {

class CPlugin {
 public:
  CPlugin() {
    m_handle = LoadSharedLibrary(VERSEWELL_PLUGIN_PATH);
    if (m_handle == nullptr) return;
    auto entry = FindPluginEntry(m_handle);
    if (entry != nullptr) m_plugin = entry();
  }
  ~CPlugin() { Unload(); }
  CLyricsDllInterface* operator->() const { return m_plugin; }
  bool Loaded() const { return m_plugin != nullptr; }
  // Unloads without deleting the plug-in object: the library's registry
  // deletes what the host left alive.
  void Unload() {
    if (m_handle != nullptr) UnloadSharedLibrary(m_handle);
    m_handle = nullptr;
    m_plugin = nullptr;
  }
  BOOL Set(const wchar_t* name, const std::string& value) {
    CString v(FromUtf8(value).c_str());
    return m_plugin->SetProperty(name, &v);
  }

 private:
  void* m_handle = nullptr;
  CLyricsDllInterface* m_plugin = nullptr;
};

bool LibraryIsResident() { return SharedLibraryIsLoaded(VERSEWELL_PLUGIN_PATH); }

// Configures the log in `folder` with the parent log `parent` and writes
// lines through the property protocol; false when a step is refused.
bool LogSomeLines(CPlugin& plugin, const std::string& folder, const std::string& parent) {
  int dummy = 0;
  return plugin.Set(L"LogFolder", folder) == 1 && plugin.Set(L"TraceLevel", "Debug") == 1 &&
         plugin->GetProperty(L"NoSuchProperty", &dummy) == 0 && plugin.Set(L"ParentLogfilePath", parent) == 1;
}

// A child process: loads the plug-in, logs with the folder and parent log
// given as arguments, and ends the process with the library still loaded.
VW_CHILD_ROLE(ExitWithThePluginLoaded) {
  if (args.size() != 2) return 2;
  CPlugin* plugin = new CPlugin;  // never unloaded: the process ends with it
  if (!plugin->Loaded()) return 3;
  if (!LogSomeLines(*plugin, args[0], args[1])) return 4;
  std::exit(0);
}

// The parent log holds the mark, an empty line, the trace file's name and
// the lines that LogSomeLines wrote.
void ExpectMergedBlock(const std::string& parentBytes) {
  ASSERT_GE(parentBytes.size(), 2u);
  EXPECT_EQ(parentBytes.substr(0, 2), std::string("\xFF\xFE", 2));
  std::wstring text = DecodeUtf16Le(parentBytes.substr(2));
  std::wregex block(
      L"\r\nVersewell_\\d{8}_\\d{6}_[0-9A-F]+\\.txt\r\n"
      L"(\\d\\d:\\d\\d:\\d\\d\\.\\d{3} [0-9A-F]+ [A-Z]{3}: [^\r\n]*\r\n)+");
  EXPECT_TRUE(std::regex_match(text, block)) << text.size();
  EXPECT_NE(text.find(L" DBG: CCommonDllInterface::Set Property TraceLevel: Debug\r\n"), std::wstring::npos);
  EXPECT_NE(text.find(L" ERR: CCommonDllInterface::Property not found: NoSuchProperty\r\n"), std::wstring::npos);
  EXPECT_NE(text.find(L" DBG: CCommonDllInterface::Set Property ParentLogfilePath: "), std::wstring::npos);
}

}  // namespace

TEST(UnloadMerge, UnloadMergesTheTraceFileIntoTheParentLog) {
  CTempDir folder;
  std::string parent = folder.File("host.log");
  {
    CPlugin plugin;
    ASSERT_TRUE(plugin.Loaded()) << LoaderError();
    ASSERT_TRUE(LogSomeLines(plugin, folder.Path(), parent));
    ASSERT_EQ(folder.List().size(), 1u);  // the trace file
    plugin.Unload();
  }
  ASSERT_FALSE(LibraryIsResident()) << "the library must really unload";
  EXPECT_EQ(folder.List(), std::vector<std::string>{"host.log"});
  ExpectMergedBlock(ReadFileBytes(parent));
}

TEST(UnloadMerge, ProcessExitMergesTheTraceFileIntoTheParentLog) {
  CTempDir folder;
  std::string parent = folder.File("host.log");
  CChildProcess child("ExitWithThePluginLoaded", {folder.Path(), parent});
  ASSERT_TRUE(child.Started());
  CChildExit end = child.Wait();
  ASSERT_FALSE(end.bKilled);
  ASSERT_EQ(end.nCode, 0) << "3: the plug-in did not load, 4: a property was refused";
  EXPECT_EQ(folder.List(), std::vector<std::string>{"host.log"});
  ExpectMergedBlock(ReadFileBytes(parent));
}

TEST(UnloadMerge, UnloadAfterTheHostsOwnMergeLeavesTheParentLogUnchanged) {
  CTempDir folder;
  std::string parent = folder.File("host.log");
  CPlugin plugin;
  ASSERT_TRUE(plugin.Loaded()) << LoaderError();
  ASSERT_TRUE(LogSomeLines(plugin, folder.Path(), parent));
  EXPECT_EQ(plugin->CallMethod(L"CloseAndMergeLog", nullptr), 1);
  std::string merged = ReadFileBytes(parent);
  ExpectMergedBlock(merged);
  plugin.Unload();
  ASSERT_FALSE(LibraryIsResident());
  EXPECT_EQ(ReadFileBytes(parent), merged);
  EXPECT_EQ(folder.List(), std::vector<std::string>{"host.log"});
}

TEST(UnloadMerge, MergeBeforeAnyLineWasLoggedCreatesNothing) {
  CTempDir folder;
  CPlugin plugin;
  ASSERT_TRUE(plugin.Loaded()) << LoaderError();
  // Opening the log sets the level to errors only, so its own echo is not
  // written and no trace file name is formed.
  ASSERT_EQ(plugin.Set(L"LogFolder", folder.Path()), 1);
  EXPECT_EQ(plugin->CallMethod(L"CloseAndMergeLog", nullptr), 1);
  EXPECT_TRUE(folder.List().empty());
  plugin.Unload();
  EXPECT_TRUE(folder.List().empty());
}

TEST(UnloadMerge, SourceIdIsTheDigestOfTheLibraryFile) {
  CPlugin plugin;
  ASSERT_TRUE(plugin.Loaded()) << LoaderError();
  CString id;
  ASSERT_EQ(plugin->GetProperty(L"SourceId", &id), 1);
  const std::string library = ReadFileBytes(VERSEWELL_PLUGIN_PATH);
  ASSERT_FALSE(library.empty());
  const std::string expected = ReferenceMd5(library);
  ASSERT_EQ(expected.size(), 32u);
  EXPECT_EQ(id, CString(FromUtf8(expected).c_str()));
}
