// The host contract seen from a foreign host: the plug-in object is driven
// through its virtual table by slot index, and the host's callback and
// ignore objects are hand-made tables of plain functions. Nothing here
// relies on the public header's class declarations agreeing with the
// library's, so a reordered slot on either side shows. Then the clauses of
// the host callback: what the plug-in does with each host value when the
// host answers 0, answers nonzero with nothing useful, or leaves garbage.
//
// The layout is the Itanium C++ ABI as GCC and Clang use it, on Linux and
// with mingw-w64 on Windows alike: an object's first word points at its
// table; a virtual destructor fills two entries (complete, then deleting);
// the table is preceded by the offset to the top and the type information.
// Every method is a plain function taking the object first, except on
// 32-bit Windows, where methods take the object in ECX (thiscall); the
// slot types below say so through VW_METHOD.
#include <gtest/gtest.h>

#include <cstdint>
#include <list>
#include <string>
#include <typeinfo>
#include <vector>

#include <versewell/plugin.h>

#include "support/LoadedLibrary.h"
#include "support/PluginEntry.h"
#include "support/WikiServer.h"

#if defined(_WIN32) && defined(__i386__)
#define VW_METHOD __attribute__((thiscall))
#else
#define VW_METHOD
#endif

namespace {

// ---------------------------------------------------------------------------
// The plug-in object's table: slot index -> function type.
// ---------------------------------------------------------------------------
namespace plugin_abi {
using DeletingDtor = void(VW_METHOD*)(void* self);
using SetProperty = BOOL(VW_METHOD*)(void* self, const CString& name, const CString* value);
using GetProperty = BOOL(VW_METHOD*)(void* self, const CString& name, void* value);
using CallMethod = BOOL(VW_METHOD*)(void* self, const CString& name, void* argument);
using FindArtistUrl = BOOL(VW_METHOD*)(void* self, const CString& artist, CString& artistUrl);
using FindArtistSongList = int(VW_METHOD*)(void* self, const CString& artist, std::list<SongListEntry>& songs);
using GetLyrics = BOOL(VW_METHOD*)(void* self, const CString& songUrl, CString& lyrics);
using SetHostCallback = BOOL(VW_METHOD*)(void* self, void* host);
using ExtraSearch = BOOL(VW_METHOD*)(void* self, int a, int b, int c, int d);

// Entries of the table: slot 0 (the destructor) takes entries 0 and 1, so
// slot n >= 1 is entry n + 1.
const int DELETING_DTOR = 1;
const int SET_PROPERTY = 2;
const int GET_PROPERTY = 3;
const int CALL_METHOD = 4;
const int FIND_ARTIST_URL = 5;
const int FIND_ARTIST_SONG_LIST = 6;
const int GET_LYRICS = 7;
const int SET_HOST_CALLBACK = 8;
const int EXTRA_SEARCH = 9;
}  // namespace plugin_abi

template <typename F>
F Entry(void* object, int index) {
  void* const* table = *static_cast<void* const* const*>(object);
  return reinterpret_cast<F>(table[index]);
}

// ---------------------------------------------------------------------------
// The host's objects, built by hand.
// ---------------------------------------------------------------------------
struct SHostValue {
  bool write = false;  // write `value` into the plug-in's buffer
  BOOL answer = 0;
};

struct SHostScript {
  SHostValue maxDiff, proxy, ignore;
  float maxDiffValue = 0.0f;
  std::wstring proxyValue;
  void* ignoreValue = nullptr;
  // What the plug-in did.
  std::vector<std::wstring> queries;      // host value names, in order
  std::vector<std::wstring> misuse;       // calls of slots the plug-in must not call
  std::vector<float> presetMaxDiff;       // the buffer's content when asked
  std::vector<std::wstring> presetProxy;
  std::vector<void*> presetIgnore;
  int stopQueries = 0;
  int notifications = 0;
};

struct SIgnoreLog {
  std::vector<std::wstring> calls;  // "add:<host>:<value>" / "remove:<host>"
  std::vector<std::wstring> misuse;
};

// The hand-made objects: a table pointer, then the object's own data.
struct SHandMadeHost {
  const void* const* vptr;
  SHostScript* script;
};
struct SHandMadeIgnore {
  const void* const* vptr;
  SIgnoreLog* log;
};

SHostScript& ScriptOf(void* self) { return *static_cast<SHandMadeHost*>(self)->script; }
SIgnoreLog& LogOf(void* self) { return *static_cast<SHandMadeIgnore*>(self)->log; }

// CHostCallback, slot by slot.
void VW_METHOD HostDtor(void* self) { ScriptOf(self).misuse.push_back(L"slot 0 (destructor)"); }
void VW_METHOD HostSlot1(void* self) { ScriptOf(self).misuse.push_back(L"slot 1"); }
BOOL VW_METHOD HostGetHostValue(void* self, const CString& name, void* value) {
  SHostScript& s = ScriptOf(self);
  s.queries.push_back(name.GetString());
  if (name == L"MaxMatchDifference") {
    s.presetMaxDiff.push_back(*static_cast<float*>(value));
    if (s.maxDiff.write) *static_cast<float*>(value) = s.maxDiffValue;
    return s.maxDiff.answer;
  }
  if (name == L"HttpProxy") {
    s.presetProxy.push_back(static_cast<CString*>(value)->GetString());
    if (s.proxy.write) *static_cast<CString*>(value) = s.proxyValue.c_str();
    return s.proxy.answer;
  }
  if (name == L"HostIgnore") {
    s.presetIgnore.push_back(*static_cast<void**>(value));
    if (s.ignore.write) *static_cast<void**>(value) = s.ignoreValue;
    return s.ignore.answer;
  }
  return 0;
}
void VW_METHOD HostSlot3(void* self) { ScriptOf(self).misuse.push_back(L"slot 3"); }
void VW_METHOD HostNotify(void* self) { ++ScriptOf(self).notifications; }
bool VW_METHOD HostIsStopRequested(void* self) {
  ++ScriptOf(self).stopQueries;
  return false;
}

// CHostIgnore, slot by slot.
void VW_METHOD IgnoreSlot0(void* self) { LogOf(self).misuse.push_back(L"slot 0"); }
BOOL VW_METHOD IgnoreAdd(void* self, const wchar_t* host, unsigned int value) {
  LogOf(self).calls.push_back(L"add:" + std::wstring(host != nullptr ? host : L"(null)") + L":" +
                              std::to_wstring(value));
  return 1;
}
BOOL VW_METHOD IgnoreRemove(void* self, const wchar_t* host) {
  LogOf(self).calls.push_back(L"remove:" + std::wstring(host != nullptr ? host : L"(null)"));
  return 1;
}

// Real classes of the two kinds, only for the type information in front of
// the hand-made tables (a sanitizer build checks the dynamic type of every
// object it calls a virtual method on).
class CHostTypeTag : public CHostCallback {
 public:
  BOOL GetHostValue(const CString&, void*) override { return 0; }
  void Notify() override {}
  bool IsStopRequested() override { return false; }
};
class CIgnoreTypeTag : public CHostIgnore {
 public:
  BOOL AddIgnoredHost(const wchar_t*, unsigned int) override { return 0; }
  BOOL RemoveIgnoredHost(const wchar_t*) override { return 0; }
};

template <typename F>
const void* Fn(F f) {
  return reinterpret_cast<const void*>(f);
}

const void* const kHostTable[] = {
    nullptr,  // offset to the top
    &typeid(CHostTypeTag),
    Fn(HostDtor),  // slot 0: complete destructor
    Fn(HostDtor),  // slot 0: deleting destructor
    Fn(HostSlot1),
    Fn(HostGetHostValue),
    Fn(HostSlot3),
    Fn(HostNotify),
    Fn(HostIsStopRequested),
};
const void* const kIgnoreTable[] = {
    nullptr,
    &typeid(CIgnoreTypeTag),
    Fn(IgnoreSlot0),
    Fn(IgnoreAdd),
    Fn(IgnoreRemove),
};

// ---------------------------------------------------------------------------
// The loaded library, kept loaded for the whole program as a host keeps it.
// ---------------------------------------------------------------------------
PFN_GetDllInterface LoadedEntry() {
  static PFN_GetDllInterface entry = [] {
    void* handle = LoadSharedLibrary(VERSEWELL_PLUGIN_PATH);
    return handle == nullptr ? nullptr
                             : FindPluginEntry(handle);
  }();
  return entry;
}

const wchar_t SALT_ROAD_FIRST_LINE[] = L"Down the salt road in the grey of the morning,\r\n";

class HostContract : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { s_server = new CWikiServer(std::string(VERSEWELL_SOURCE_DIR) + "/tests/wiki"); }
  static void TearDownTestSuite() {
    delete s_server;
    s_server = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(LoadedEntry(), nullptr) << LoaderError();
    m_pObject = LoadedEntry()();
    ASSERT_NE(m_pObject, nullptr);
    // By default the host answers every value properly.
    script.proxy = {true, 1};
    script.proxyValue = s_server->WProxy();
    script.ignore = {true, 1};
    script.ignoreValue = &ignoreObject;
  }
  void TearDown() override {
    if (m_pObject != nullptr) Entry<plugin_abi::DeletingDtor>(m_pObject, plugin_abi::DELETING_DTOR)(m_pObject);
    EXPECT_TRUE(script.misuse.empty()) << "the plug-in called a host slot it must not call";
    EXPECT_TRUE(ignoreLog.misuse.empty()) << "the plug-in called slot 0 of the ignore object";
    EXPECT_TRUE(trapLog.calls.empty() && trapLog.misuse.empty()) << "the plug-in touched an object after a 0 answer";
  }

