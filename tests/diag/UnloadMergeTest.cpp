// The trace log merge as a host sees it: the built plug-in is loaded with
// dlopen and driven through the public header only; unloading it (dlclose,
// or the end of the process) merges the trace file into the host's log.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <versewell/plugin.h>

namespace {

class CPlugin {
 public:
  CPlugin() {
    m_handle = dlopen(VERSEWELL_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    if (m_handle == nullptr) return;
    auto entry = reinterpret_cast<PFN_GetDllInterface>(dlsym(m_handle, "GetDllInterface"));
    if (entry != nullptr) m_plugin = entry();
  }
  ~CPlugin() { Unload(); }
  CLyricsDllInterface* operator->() const { return m_plugin; }
  bool Loaded() const { return m_plugin != nullptr; }
  // Unloads without deleting the plug-in object: the library's registry
  // deletes what the host left alive.
  void Unload() {
    if (m_handle != nullptr) dlclose(m_handle);
    m_handle = nullptr;
    m_plugin = nullptr;
  }
  BOOL Set(const wchar_t* name, const std::string& value) {
    CString v(std::wstring(value.begin(), value.end()).c_str());
    return m_plugin->SetProperty(name, &v);
  }

 private:
  void* m_handle = nullptr;
  CLyricsDllInterface* m_plugin = nullptr;
};

bool LibraryIsResident() {
  void* handle = dlopen(VERSEWELL_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return handle != nullptr;
}

struct CFolder {
  std::string path;
  CFolder() {
    char tmpl[] = "/tmp/versewell-unload-XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~CFolder() {
    for (const std::string& name : List()) unlink((path + "/" + name).c_str());
    rmdir(path.c_str());
  }
  std::vector<std::string> List() const {
    std::vector<std::string> names;
    if (DIR* d = opendir(path.c_str())) {
      while (dirent* e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
      closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string File(const std::string& name) const { return path + "/" + name; }
};

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::wstring DecodeUtf16(const std::string& b) {
  std::wstring out;
  for (size_t i = 0; i + 1 < b.size(); i += 2)
    out += static_cast<wchar_t>(static_cast<unsigned char>(b[i]) | (static_cast<unsigned char>(b[i + 1]) << 8));
  return out;
}

std::string Md5Sum(const std::string& path) {
  FILE* pipe = popen(("md5sum '" + path + "'").c_str(), "r");
  if (pipe == nullptr) return "";
  char out[33] = {0};
  size_t n = fread(out, 1, 32, pipe);
  pclose(pipe);
  return std::string(out, n);
}

// Configures the log in `folder` with the parent log `parent` and writes
// lines through the property protocol.
void LogSomeLines(CPlugin& plugin, const CFolder& folder, const std::string& parent) {
  ASSERT_EQ(plugin.Set(L"LogFolder", folder.path), 1);
  ASSERT_EQ(plugin.Set(L"TraceLevel", "Debug"), 1);
  int dummy = 0;
  EXPECT_EQ(plugin->GetProperty(L"NoSuchProperty", &dummy), 0);
  ASSERT_EQ(plugin.Set(L"ParentLogfilePath", parent), 1);
}

// The parent log holds the mark, an empty line, the trace file's name and
// the lines that LogSomeLines wrote.
void ExpectMergedBlock(const std::string& parentBytes) {
  ASSERT_GE(parentBytes.size(), 2u);
  EXPECT_EQ(parentBytes.substr(0, 2), std::string("\xFF\xFE", 2));
  std::wstring text = DecodeUtf16(parentBytes.substr(2));
  std::wregex block(
      L"\r\nVersewell_\\d{8}_\\d{6}_[0-9A-F]+\\.txt\r\n"
      L"(\\d\\d:\\d\\d:\\d\\d\\.\\d{3} [0-9A-F]+ [A-Z]{3}: [^\r\n]*\r\n)+");
  EXPECT_TRUE(std::regex_match(text, block)) << text.size();
  EXPECT_NE(text.find(L" DBG: CCommonDllInterface::Set Property TraceLevel: Debug\r\n"), std::wstring::npos);
  EXPECT_NE(text.find(L" ERR: CCommonDllInterface::Property not found: NoSuchProperty\r\n"), std::wstring::npos);
  EXPECT_NE(text.find(L" DBG: CCommonDllInterface::Set Property ParentLogfilePath: "), std::wstring::npos);
}

}  // namespace

TEST(UnloadMerge, DlcloseMergesTheTraceFileIntoTheParentLog) {
  CFolder folder;
  std::string parent = folder.File("host.log");
  {
    CPlugin plugin;
    ASSERT_TRUE(plugin.Loaded()) << dlerror();
    LogSomeLines(plugin, folder, parent);
    ASSERT_EQ(folder.List().size(), 1u);  // the trace file
    plugin.Unload();
  }
  ASSERT_FALSE(LibraryIsResident()) << "the library must really unload";
  EXPECT_EQ(folder.List(), std::vector<std::string>{"host.log"});
  ExpectMergedBlock(ReadBytes(parent));
}

TEST(UnloadMerge, ProcessExitMergesTheTraceFileIntoTheParentLog) {
  CFolder folder;
  std::string parent = folder.File("host.log");
  EXPECT_EXIT(
      {
        CPlugin* plugin = new CPlugin;  // never unloaded: the process ends with it
        if (!plugin->Loaded()) _exit(3);
        LogSomeLines(*plugin, folder, parent);
        exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(folder.List(), std::vector<std::string>{"host.log"});
  ExpectMergedBlock(ReadBytes(parent));
}

TEST(UnloadMerge, UnloadAfterTheHostsOwnMergeLeavesTheParentLogUnchanged) {
  CFolder folder;
  std::string parent = folder.File("host.log");
  CPlugin plugin;
  ASSERT_TRUE(plugin.Loaded()) << dlerror();
  LogSomeLines(plugin, folder, parent);
  EXPECT_EQ(plugin->CallMethod(L"CloseAndMergeLog", nullptr), 1);
  std::string merged = ReadBytes(parent);
  ExpectMergedBlock(merged);
  plugin.Unload();
  ASSERT_FALSE(LibraryIsResident());
  EXPECT_EQ(ReadBytes(parent), merged);
  EXPECT_EQ(folder.List(), std::vector<std::string>{"host.log"});
}

TEST(UnloadMerge, MergeBeforeAnyLineWasLoggedCreatesNothing) {
  CFolder folder;
  CPlugin plugin;
  ASSERT_TRUE(plugin.Loaded()) << dlerror();
  // Opening the log sets the level to errors only, so its own echo is not
  // written and no trace file name is formed.
  ASSERT_EQ(plugin.Set(L"LogFolder", folder.path), 1);
  EXPECT_EQ(plugin->CallMethod(L"CloseAndMergeLog", nullptr), 1);
  EXPECT_TRUE(folder.List().empty());
  plugin.Unload();
  EXPECT_TRUE(folder.List().empty());
}

TEST(UnloadMerge, SourceIdIsTheDigestOfTheLibraryFile) {
  CPlugin plugin;
  ASSERT_TRUE(plugin.Loaded()) << dlerror();
  CString id;
  ASSERT_EQ(plugin->GetProperty(L"SourceId", &id), 1);
  std::string expected = Md5Sum(VERSEWELL_PLUGIN_PATH);
  ASSERT_EQ(expected.size(), 32u);
  EXPECT_EQ(id, CString(std::wstring(expected.begin(), expected.end()).c_str()));
}
