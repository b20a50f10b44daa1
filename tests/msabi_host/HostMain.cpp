// A host built in Microsoft's C++ ABI that drives every slot of
// versewell.dll against the loopback wiki and checks what crosses the
// boundary: strings through their managers, the song list through the
// host's heap, and the plug-in's objects through their one-slot destructor.
//
// Configuration comes from the environment (tests/msabi_host/msabi_host_test.py
// sets it): VWHOST_DLL (the library), VWHOST_PROXY (the wiki, host:port),
// VWHOST_WORK (an existing folder for logs and the cache), VWHOST_ARTISTS
// ('|'-separated), VWHOST_MISSING (an artist the wiki does not have),
// VWHOST_DOWNLOAD (a site path for the Download slot), VWHOST_STALL (a site
// path that never answers); VWHOST_MODE=throw makes the run of the throwing
// callback instead (VWHOST_ARTISTS then names one artist).
//
// Output: records on standard output (HostRuntime.h: Emit); the script
// compares the results with the Linux CLI and the counts with each other.
// Exit code: 0 when every check of the host passed, 1 otherwise, 3 or 4 on
// a fatal error (an unhandled exception included).
#include "HostTypes.h"

extern "C" {
__declspec(dllimport) void* WINAPI SetUnhandledExceptionFilter(void* filter);
__declspec(dllimport) int WINAPI FindNextFileW(HANDLE find, void* data);
}

using msabi::Check;
using msabi::Decimal;
using msabi::FailedChecks;
using msabi::Emit;
using msabi::WideEqual;

namespace {

constexpr DWORD MSVC_EXCEPTION_CODE = 0xE06D7363;  // what a C++ throw raises

// Raises what a C++ throw of Microsoft's runtime raises, from inside a
// frame with cleanup code of the host's own (a __finally, which the
// system's unwind runs the way it runs a destructor): `*cleanups` counts
// the times that cleanup ran. A function of its own, as __try cannot share
// a frame with objects that have destructors.
__declspec(noinline) void RaiseCxxException(int* cleanups) {
  __try {
    static int thrown = 0;
    size_t arguments[4] = {0x19930520, reinterpret_cast<size_t>(&thrown), 0, 0};
    RaiseException(MSVC_EXCEPTION_CODE, 1, sizeof(void*) == 8 ? 4 : 3, arguments);
  } __finally {
    ++*cleanups;
  }
}

long WINAPI OnUnhandledException(void*) {
  msabi::EmitRaw("fatal\tunhandled exception in the host\n");
  ExitProcess(4);
  return 0;
}

// Fixed-size wide text, for paths and names.
struct SText {
  wchar_t sz[2048];
  SText() { sz[0] = 0; }
  SText& operator+=(const wchar_t* more) {
    size_t n = wcslen(sz), m = wcslen(more);
    if (n + m >= 2048) m = 2047 - n;
    memcpy(sz + n, more, m * 2);
    sz[n + m] = 0;
    return *this;
  }
};

const wchar_t* Num(long value) {
  static wchar_t buffers[8][24];
  static int next = 0;
  next = (next + 1) % 8;
  return Decimal(value, buffers[next]);
}

// The host's CHostIgnore: counts balanced add/remove pairs.
class CTestIgnore : public CHostIgnore {
 public:
  BOOL AddIgnoredHost(const wchar_t* host, unsigned int value) override {
    ++m_nAdds;
    if (host == nullptr || value != 1) ++m_nBad;
    return 1;
  }
  BOOL RemoveIgnoredHost(const wchar_t* host) override {
    ++m_nRemoves;
    if (host == nullptr) ++m_nBad;
    return 1;
  }
  int m_nAdds = 0, m_nRemoves = 0, m_nBad = 0;
};

// The host's callback. Slot 0 is the scalar deleting destructor; the
// plug-in must never call it (m_bOwnerEnding tells the host's own end).
class CTestHost : public CHostCallback {
 public:
  explicit CTestHost(const wchar_t* proxy) : m_strProxy(proxy) {}
  ~CTestHost() override {
    Check(m_bOwnerEnding, L"the host's callback object is ended by the host only");
  }