  BOOL Register() {
    return Entry<plugin_abi::SetHostCallback>(m_pObject, plugin_abi::SET_HOST_CALLBACK)(m_pObject, &host);
  }
  BOOL FindArtistUrl(const wchar_t* artist, CString& url) {
    return Entry<plugin_abi::FindArtistUrl>(m_pObject, plugin_abi::FIND_ARTIST_URL)(m_pObject, artist, url);
  }
  std::wstring Lyrics(const wchar_t* url) {
    CString lyrics;
    if (Entry<plugin_abi::GetLyrics>(m_pObject, plugin_abi::GET_LYRICS)(m_pObject, url, lyrics) != 1) return L"(failed)";
    return lyrics.GetString();
  }

  static CWikiServer* s_server;
  void* m_pObject = nullptr;
  SHostScript script;
  SHandMadeHost host{&kHostTable[2], &script};
  SIgnoreLog ignoreLog;
  SHandMadeIgnore ignoreObject{&kIgnoreTable[2], &ignoreLog};
  SIgnoreLog trapLog;  // an ignore object handed over with a 0 answer
  SHandMadeIgnore trapObject{&kIgnoreTable[2], &trapLog};
};
CWikiServer* HostContract::s_server = nullptr;

}  // namespace

TEST_F(HostContract, EverySlotAnswersByIndex) {
  using namespace plugin_abi;
  void* p = m_pObject;
  CString name;
  ASSERT_EQ(1, Entry<GetProperty>(p, GET_PROPERTY)(p, L"SourceName", &name));
  EXPECT_EQ(name, L"Versewell");
  unsigned int counter = 7;
  ASSERT_EQ(1, Entry<GetProperty>(p, GET_PROPERTY)(p, L"StatisticDownloadCounter", &counter));
  EXPECT_EQ(0u, counter);
  CString level = L"Error", bogus = L"x";
  EXPECT_EQ(1, Entry<SetProperty>(p, SET_PROPERTY)(p, L"TraceLevel", &level));
  EXPECT_EQ(0, Entry<SetProperty>(p, SET_PROPERTY)(p, L"SourceName", &bogus));
  EXPECT_EQ(0, Entry<CallMethod>(p, CALL_METHOD)(p, L"NoSuchMethod", nullptr));
  EXPECT_EQ(0, Entry<ExtraSearch>(p, EXTRA_SEARCH)(p, 1, 2, 3, 4));
  EXPECT_EQ(0, Entry<SetHostCallback>(p, SET_HOST_CALLBACK)(p, nullptr));
  CString url;
  EXPECT_EQ(0, Entry<plugin_abi::FindArtistUrl>(p, FIND_ARTIST_URL)(p, L"Quillfeather", url));  // no host yet
  EXPECT_EQ(0, script.stopQueries);

  ASSERT_EQ(1, Register());
  ASSERT_EQ(1, Entry<plugin_abi::FindArtistUrl>(p, FIND_ARTIST_URL)(p, L"Quillfeather", url));
  EXPECT_EQ(url, L"lyrics.wiki.example/wiki/Quillfeather");

  std::list<SongListEntry> songs;
  ASSERT_EQ(8, Entry<FindArtistSongList>(p, FIND_ARTIST_SONG_LIST)(p, L"Quillfeather", songs));
  ASSERT_EQ(8u, songs.size());
  const SongListEntry& first = songs.front();
  EXPECT_EQ(first.Artist, L"Quillfeather");
  EXPECT_EQ(first.Url.rfind(L"lyrics.wiki.example/wiki/Quillfeather:", 0), 0u) << first.Url;
  EXPECT_TRUE(first.Extra1.empty());
  EXPECT_TRUE(first.Extra2.empty());
  EXPECT_FALSE(first.Flag);
  EXPECT_EQ(first.SourceName, L"Versewell");
  CString id;
  ASSERT_EQ(1, Entry<GetProperty>(p, GET_PROPERTY)(p, L"SourceId", &id));
  EXPECT_EQ(first.SourceId, id.GetString());
  EXPECT_EQ(32u, first.SourceId.size());

  EXPECT_EQ(0u, Lyrics(L"lyrics.wiki.example/wiki/Quillfeather:Salt_Road").find(SALT_ROAD_FIRST_LINE));

  // The host saw its own slots called and nothing else; the ignore object
  // got the site's host before and after every download.
  EXPECT_GT(script.stopQueries, 0);
  EXPECT_EQ(0, script.notifications);
  ASSERT_FALSE(ignoreLog.calls.empty());
  for (size_t i = 0; i < ignoreLog.calls.size(); ++i)
    EXPECT_EQ(ignoreLog.calls[i], i % 2 == 0 ? L"add:lyrics.wiki.example:1" : L"remove:lyrics.wiki.example") << i;
  unsigned int downloads = 0;
  ASSERT_EQ(1, Entry<GetProperty>(p, GET_PROPERTY)(p, L"StatisticDownloadCounter", &downloads));
  EXPECT_EQ(2 * downloads, ignoreLog.calls.size());
}

