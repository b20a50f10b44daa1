// A host's whole journey through the built shared library: loading it
// (dlopen, or LoadLibraryW on Windows), the one export, the public header
// only, and the loopback wiki as the lyrics site. From an artist name to the
// song list, and from a song to its lyrics.
#include <gtest/gtest.h>

#include <list>
#include <string>

#include <versewell/plugin.h>

#include "support/LoadedLibrary.h"
#include "support/PluginEntry.h"
#include "support/TestHost.h"
#include "support/WikiServer.h"

namespace {

struct CLoadedPlugin {
  void* handle = nullptr;
  CLyricsDllInterface* plugin = nullptr;
  CLoadedPlugin() {
    handle = LoadSharedLibrary(VERSEWELL_PLUGIN_PATH);
    if (handle == nullptr) return;
    auto entry = FindPluginEntry(handle);
    if (entry != nullptr) plugin = entry();
  }
  // The library stays loaded until the process ends, as the CLI host keeps
  // it: this test is about the search journey, and load/unload is covered
  // by host_abi_tests. (After downloads, unloading drops process-wide state
  // of the transport and code page layers that LeakSanitizer then reports.)
  ~CLoadedPlugin() { delete plugin; }
};

}  // namespace

TEST(LoadedLibrarySearch, ArtistToSongListToLyrics) {
  CWikiServer server(std::string(VERSEWELL_SOURCE_DIR) + "/tests/wiki");
  CLoadedPlugin lib;
  ASSERT_NE(lib.handle, nullptr) << LoaderError();
  ASSERT_NE(lib.plugin, nullptr);

  CTestHost host;
  host.proxy = server.WProxy().c_str();
  ASSERT_EQ(lib.plugin->SetHostCallback(&host), 1);

  std::list<SongListEntry> songs;
  ASSERT_EQ(lib.plugin->FindArtistSongList(L"Quillfeather", songs), 8);
  const SongListEntry* saltRoad = nullptr;
  for (const SongListEntry& e : songs)
    if (e.Title == L"Salt Road") {
      saltRoad = &e;
      break;
    }
  ASSERT_NE(saltRoad, nullptr);
  EXPECT_EQ(saltRoad->SourceName, L"Versewell");
  EXPECT_EQ(saltRoad->Artist, L"Quillfeather");

  CString lyrics;
  ASSERT_EQ(lib.plugin->GetLyrics(saltRoad->Url.c_str(), lyrics), 1);
  EXPECT_EQ(std::wstring(lyrics.GetString()),
            L"Down the salt road in the grey of the morning,\r\n"
            L"gulls on the wire and the tide running low,\r\n"
            L"I left my lantern to burn by the window\r\n"
            L"so you'd know the way when the north winds blow.\r\n"
            L"Salt on the doorstep & salt on the shutter,\r\n"
            L"salt in the bread that my grandmother made,\r\n"
            L"we'll walk the salt road when the season is turning\r\n"
            L"and sing till the last of the evening light fades.");

  unsigned downloads = 0, successes = 0;
  ASSERT_EQ(lib.plugin->GetProperty(L"StatisticDownloadCounter", &downloads), 1);
  ASSERT_EQ(lib.plugin->GetProperty(L"StatisticSuccessfulDownloads", &successes), 1);
  EXPECT_EQ(downloads, 3u);
  EXPECT_EQ(successes, 3u);
}