  BOOL GetHostValue(const CString& name, void* value) override {
    ++m_nValueCalls;
    // Raised before anything of this frame needs unwinding; the frame
    // below has cleanup code, which must run on the way out.
    if (m_pszThrowOn != nullptr && name == m_pszThrowOn) {
      ++m_nThrown;
      RaiseCxxException(&m_nThrowCleanups);
    }
    CString copy(name);  // shares (AddRef) through the plug-in's own manager
    msabi::CStringData* header = name.GetData();
    if (header->pStringMgr == nullptr || header->nRefs < 1 || header->nDataLength != int(wcslen(name.GetString())) ||
        header->pStringMgr == CString::DefaultManager())
      ++m_nBadNames;
    if (value == nullptr) return 0;
    if (copy == L"MaxMatchDifference") {
      float* threshold = static_cast<float*>(value);
      if (*threshold != 1.0f) ++m_nBadPresets;
      *threshold = 1.0f;  // the value the Linux CLI leaves in place
      return 1;
    }
    if (copy == L"HttpProxy") {
      CString* target = static_cast<CString*>(value);
      msabi::CStringData* preset = target->GetData();
      msabi::IAtlStringMgr* presetMgr = preset->pStringMgr;
      if (preset->nDataLength != 0 || presetMgr == CString::DefaultManager()) ++m_nBadPresets;
      *target = m_strProxy;  // another manager: written through the target's
      if (!(*target == m_strProxy.GetString()) || target->GetData()->pStringMgr != presetMgr) ++m_nBadProxyWrites;
      ++m_nProxyWrites;
      return 1;
    }
    if (copy == L"HostIgnore") {
      *static_cast<CHostIgnore**>(value) = &m_ignore;
      return 1;
    }
    return 0;
  }
  void Notify() override { ++m_nNotifies; }
  bool IsStopRequested() override {
    ++m_nStopQueries;
    if (m_nStopAfterMs < 0) return false;
    // The first question comes before the download; from then on the
    // answer turns to "stop" once the request has had time to stall.
    if (m_nStopQueries == 1) m_nStallStart = GetTickCount();
    return m_nStopQueries > 1 && GetTickCount() - m_nStallStart >= DWORD(m_nStopAfterMs);
  }

  CString m_strProxy;
  CTestIgnore m_ignore;
  const wchar_t* m_pszThrowOn = nullptr;
  int m_nStopAfterMs = -1;  // answer "stop" this long into a download; -1 never
  DWORD m_nStallStart = 0;
  int m_nStopQueries = 0;
  int m_nValueCalls = 0, m_nBadNames = 0, m_nBadPresets = 0, m_nProxyWrites = 0, m_nBadProxyWrites = 0;
  int m_nNotifies = 0, m_nThrown = 0, m_nThrowCleanups = 0;
  bool m_bOwnerEnding = false;
};

struct SConfig {
  wchar_t dll[1024], proxy[128], work[1024], artists[4096], missing[256], download[1024], stall[1024];
  bool throwing;  // the run of the throwing callback only
};

// A CString result must be the host's: one owner, the host's manager, a
// consistent header.
bool IsHostResult(const CString& s) {
  msabi::CStringData* d = s.GetData();
  if (d->nDataLength == 0) return true;
  return d->pStringMgr == CString::DefaultManager() && d->nRefs == 1 && d->nAllocLength >= d->nDataLength &&
         s.GetString()[d->nDataLength] == 0;
}

class CScenario {
 public:
  explicit CScenario(const SConfig& config) : m_config(config), m_host(config.proxy) {}
  int Run();
  // The host's end of its callback object (the plug-in must never end it).
  void EndHost() { m_host.m_bOwnerEnding = true; }
  unsigned int HostBlocksGiven() const { return m_nHostBlocksGiven; }

 private:
  CLyricsDllInterface* NewPlugin();
  void FreshObject(CLyricsDllInterface* p);
  void Configure(CLyricsDllInterface* p, const wchar_t* logFolder);
  void SearchArtist(CLyricsDllInterface* p, const wchar_t* artist);
  void DownloadPage(CLyricsDllInterface* p);
  void StopDuringStall(CLyricsDllInterface* p);
  void BadInput(CLyricsDllInterface* p);
  void ThrowingCallback(CLyricsDllInterface* p);
  void DeleteAndUnload(CLyricsDllInterface* p);