TEST_F(HostContract, ValuesArePresetBeforeTheHostIsAsked) {
  ASSERT_EQ(1, Register());
  script.maxDiff = {false, 0};
  CString url;
  ASSERT_EQ(1, FindArtistUrl(L"Quillfeather", url));
  ASSERT_EQ(1u, script.presetMaxDiff.size());
  EXPECT_EQ(1.0f, script.presetMaxDiff[0]);
  ASSERT_FALSE(script.presetProxy.empty());
  for (const std::wstring& preset : script.presetProxy) EXPECT_EQ(L"", preset);
  ASSERT_FALSE(script.presetIgnore.empty());
  for (void* preset : script.presetIgnore) EXPECT_EQ(nullptr, preset);
  EXPECT_EQ(script.presetProxy.size(), script.presetIgnore.size());
}

TEST_F(HostContract, MaxMatchDifferenceIsWhateverTheHostWroteWhateverItAnswers) {
  // The answer is ignored: a written value counts even with 0, and without
  // a written value the preset 1.0 stays even with a nonzero answer.
  ASSERT_EQ(1, Register());
  CString url;
  script.maxDiff = {true, 0};
  script.maxDiffValue = 0.0f;  // no distance is below 0
  EXPECT_EQ(0, FindArtistUrl(L"Quillfeather", url));
  EXPECT_TRUE(url.IsEmpty());
  script.maxDiff = {false, 1};
  EXPECT_EQ(1, FindArtistUrl(L"Quillfeather", url));
  EXPECT_EQ(url, L"lyrics.wiki.example/wiki/Quillfeather");
}

