// Makes the compiler lay out the tables of the Windows host header's three
// interfaces (check_layout.py reads -fdump-vtable-layouts of this file).
#include "HostTypes.h"

namespace {

class CProbePlugin : public CLyricsDllInterface {
 public:
  BOOL SetProperty(const CString&, const CString*) override { return 0; }
  BOOL GetProperty(const CString&, void*) override { return 0; }
  BOOL CallMethod(const CString&, void*) override { return 0; }
  BOOL FindArtistUrl(const CString&, CString&) override { return 0; }
  int FindArtistSongList(const CString&, versewell_host::List<SongListEntry>&) override { return 0; }
  BOOL GetLyrics(const CString&, CString&) override { return 0; }
  BOOL SetHostCallback(CHostCallback*) override { return 0; }
  BOOL ExtraSearch(int, int, int, int) override { return 0; }
  void NotifyHost() override {}
  bool IsStopRequested() override { return false; }
  BOOL Download(const CString&, CString&) override { return 0; }
};

class CProbeHost : public CHostCallback {
 public:
  BOOL GetHostValue(const CString&, void*) override { return 0; }
  void Notify() override {}
  bool IsStopRequested() override { return false; }
};

class CProbeIgnore : public CHostIgnore {
 public:
  BOOL AddIgnoredHost(const wchar_t*, unsigned int) override { return 0; }
  BOOL RemoveIgnoredHost(const wchar_t*) override { return 0; }
};

}  // namespace

void* LayoutProbeObjects[] = {new CProbePlugin, new CProbeHost, new CProbeIgnore};
