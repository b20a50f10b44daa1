// A host that stops a download, deletes the plug-in object and unloads the
// library at once, while WinHTTP still holds the stopped request (the
// server never answers, and Wine lets go of a request only when its socket
// operation ends). Every open request handle keeps the library loaded
// until WinHTTP has said its last word about it, so no callback runs in
// unmapped code; once the server is gone the library unloads by itself,
// and its unload merges the trace file into the host's log.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <versewell/plugin.h>

#include "support/LoadedLibrary.h"
#include "support/PluginEntry.h"
#include "support/TempDir.h"
#include "support/TestHost.h"
#include "support/WikiServer.h"

namespace {

BOOL Set(CLyricsDllInterface* plugin, const wchar_t* name, const std::string& value) {
  CString v(FromUtf8(value).c_str());
  return plugin->SetProperty(name, &v);
}

}  // namespace

TEST(UnloadDuringDownload, HundredRoundsOfStopDeleteAndUnloadAtOnce) {
  CTempDir folder;
  const std::string parent = folder.File("host.log");
  {
    SWikiServerOptions options;
    options.delayMs = 60000;  // every response held back: the download hangs
    CWikiServer server(options);
    for (int round = 0; round < 100; ++round) {
      SCOPED_TRACE(round);
      void* library = LoadSharedLibrary(VERSEWELL_PLUGIN_PATH);
      ASSERT_NE(library, nullptr) << LoaderError();
      PFN_GetDllInterface entry = FindPluginEntry(library);
      ASSERT_NE(entry, nullptr);
      CLyricsDllInterface* plugin = entry();
      ASSERT_NE(plugin, nullptr);
      CTestHost host;
      host.proxy = server.WProxy().c_str();
      ASSERT_EQ(plugin->SetHostCallback(&host), 1);
      ASSERT_EQ(Set(plugin, L"LogFolder", folder.Path()), 1);
      ASSERT_EQ(Set(plugin, L"TraceLevel", "Debug"), 1);
      ASSERT_EQ(Set(plugin, L"ParentLogfilePath", parent), 1);
      host.StopAfter(std::chrono::milliseconds(50));
      CString url;
      EXPECT_EQ(plugin->FindArtistUrl(L"Quillfeather", url), 0);
      delete plugin;
      ASSERT_TRUE(UnloadSharedLibrary(library));
    }
  }
  // The server is gone: WinHTTP lets go of every request, and the last
  // handle's reference unloads the library.
  for (int k = 0; k < 600 && SharedLibraryIsLoaded(VERSEWELL_PLUGIN_PATH); ++k)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_FALSE(SharedLibraryIsLoaded(VERSEWELL_PLUGIN_PATH)) << "the library never unloaded";
  EXPECT_EQ(folder.List(), std::vector<std::string>{"host.log"});
  const std::string merged = ReadFileBytes(parent);
  ASSERT_GE(merged.size(), 2u);
  EXPECT_EQ(merged.substr(0, 2), std::string("\xFF\xFE", 2));
  const std::wstring text = DecodeUtf16Le(merged.substr(2));
  EXPECT_NE(text.find(L" DBG: CCommonDllInterface::Set Property ParentLogfilePath: "), std::wstring::npos);
}