TEST_F(HostContract, HttpProxyIsWhateverTheHostWroteWhateverItAnswers) {
  ASSERT_EQ(1, Register());
  script.proxy = {true, 0};  // written, but answered 0: still the proxy to use
  EXPECT_EQ(0u, Lyrics(L"lyrics.wiki.example/wiki/Quillfeather:Salt_Road").find(SALT_ROAD_FIRST_LINE));
}

TEST_F(HostContract, HostIgnoreWrittenButAnsweredZeroIsNeverUsed) {
  ASSERT_EQ(1, Register());
  script.ignore = {true, 0};
  script.ignoreValue = &trapObject;
  EXPECT_EQ(0u, Lyrics(L"lyrics.wiki.example/wiki/Quillfeather:Salt_Road").find(SALT_ROAD_FIRST_LINE));
  EXPECT_EQ(1u, script.presetIgnore.size());
  // TearDown checks that the trap object was never called.
}

TEST_F(HostContract, HostIgnoreAnsweredZeroWithGarbageIsNeverTouched) {
  ASSERT_EQ(1, Register());
  script.ignore = {true, 0};
  // Not an object: any use of it would crash the test program.
  script.ignoreValue = reinterpret_cast<void*>(static_cast<uintptr_t>(0x10));
  EXPECT_EQ(0u, Lyrics(L"lyrics.wiki.example/wiki/Quillfeather:Salt_Road").find(SALT_ROAD_FIRST_LINE));
}

TEST_F(HostContract, HostIgnoreAnsweredNonzeroWithoutAnObjectIsSkipped) {
  ASSERT_EQ(1, Register());
  script.ignore = {false, 1};
  EXPECT_EQ(0u, Lyrics(L"lyrics.wiki.example/wiki/Quillfeather:Salt_Road").find(SALT_ROAD_FIRST_LINE));
  script.ignore = {true, 1};
  script.ignoreValue = nullptr;
  EXPECT_EQ(0u, Lyrics(L"lyrics.wiki.example/wiki/Quillfeather:Salt_Road").find(SALT_ROAD_FIRST_LINE));
  EXPECT_EQ(2u, script.presetIgnore.size());
  EXPECT_TRUE(ignoreLog.calls.empty());
}
