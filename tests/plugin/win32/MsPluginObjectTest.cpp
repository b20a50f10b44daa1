// The Windows DLL's plug-in object as a Microsoft-ABI host calls it: through
// its twelve-slot table, with the host's CStringW and std::list, and a host
// callback table of the host's own. Bad input at the boundary ends in the
// slot's failure result and one trace line, never in an exception.
#include <gtest/gtest.h>

#include <stdexcept>

#include "diag/TraceLevels.h"
#include "platform/win32/msabi/MsCString.h"
#include "platform/win32/msabi/MsSongList.h"
#include "plugin/InterfaceRegistry.h"
#include "plugin/msabi/MsPluginObject.h"
#include "support/TraceCapture.h"
#include "support/win32/MsvcThrow.h"

using namespace msabi;

namespace {

struct SThrowingHost : SHostCallback {
  int stopQuestions = 0;
};
SHostCallback* MSABI_THISCALL HostDtor(SHostCallback* self, unsigned int) {
  ADD_FAILURE() << "the plug-in deleted the host";
  return self;
}
void MSABI_THISCALL HostReserved(SHostCallback*) { ADD_FAILURE() << "the plug-in called a reserved host slot"; }
BOOL32 MSABI_THISCALL HostValue(SHostCallback*, const SCString*, void*) { throw std::runtime_error("host failure"); }
void MSABI_THISCALL HostNotify(SHostCallback*) {}
bool MSABI_THISCALL HostStop(SHostCallback* self) {
  ++static_cast<SThrowingHost*>(self)->stopQuestions;
  return false;
}
const SHostCallbackTable HOST_TABLE = {HostDtor, HostReserved, HostValue, HostReserved, HostNotify, HostStop};

// A Microsoft-built host whose callback throws: what its `throw` raises.
struct SRaisingHost : SHostCallback {
  bool raiseOnStop = false;
};
BOOL32 MSABI_THISCALL RaisingValue(SHostCallback*, const SCString*, void*) {
  RaiseMsvcCxxException();
  return 1;
}
void MSABI_THISCALL RaisingNotify(SHostCallback*) { RaiseMsvcCxxException(); }
bool MSABI_THISCALL RaisingStop(SHostCallback* self) {
  if (static_cast<SRaisingHost*>(self)->raiseOnStop) RaiseMsvcCxxException();
  return false;
}
const SHostCallbackTable RAISING_HOST_TABLE = {HostDtor,      HostReserved, RaisingValue,
                                               HostReserved,  RaisingNotify, RaisingStop};

class MsPluginObject : public ::testing::Test {
 protected:
  void SetUp() override {
    m_pObject = CreateMsPluginObject();
    ASSERT_NE(m_pObject, nullptr);
    host.vtbl = &HOST_TABLE;
  }
  void TearDown() override {
    if (m_pObject != nullptr) {
      EXPECT_EQ(T().ScalarDeletingDtor(m_pObject, 1), m_pObject);
    }
  }
  const SPluginTable& T() { return *m_pObject->vtbl; }
  SPluginObject* m_pObject = nullptr;
  SThrowingHost host;
};

}  // namespace

TEST_F(MsPluginObject, SlotsAnswerThroughTheTable) {
  EXPECT_EQ(m_pObject->vtbl, &MsPluginTable());
  CLocalCString sourceName(L"SourceName"), value;
  ASSERT_EQ(T().GetProperty(m_pObject, sourceName.Get(), value.Get()), 1);
  EXPECT_EQ(value.Text(), L"Versewell");
  CLocalCString counter(L"StatisticDownloadCounter");
  unsigned int downloads = 7;
  EXPECT_EQ(T().GetProperty(m_pObject, counter.Get(), &downloads), 1);
  EXPECT_EQ(downloads, 0u);
  CLocalCString cacheFolder(L"LocalCacheFolder");
  EXPECT_EQ(T().SetProperty(m_pObject, cacheFolder.Get(), nullptr), 0);  // a null value is refused
  EXPECT_EQ(T().ExtraSearch(m_pObject, 1, 2, 3, 4), 0);
  EXPECT_EQ(T().SetHostCallback(m_pObject, nullptr), 0);
  EXPECT_TRUE(T().IsStopRequested(m_pObject));  // no host: stop
  EXPECT_EQ(T().SetHostCallback(m_pObject, &host), 1);
  EXPECT_FALSE(T().IsStopRequested(m_pObject));
  EXPECT_EQ(host.stopQuestions, 1);
  CLocalCString method(L"NoSuchMethod");
  EXPECT_EQ(T().CallMethod(m_pObject, method.Get(), nullptr), 0);
}

