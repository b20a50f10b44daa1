#include <gtest/gtest.h>

#include <cstring>

#include "plugin/InterfaceRegistry.h"
#include "plugin/PluginInfo.h"
#include "plugin/Versewell.h"
#include "support/TestHost.h"

namespace {

// Exposes the protected parts of the plug-in object to the tests.
class CProbe : public CVersewell {
 public:
  using CVersewell::IsStopRequested;
  using CVersewell::NotifyHost;
  const CString& SiteHost() const { return m_strSiteHost; }
  const CString& Version() const { return m_strVersion; }
  int CodePage() const { return m_nCodePage; }
  CLocalCache* Cache() const { return m_pArtistCache; }
  CHostCallback* Host() const { return m_pHostCallback; }
};

int g_destroyed = 0;
std::vector<int> g_destroyOrder;

class CCounted : public CVersewell {
 public:
  explicit CCounted(int id) : m_id(id) {}
  ~CCounted() override {
    ++g_destroyed;
    g_destroyOrder.push_back(m_id);
  }

 private:
  int m_id;
};

}  // namespace

TEST(Plugin, GetDllInterfaceCreatesIndependentRegisteredObjects) {
  int before = g_InterfaceRegistry.GetCount();
  CLyricsDllInterface* a = GetDllInterface();
  CLyricsDllInterface* b = GetDllInterface();
  ASSERT_NE(a, b);
  EXPECT_EQ(g_InterfaceRegistry.GetCount(), before + 2);
  EXPECT_EQ(g_InterfaceRegistry.GetAt(before), a);
  EXPECT_EQ(g_InterfaceRegistry.GetAt(before + 1), b);
  delete a;
  EXPECT_EQ(g_InterfaceRegistry.GetCount(), before + 1);
  EXPECT_EQ(g_InterfaceRegistry.GetAt(before), b);
  CString name;
  EXPECT_EQ(b->GetProperty(L"SourceName", &name), 1);
  EXPECT_EQ(name, L"Versewell");
  delete b;
  EXPECT_EQ(g_InterfaceRegistry.GetCount(), before);
}

TEST(Plugin, IdentityFieldsAfterConstruction) {
  CProbe probe;
  EXPECT_EQ(probe.Version(), L"2.1.2000.0");
  EXPECT_EQ(probe.SiteHost(), L"lyrics.wiki.example");
  EXPECT_EQ(probe.CodePage(), 65001);
  EXPECT_EQ(probe.Cache(), nullptr);
  EXPECT_EQ(probe.Host(), nullptr);
}

TEST(Plugin, HostCallbackRegistrationAndStopRequests) {
  CProbe probe;
  CTestHost host;
  EXPECT_TRUE(probe.IsStopRequested());  // no host: stop
  EXPECT_EQ(probe.SetHostCallback(&host), 1);
  EXPECT_FALSE(probe.IsStopRequested());
  host.stop = true;
  EXPECT_TRUE(probe.IsStopRequested());
  probe.NotifyHost();
  EXPECT_EQ(host.notifications.load(), 1);
  EXPECT_EQ(probe.SetHostCallback(nullptr), 0);
  EXPECT_EQ(probe.Host(), nullptr);
  EXPECT_TRUE(probe.IsStopRequested());
  probe.NotifyHost();  // no host: nothing happens
  EXPECT_EQ(host.notifications.load(), 1);
}

TEST(Plugin, ExtraSearchIsNotSupported) {
  CProbe probe;
  EXPECT_EQ(probe.ExtraSearch(0, 0, 0, 0), 0);
  EXPECT_EQ(probe.ExtraSearch(1, -1, 7, 100000), 0);
}

TEST(Plugin, SearchesFailAtOnceWithoutAHost) {
  CProbe probe;
  CString url = L"unchanged", lyrics = L"old";
  std::list<SongListEntry> songs(1);
  EXPECT_EQ(probe.FindArtistUrl(L"Quillfeather", url), 0);
  EXPECT_EQ(probe.FindArtistSongList(L"Quillfeather", songs), 0);
  EXPECT_EQ(songs.size(), 1u);
  EXPECT_EQ(probe.GetLyrics(L"lyrics.wiki.example/wiki/X", lyrics), 0);
  EXPECT_TRUE(lyrics.IsEmpty());
  CString page = L"x";
  EXPECT_EQ(probe.Download(L"lyrics.wiki.example/", page), 0);
  EXPECT_TRUE(page.IsEmpty());
}

TEST(Plugin, RegistryDeletesLeftoversOldestFirstAndOnlyOnce) {
  g_destroyed = 0;
  g_destroyOrder.clear();
  {
    CInterfaceRegistry registry;
    auto* one = new CCounted(1);
    auto* two = new CCounted(2);
    auto* three = new CCounted(3);
    // The objects registered themselves nowhere; register them here.
    registry.Add(one);
    registry.Add(two);
    registry.Add(three);
    registry.Remove(two);
    g_InterfaceRegistry.Remove(two);
    delete two;  // deleted by its "host" before the unload
    registry.Remove(reinterpret_cast<CLyricsDllInterface*>(0x1234));  // unknown: no change
    EXPECT_EQ(registry.GetCount(), 2);
  }
  EXPECT_EQ(g_destroyed, 3);
  EXPECT_EQ(g_destroyOrder, (std::vector<int>{2, 1, 3}));
}

TEST(Plugin, PluginInfoStringIsExact) {
  EXPECT_STREQ(PLUGIN_INFO,
               "###_PluginInfo_###Name=\"Versewell\";Type=search;Version=2.1.2000.0;VersionInt=2.1;"
               "Author=\"Merrowgate\";Desc=\"Search plugin for Versewell\";"
               "InfoUrl=\"http://www.merrowgate.example/\";###");
}
