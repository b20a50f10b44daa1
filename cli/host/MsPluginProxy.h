// CMsPluginProxy: a plug-in object of the Windows DLL, which speaks a
// Microsoft-built host's ABI, offered to this program as its own
// CLyricsDllInterface. Every call goes through the DLL object's
// Microsoft-layout table; strings cross as MFC CStringW objects of this
// program's own string manager (msabi::CLocalStringMgr), the song list as a
// Microsoft std::list<SongListEntry> on the Universal C Runtime heap, and
// the host callback as a Microsoft-layout CHostCallback (and CHostIgnore)
// table in front of the program's own objects.
//
// Ownership: the proxy owns the DLL object and deletes it through slot 0
//   (flags 1) when it is deleted; it never owns the host callback.
// Failure: what the DLL answers; a string or list the heap cannot take
//   raises std::bad_alloc. Nothing the program's callback raises reaches
//   the DLL: such a call answers 0 (IsStopRequested: true).
// Threads: one thread at a time per proxy, as for the DLL object.
#ifndef VERSEWELL_CLI_HOST_MS_PLUGIN_PROXY_H
#define VERSEWELL_CLI_HOST_MS_PLUGIN_PROXY_H

#include <versewell/plugin.h>

#include "platform/win32/msabi/MsLayout.h"

namespace cli {

typedef msabi::SPluginObject* (*PFN_GetMsDllInterface)();

class CMsPluginProxy : public CLyricsDllInterface {
 public:
  explicit CMsPluginProxy(msabi::SPluginObject* remote);
  ~CMsPluginProxy() override;
  CMsPluginProxy(const CMsPluginProxy&) = delete;
  CMsPluginProxy& operator=(const CMsPluginProxy&) = delete;

  BOOL SetProperty(const CString& name, const CString* value) override;
  BOOL GetProperty(const CString& name, void* value) override;
  BOOL CallMethod(const CString& name, void* argument) override;
  BOOL FindArtistUrl(const CString& artist, CString& artistUrl) override;
  int FindArtistSongList(const CString& artist, std::list<SongListEntry>& songs) override;
  BOOL GetLyrics(const CString& songUrl, CString& lyrics) override;
  BOOL SetHostCallback(CHostCallback* host) override;
  BOOL ExtraSearch(int a, int b, int c, int d) override;

  // The DLL's object behind this proxy.
  msabi::SPluginObject* Remote() const { return m_pRemote; }

  // Slots 9-11, which the program's header does not declare.
  void NotifyHost();
  bool IsStopRequested();
  BOOL Download(const CString& url, CString& page);

  // The host's objects in Microsoft's layout, as the DLL sees them.
  struct SIgnoreBridge : msabi::SHostIgnore {
    CHostIgnore* pIgnore;
  };
  struct SHostBridge : msabi::SHostCallback {
    CHostCallback* pHost;
    SIgnoreBridge ignore;
  };

 private:
  const msabi::SPluginTable& Table() const { return *m_pRemote->vtbl; }
  msabi::SPluginObject* m_pRemote;
  SHostBridge m_bridge;
};

}  // namespace cli

#endif  // VERSEWELL_CLI_HOST_MS_PLUGIN_PROXY_H