  void OpenCaseLog(CLyricsDllInterface* p, const wchar_t* name);
  static void CallMethodCloseLog(CLyricsDllInterface* p) { p->CallMethod(CString(L"CloseAndMergeLog"), nullptr); }
  long CloseCaseLog(CLyricsDllInterface* p, const wchar_t* name);
  static long TraceLines(const wchar_t* folder);

  const SConfig& m_config;
  CTestHost m_host;
  HMODULE m_hModule = nullptr;
  PFN_GetDllInterface m_pfnEntry = nullptr;
  SText m_site;              // the site host, learnt from the first address
  SText m_goodSongUrl;       // a song with lyrics, for the buffer cases
  SText m_goodArtist;
  SText m_caseFolder;
  unsigned int m_nHostBlocksGiven = 0;  // blocks of entries the host put in lists it handed over
};

CLyricsDllInterface* CScenario::NewPlugin() {
  CLyricsDllInterface* p = m_pfnEntry();
  if (p == nullptr) {
    msabi::EmitRaw("fatal\tGetDllInterface returned null\n");
    ExitProcess(3);
  }
  return p;
}

void CScenario::FreshObject(CLyricsDllInterface* p) {
  const wchar_t* textNames[] = {L"SourceName", L"SourceId"};
  for (const wchar_t* name : textNames) {
    CString value;  // on the host manager's nil string
    BOOL ok = p->GetProperty(CString(name), &value);
    Check(IsHostResult(value), L"property result is a host string", name);
    const wchar_t* fields[] = {L"fresh", name, Num(ok), value.GetString()};
    Emit(fields, 4);
  }
  const wchar_t* numberNames[] = {L"StatisticDownloadCounter", L"StatisticSuccessfulDownloads",
                                  L"StatisticTotalDownloadTime", L"SupportedSearch", L"AlbumsItearationConstant",
                                  L"TitlesItearationConstant"};
  for (const wchar_t* name : numberNames) {
    unsigned int value = 12345;
    BOOL ok = p->GetProperty(CString(name), &value);
    const wchar_t* fields[] = {L"fresh", name, Num(ok), Num(long(value))};
    Emit(fields, 4);
  }
  Check(p->ExtraSearch(1, 2, 3, 4) == 0, L"ExtraSearch answers 0");
  Check(p->IsStopRequested(), L"IsStopRequested without a host is true");
  Check(p->SetHostCallback(nullptr) == 0, L"SetHostCallback(null) is 0");
  CString url;
  Check(p->FindArtistUrl(CString(L"Quillfeather"), url) == 0 && url.GetLength() == 0,
        L"no search without a host");
  Check(p->SetHostCallback(&m_host) == 1, L"SetHostCallback(host) is 1");
  int before = m_host.m_nNotifies;
  p->NotifyHost();
  Check(m_host.m_nNotifies == before + 1, L"NotifyHost reaches the host's Notify");
  int queries = m_host.m_nStopQueries;
  Check(!p->IsStopRequested() && m_host.m_nStopQueries == queries + 1, L"IsStopRequested asks the host");
}

void CScenario::Configure(CLyricsDllInterface* p, const wchar_t* logFolder) {
  SText cache, parent;
  (cache += m_config.work) += L"\\cache";
  (parent += m_config.work) += L"\\parent.log";
  CreateDirectoryW(logFolder, nullptr);
  CreateDirectoryW(cache.sz, nullptr);
  CString logValue(logFolder), level(L"Warning"), cacheValue(cache.sz), parentValue(parent.sz);
  Check(p->SetProperty(CString(L"LogFolder"), &logValue) == 1, L"set LogFolder");
  Check(p->SetProperty(CString(L"TraceLevel"), &level) == 1, L"set TraceLevel");
  Check(p->SetProperty(CString(L"LocalCacheFolder"), &cacheValue) == 1, L"set LocalCacheFolder");
  Check(p->SetProperty(CString(L"ParentLogfilePath"), &parentValue) == 1, L"set ParentLogfilePath");
  CString name(L"Versewell");
  Check(p->SetProperty(CString(L"SourceName"), &name) == 0, L"SourceName cannot be set");
}

void CScenario::SearchArtist(CLyricsDllInterface* p, const wchar_t* artist) {
  CString url;
  BOOL found = p->FindArtistUrl(CString(artist), url);
  Check(IsHostResult(url), L"FindArtistUrl result is a host string", artist);
  const wchar_t* urlFields[] = {L"artist_url", artist, Num(found), url.GetString()};
  Emit(urlFields, 4);
  if (found && m_site.sz[0] == 0) {
    const wchar_t* slash = url.GetString();
    while (*slash != 0 && *slash != L'/') ++slash;
    size_t n = size_t(slash - url.GetString());
    memcpy(m_site.sz, url.GetString(), n * 2);
    m_site.sz[n] = 0;
  }

  // A list that already holds entries, one with a field on the big-block
  // path: the plug-in must free them the way the host's library would.
  versewell_host::List<SongListEntry> songs;
  SongListEntry small;
  small.Title = L"old";
  songs.push_back(small);
  SongListEntry big;
  static wchar_t longText[3001];
  for (int i = 0; i < 3000; ++i) longText[i] = wchar_t(L'a' + i % 26);
  big.Title = msstl::wstring(longText, 3000);
  big.Url = msstl::wstring(longText, 100);
  songs.push_back(big);
  unsigned int givenBefore = msabi::HeapCounts().nHostFreedByPlugin;
  const unsigned int given = 4;  // two nodes, the big title, the url

  int count = p->FindArtistSongList(CString(artist), songs);
  unsigned int freedByPlugin = msabi::HeapCounts().nHostFreedByPlugin - givenBefore;
  const wchar_t* songsFields[] = {L"songs", artist, Num(count), Num(long(songs.size()))};
  Emit(songsFields, 4);
  if (songs.size() == 2 && count == 0 && songs.head()->next->value.Title.size() == 3) {
    Check(freedByPlugin == 0, L"a failed search leaves the host's list alone", artist);
  } else {
    m_nHostBlocksGiven += given;
    Check(freedByPlugin == given, L"the old entries were freed by the plug-in, once each", Num(long(freedByPlugin)));
    Check(songs.CheckHanded([](const SongListEntry& e) {
      return e.Title.CheckHanded() && e.Artist.CheckHanded() && e.Extra1.CheckHanded() && e.Url.CheckHanded() &&
             e.Extra2.CheckHanded() && e.SourceName.CheckHanded() && e.SourceId.CheckHanded();
    }), L"the song list is in the host's layout, on the host's heap", artist);
  }
  long index = 0;
  for (const auto* n = songs.head()->next; n != songs.head() && count > 0; n = n->next, ++index) {
    const SongListEntry& e = n->value;
    const wchar_t* fields[] = {L"song", artist, Num(index), e.Title.c_str(), e.Url.c_str(), e.Artist.c_str(),
                               e.Extra1.c_str(), e.Extra2.c_str(), e.SourceName.c_str(), e.SourceId.c_str(),
                               e.Flag ? L"1" : L"0"};
    Emit(fields, 11);
  }
  for (const auto* n = songs.head()->next; n != songs.head() && count > 0; n = n->next) {
    CString lyrics;
    CString songUrl(n->value.Url.c_str());
    BOOL ok = p->GetLyrics(songUrl, lyrics);
    Check(IsHostResult(lyrics), L"GetLyrics result is a host string");
    const wchar_t* fields[] = {L"lyrics", n->value.Url.c_str(), Num(ok), lyrics.GetString()};
    Emit(fields, 4);
    if (ok && m_goodSongUrl.sz[0] == 0 && lyrics.GetLength() > 40) {
      m_goodSongUrl += n->value.Url.c_str();
      m_goodArtist += artist;
    }
  }
}

void CScenario::DownloadPage(CLyricsDllInterface* p) {
  SText address;
  (address += m_site.sz) += m_config.download;
  CString page;
  BOOL ok = p->Download(CString(address.sz), page);
  Check(IsHostResult(page), L"Download result is a host string");
  const wchar_t* fields[] = {L"download", m_config.download, Num(ok), page.GetString()};
  Emit(fields, 4);
  Check(m_host.m_nProxyWrites > 0 && m_host.m_nBadProxyWrites == 0, L"HttpProxy written into the plug-in's string");
  Check(m_host.m_nBadPresets == 0, L"host values arrive preset (1.0, empty proxy)");
  Check(m_host.m_nBadNames == 0 && m_host.m_nValueCalls > 0, L"GetHostValue names are the plug-in's strings");
  Check(m_host.m_ignore.m_nAdds > 0 && m_host.m_ignore.m_nAdds == m_host.m_ignore.m_nRemoves &&
            m_host.m_ignore.m_nBad == 0,
        L"HostIgnore add/remove in pairs");
  const wchar_t* stats[] = {L"StatisticDownloadCounter", L"StatisticSuccessfulDownloads",
                            L"StatisticTotalDownloadTime"};
  for (const wchar_t* name : stats) {
    unsigned int value = 0;
    BOOL got = p->GetProperty(CString(name), &value);
    const wchar_t* statFields[] = {L"stat", name, Num(got), Num(long(value))};
    Emit(statFields, 4);
  }
  Check(p->CallMethod(CString(L"CloseAndMergeLog"), nullptr) == 1, L"CloseAndMergeLog");
  Check(p->CallMethod(CString(L"NoSuchMethod"), nullptr) == 0, L"unknown method refused");
}

void CScenario::StopDuringStall(CLyricsDllInterface* p) {
  SText address;
  (address += m_site.sz) += m_config.stall;
  CString page;
  m_host.m_nStopQueries = 0;
  m_host.m_nStopAfterMs = 1000;
  DWORD start = GetTickCount();
  BOOL ok = p->Download(CString(address.sz), page);
  DWORD took = GetTickCount() - start;
  m_host.m_nStopAfterMs = -1;
  Check(ok == 0 && page.GetLength() == 0, L"a stopped download fails");
  Check(m_host.m_nStopQueries >= 2, L"the stalled download asked the host again", Num(m_host.m_nStopQueries));
  const wchar_t* fields[] = {L"stall_ms", Num(long(took))};
  Emit(fields, 2);
}

void CScenario::OpenCaseLog(CLyricsDllInterface* p, const wchar_t* name) {
  m_caseFolder = SText();
  ((m_caseFolder += m_config.work) += L"\\case-") += name;
  CreateDirectoryW(m_caseFolder.sz, nullptr);
  CString folder(m_caseFolder.sz), level(L"Warning");
  p->SetProperty(CString(L"LogFolder"), &folder);
  p->SetProperty(CString(L"TraceLevel"), &level);
}

long CScenario::CloseCaseLog(CLyricsDllInterface* p, const wchar_t* name) {
  long lines = TraceLines(m_caseFolder.sz);
  p->CallMethod(CString(L"CloseAndMergeLog"), nullptr);
  const wchar_t* fields[] = {L"trace_lines", name, Num(lines)};
  Emit(fields, 3);
  return lines;
}

// Lines (LF code units) in the one trace file of `folder`; -1 when there is
// none or it cannot be read.
long CScenario::TraceLines(const wchar_t* folder) {
  SText pattern;
  (pattern += folder) += L"\\*";
  alignas(8) unsigned char data[600];
  HANDLE find = FindFirstFileW(pattern.sz, data);
  if (find == HANDLE(-1)) return -1;
  SText file;
  do {
    const wchar_t* name = reinterpret_cast<const wchar_t*>(data + 44);
    if (!WideEqual(name, L".") && !WideEqual(name, L"..")) {
      ((file += folder) += L"\\") += name;
      break;
    }
  } while (FindNextFileW(find, data));
  FindClose(find);
  if (file.sz[0] == 0) return -1;
  HANDLE h = CreateFileW(file.sz, 0x80000000, 7, nullptr, 3, 0, nullptr);
  if (h == HANDLE(-1)) return -1;
  long lines = 0;
  wchar_t chunk[4096];
  DWORD got = 0;
  while (ReadFile(h, chunk, sizeof(chunk), &got, nullptr) && got > 0)
    for (DWORD i = 0; i < got / 2; ++i)
      if (chunk[i] == L'\n') ++lines;
  CloseHandle(h);
  return lines;
}

void CScenario::BadInput(CLyricsDllInterface* p) {
  // The number of lines a log holds around one failure line.
  OpenCaseLog(p, L"calibrate");
  unsigned int dummy = 0;
  Check(p->GetProperty(CString(L"NoSuchProperty"), &dummy) == 0, L"unknown property refused");
  CloseCaseLog(p, L"calibrate");

  OpenCaseLog(p, L"null_set");
  Check(p->SetProperty(CString(L"ParentLogfilePath"), nullptr) == 0, L"SetProperty with a null value is 0");
  CloseCaseLog(p, L"null_set");

  OpenCaseLog(p, L"null_get");
  Check(p->GetProperty(CString(L"SourceName"), nullptr) == 0, L"GetProperty with a null value is 0");
  CloseCaseLog(p, L"null_get");

  OpenCaseLog(p, L"nil_input");
  {
    CString nilUrl, lyrics;
    Check(p->GetLyrics(nilUrl, lyrics) == 0 && lyrics.GetLength() == 0, L"GetLyrics of the nil string is 0");
  }
  CloseCaseLog(p, L"nil_input");

  OpenCaseLog(p, L"locked_small");
  {
    CString lyrics;
    wchar_t* buffer = lyrics.LockBuffer();
    msabi::CStringData* header = lyrics.GetData();
    int room = header->nAllocLength;
    BOOL ok = p->GetLyrics(CString(m_goodSongUrl.sz), lyrics);
    Check(ok == 0 && lyrics.GetString() == buffer && lyrics.GetData()->nRefs == -1 && lyrics.GetLength() == 0 &&
              header->nAllocLength == room,
          L"a locked buffer too small is left alone, result 0", Num(room));
    lyrics.UnlockBuffer();
  }
  CloseCaseLog(p, L"locked_small");

  {
    CString expected;
    Check(p->GetLyrics(CString(m_goodSongUrl.sz), expected) == 1, L"lyrics for the locked-buffer case");
    CString lyrics;
    lyrics.GetBuffer(expected.GetLength() + 100);
    lyrics.ReleaseBufferSetLength(0);
    wchar_t* buffer = lyrics.LockBuffer();
    BOOL ok = p->GetLyrics(CString(m_goodSongUrl.sz), lyrics);
    Check(ok == 1 && lyrics.GetString() == buffer && lyrics.GetData()->nRefs == -1 &&
              lyrics == expected.GetString() && lyrics.GetLength() == expected.GetLength(),
          L"a locked buffer large enough is written in place");
    lyrics.UnlockBuffer();
  }

  static msabi::CCountingStringMgr failing(true);
  OpenCaseLog(p, L"allocate_null");
  {
    CString url(&failing);
    BOOL ok = p->FindArtistUrl(CString(m_goodArtist.sz), url);
    Check(ok == 0 && url.GetLength() == 0 && url.GetData()->pStringMgr == &failing && failing.m_nRefused > 0,
          L"a manager that returns null fails FindArtistUrl", Num(failing.m_nRefused));
  }
  CloseCaseLog(p, L"allocate_null");

  OpenCaseLog(p, L"allocate_null_property");
  {
    CString name(&failing);
    long refusedBefore = failing.m_nRefused;
    BOOL ok = p->GetProperty(CString(L"SourceName"), &name);
    Check(ok == 0 && name.GetLength() == 0 && failing.m_nRefused > refusedBefore,
          L"a manager that returns null fails GetProperty");
  }
  CloseCaseLog(p, L"allocate_null_property");
  Check(failing.m_nLive == 0 && failing.m_nBadFrees == 0, L"the failing manager was left clean");
}

// An exception raised by the host's callback (the SEH exception a C++ throw
// of Microsoft's runtime raises) must end in the plug-in as the operation's
// failure; the object must go on working. A run of its own: when the
// exception escapes, the host process ends.
void CScenario::ThrowingCallback(CLyricsDllInterface* p) {
  CString expected;
  Check(p->FindArtistUrl(CString(m_goodArtist.sz), expected) == 1, L"the artist before the callback throws");
  OpenCaseLog(p, L"callback_throws");
  {
    CString url;
    m_host.m_pszThrowOn = L"MaxMatchDifference";
    BOOL ok = p->FindArtistUrl(CString(m_goodArtist.sz), url);
    m_host.m_pszThrowOn = nullptr;
    Check(m_host.m_nThrown == 1 && ok == 0 && url.GetLength() == 0, L"a throwing callback fails the search");
    Check(m_host.m_nThrowCleanups == 1, L"the host's own cleanup ran as the exception left its frames",
          Num(m_host.m_nThrowCleanups));
  }
  CloseCaseLog(p, L"callback_throws");
  CString url;
  BOOL ok = p->FindArtistUrl(CString(m_goodArtist.sz), url);
  Check(ok == 1 && url == expected.GetString(), L"the object works after the callback threw");
}

void CScenario::DeleteAndUnload(CLyricsDllInterface* p) {
  // Slot 0 with "free the memory too": the object's memory is the plug-in's.
  CLyricsDllInterface* second = NewPlugin();
  Check(second != p && second->SetHostCallback(&m_host) == 1, L"a second, distinct object");
  unsigned int hostFreesBefore = msabi::HeapCounts().nHostFreesOfOwn;
  delete second;
  Check(msabi::HeapCounts().nHostFreesOfOwn == hostFreesBefore, L"delete through slot 0 frees in the plug-in");
  CString name;
  Check(p->GetProperty(CString(L"SourceName"), &name) == 1 && name == L"Versewell",
        L"the first object lives on after the second is deleted");

  // Unload with objects alive: the library deletes them itself.
  CLyricsDllInterface* third = NewPlugin();
  third->SetHostCallback(&m_host);
  CString thirdName;
  third->GetProperty(CString(L"SourceName"), &thirdName);
  Check(FreeLibrary(m_hModule) != 0, L"FreeLibrary with two live objects");
  m_hModule = nullptr;
}

// After every object of the host is gone.
void FinalAccounting(unsigned int hostBlocksGiven) {
  const msabi::SHeapCounts& h = msabi::HeapCounts();
  const msstl::SHandOver& o = msstl::HandOver();
  struct {
    const wchar_t* name;
    long value;
  } counts[] = {
      {L"host_heap_allocs", long(h.nHostAllocs)},
      {L"host_heap_frees_by_host", long(h.nHostFreesOfOwn)},
      {L"host_blocks_handed_to_plugin", long(hostBlocksGiven)},
      {L"host_blocks_freed_by_plugin", long(h.nHostFreedByPlugin)},
      {L"plugin_heap_allocs", long(h.nPluginAllocs)},
      {L"plugin_heap_frees_by_plugin", long(h.nPluginFreesOfOwn)},
      {L"plugin_blocks_handed_to_host", long(o.nBlocks)},
      {L"plugin_big_blocks_handed_to_host", long(o.nBigBlocks)},
      {L"plugin_blocks_freed_by_host", long(h.nPluginFreedByHost)},
      {L"plugin_untracked_frees", long(h.nPluginUntrackedFrees)},
      {L"plugin_blocks_live_after_unload", long(h.nLivePlugin)},
      {L"host_blocks_live", long(h.nLiveHost)},
      {L"double_frees", long(h.nDoubleFrees)},
      {L"foreign_frees", long(h.nForeignFrees)},
      {L"bad_handed_blocks", long(o.nBadBlocks)},
      {L"bad_handed_strings", long(o.nBadStrings)},
      {L"bad_list_links", long(o.nBadLinks)},
  };
  for (const auto& c : counts) {
    const wchar_t* fields[] = {L"count", c.name, Num(c.value)};
    Emit(fields, 3);
  }
  Check(h.nDoubleFrees == 0 && h.nForeignFrees == 0, L"nothing freed twice or foreign");
  Check(o.nBadBlocks == 0 && o.nBadStrings == 0 && o.nBadLinks == 0, L"every handed block was well-formed");
  Check(h.nPluginFreedByHost == o.nBlocks, L"every plug-in block handed to the host was freed once by the host");
  Check(h.nHostFreedByPlugin == hostBlocksGiven, L"every host block handed over was freed once by the plug-in");
  Check(h.nLiveHost == 0, L"no host block left");
}

int CScenario::Run() {
  m_hModule = LoadLibraryW(m_config.dll);
  if (m_hModule == nullptr) {
    msabi::EmitRaw("fatal\tLoadLibraryW failed\n");
    return 3;
  }
  msabi::PatchHeapImports(m_hModule);
  m_pfnEntry = reinterpret_cast<PFN_GetDllInterface>(GetProcAddress(m_hModule, "GetDllInterface"));
  if (m_pfnEntry == nullptr) {
    msabi::EmitRaw("fatal\tno GetDllInterface export\n");
    return 3;
  }
  CLyricsDllInterface* p = NewPlugin();
  FreshObject(p);
  SText logFolder;
  (logFolder += m_config.work) += L"\\log";
  Configure(p, logFolder.sz);
  if (m_config.throwing) {
    m_goodArtist += m_config.artists;
    CallMethodCloseLog(p);
    ThrowingCallback(p);
    DeleteAndUnload(p);
    return 0;
  }

  // '|'-separated artists.
  SText artists;
  artists += m_config.artists;
  wchar_t* start = artists.sz;
  for (wchar_t* c = artists.sz;; ++c) {
    if (*c == L'|' || *c == 0) {
      bool last = *c == 0;
      *c = 0;
      if (*start != 0) SearchArtist(p, start);
      if (last) break;
      start = c + 1;
    }
  }
  SearchArtist(p, m_config.missing);
  Check(m_site.sz[0] != 0 && m_goodSongUrl.sz[0] != 0, L"the searches found an artist and lyrics");
  if (FailedChecks() > 0 && m_goodSongUrl.sz[0] == 0) return 1;
  Check(msabi::HeapRoutesSeen() >= 2, L"the library takes malloc and free from ucrtbase");
  DownloadPage(p);
  StopDuringStall(p);
  BadInput(p);
  DeleteAndUnload(p);
  return 0;
}

}  // namespace