TEST_F(MsPluginObject, AnOutputStringThatCannotTakeTheResultFailsTheSlot) {
  CTraceCapture capture(TRACE_ERROR);
  CLocalCString sourceName(L"SourceName"), target(L"abc");
  SStringData* data = target.Get()->Data();
  data->nRefs = -1;  // locked, room for 3 characters
  EXPECT_EQ(T().GetProperty(m_pObject, sourceName.Get(), target.Get()), 0);
  EXPECT_EQ(target.Text(), L"abc");
  data->nRefs = 1;
  EXPECT_EQ(capture.Count(L"GetProperty(): can not write the result into the host's string: the string is locked and too small"), 1);
}

TEST_F(MsPluginObject, AnExceptionFromTheHostEndsTheOperationNotTheProcess) {
  CTraceCapture capture(TRACE_ERROR);
  ASSERT_EQ(T().SetHostCallback(m_pObject, &host), 1);
  CLocalCString url(L"lyrics.wiki.example/wiki/Anyone"), page;
  // Download asks the host for its proxy first; the host throws.
  EXPECT_EQ(T().Download(m_pObject, url.Get(), page.Get()), 0);
  EXPECT_EQ(page.Text(), L"");
  EXPECT_TRUE(capture.Contains(L"Download(): stopped by an exception: host failure"));
  // The object still answers.
  CLocalCString sourceName(L"SourceName"), value;
  EXPECT_EQ(T().GetProperty(m_pObject, sourceName.Get(), value.Get()), 1);
}

TEST_F(MsPluginObject, AThrowOfAMicrosoftBuiltHostFailsTheCallWithOneLine) {
  CTraceCapture capture(TRACE_ERROR);
  SRaisingHost raising;
  raising.vtbl = &RAISING_HOST_TABLE;
  ASSERT_EQ(T().SetHostCallback(m_pObject, &raising), 1);
  // Download asks for the proxy before anything else: the host throws there.
  CLocalCString url(L"lyrics.wiki.example/wiki/Anyone"), page(L"old page");
  EXPECT_EQ(T().Download(m_pObject, url.Get(), page.Get()), 0);
  EXPECT_EQ(page.Text(), L"old page");  // a failed call writes nothing into the host's string
  EXPECT_EQ(capture.Count(L"Download(): stopped by an exception: the host's GetHostValue raised exception 0xE06D7363"),
            1);
  T().NotifyHost(m_pObject);
  EXPECT_EQ(capture.Count(L"NotifyHost(): stopped by an exception: the host's Notify raised exception 0xE06D7363"), 1);
  // The stop question is answered "stop", with its own line.
  raising.raiseOnStop = true;
  EXPECT_TRUE(T().IsStopRequested(m_pObject));
  EXPECT_EQ(capture.Count(L"IsStopRequested(): the host's IsStopRequested raised exception 0xE06D7363; taken as a stop"),
            1);
  unsigned int downloads = 0;
  CLocalCString counter(L"StatisticDownloadCounter");
  EXPECT_EQ(T().GetProperty(m_pObject, counter.Get(), &downloads), 1);  // the object goes on working
  EXPECT_EQ(downloads, 0u);  // the proxy question comes before the count
}

TEST_F(MsPluginObject, AFailedSearchLeavesTheHostsListAlone) {
  SSongList list{nullptr, 0};
  ASSERT_TRUE(ConstructSongList(&list));
  SongListEntry kept(SongEntry(L"Kept", L"Artist", L"", false));
  ASSERT_TRUE(ReplaceSongList(&list, {kept}));
  SListNode* node = list.head->next;
  CLocalCString artist(L"Nobody");
  EXPECT_EQ(T().FindArtistSongList(m_pObject, artist.Get(), &list), 0);  // no host: fails at once
  EXPECT_EQ(list.size, 1u);
  EXPECT_EQ(list.head->next, node) << "the host's node was replaced although nothing changed";
  SSongList noHead{nullptr, 0};
  EXPECT_EQ(T().FindArtistSongList(m_pObject, artist.Get(), &noHead), 0);
  DestroySongList(&list);
}

TEST(MsPluginObjectLife, SlotZeroUnregistersAndUnloadTakesTheRest) {
  const int before = g_InterfaceRegistry.GetCount();
  SPluginObject* a = CreateMsPluginObject();
  SPluginObject* b = CreateMsPluginObject();
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(g_InterfaceRegistry.GetCount(), before + 2);
  EXPECT_EQ(a->vtbl->ScalarDeletingDtor(a, 1), a);
  EXPECT_EQ(g_InterfaceRegistry.GetCount(), before + 1);
  // The unload deletes what is left through the registry; b's adapter goes
  // with its object (nothing of b may be used afterwards).
  delete g_InterfaceRegistry.GetAt(before);
  EXPECT_EQ(g_InterfaceRegistry.GetCount(), before);
}