extern "C" void __stdcall HostEntry() {
  SetUnhandledExceptionFilter(reinterpret_cast<void*>(&OnUnhandledException));
  static msabi::CCountingStringMgr hostMgr;
  CString::SetDefaultManager(&hostMgr);
  static SConfig config;
  msabi::Env(L"VWHOST_DLL", config.dll, 1024);
  msabi::Env(L"VWHOST_PROXY", config.proxy, 128);
  msabi::Env(L"VWHOST_WORK", config.work, 1024);
  msabi::Env(L"VWHOST_ARTISTS", config.artists, 4096);
  msabi::Env(L"VWHOST_MISSING", config.missing, 256);
  msabi::Env(L"VWHOST_DOWNLOAD", config.download, 1024);
  msabi::Env(L"VWHOST_STALL", config.stall, 1024);
  wchar_t mode[16];
  config.throwing = WideEqual(msabi::Env(L"VWHOST_MODE", mode, 16), L"throw");
  CScenario* scenario = new CScenario(config);
  int code = scenario->Run();
  unsigned int hostBlocksGiven = scenario->HostBlocksGiven();
  scenario->EndHost();
  delete scenario;
  const wchar_t* mgrCounts[][2] = {{L"host_string_allocs", Num(hostMgr.m_nAllocs)},
                                   {L"host_string_reallocs", Num(hostMgr.m_nReallocs)},
                                   {L"host_string_frees", Num(hostMgr.m_nFrees)},
                                   {L"host_strings_live", Num(hostMgr.m_nLive)},
                                   {L"host_string_bad_frees", Num(hostMgr.m_nBadFrees)}};
  for (auto& c : mgrCounts) {
    const wchar_t* fields[] = {L"count", c[0], c[1]};
    Emit(fields, 3);
  }
  FinalAccounting(hostBlocksGiven);
  Check(hostMgr.m_nLive == 0 && hostMgr.m_nBadFrees == 0 && hostMgr.m_nFrees == hostMgr.m_nAllocs - hostMgr.m_nReallocs,
        L"every host string buffer was freed once through the host's manager");
  ExitProcess(code != 0 ? unsigned(code) : FailedChecks() > 0 ? 1u : 0u);
}
