#include "cli/host/MsPluginProxy.h"

#include <new>

#include "platform/win32/msabi/MsCString.h"
#include "platform/win32/msabi/MsSongList.h"

namespace cli {
namespace {

using msabi::CLocalCString;
using msabi::SCString;
using Bridge = CMsPluginProxy::SHostBridge;
using IgnoreBridge = CMsPluginProxy::SIgnoreBridge;

// Writes `text` into the DLL's string (through its own manager).
bool WriteInto(SCString* target, const CString& text) {
  const wchar_t* reason = nullptr;
  return msabi::AssignCString(target, text.GetString(), static_cast<size_t>(text.GetLength()), reason);
}

// ---------------------------------------------------------------------------
// The program's CHostCallback and CHostIgnore behind Microsoft-layout tables
// ---------------------------------------------------------------------------
msabi::SHostCallback* MSABI_THISCALL HostDtor(msabi::SHostCallback* self, unsigned int) { return self; }
void MSABI_THISCALL HostReserved(msabi::SHostCallback*) {}

msabi::BOOL32 MSABI_THISCALL HostGetHostValue(msabi::SHostCallback* self, const SCString* name, void* value) {
  auto* bridge = static_cast<Bridge*>(self);
  try {
    const CString valueName(msabi::ReadCString(*name));
    if (value != nullptr && valueName == L"HttpProxy") {
      auto* target = static_cast<SCString*>(value);
      const CString before(msabi::ReadCString(*target));
      CString text = before;
      const BOOL written = bridge->pHost->GetHostValue(valueName, &text);
      if (text != before && !WriteInto(target, text)) return 0;
      return written;
    }
    if (value != nullptr && valueName == L"HostIgnore") {
      CHostIgnore* ignore = nullptr;
      const BOOL written = bridge->pHost->GetHostValue(valueName, &ignore);
      if (ignore != nullptr) {
        bridge->ignore.pIgnore = ignore;
        *static_cast<msabi::SHostIgnore**>(value) = &bridge->ignore;
      }
      return written;
    }
    return bridge->pHost->GetHostValue(valueName, value);
  } catch (...) {
    return 0;
  }
}

void MSABI_THISCALL HostNotify(msabi::SHostCallback* self) {
  try {
    static_cast<Bridge*>(self)->pHost->Notify();
  } catch (...) {
  }
}

bool MSABI_THISCALL HostIsStopRequested(msabi::SHostCallback* self) {
  try {
    return static_cast<Bridge*>(self)->pHost->IsStopRequested();
  } catch (...) {
    return true;
  }
}

const msabi::SHostCallbackTable HOST_TABLE = {HostDtor,     HostReserved,       HostGetHostValue,
                                              HostReserved, HostNotify, HostIsStopRequested};

void MSABI_THISCALL IgnoreReserved(msabi::SHostIgnore*) {}

msabi::BOOL32 MSABI_THISCALL IgnoreAdd(msabi::SHostIgnore* self, const wchar_t* host, unsigned int value) {
  try {
    return static_cast<IgnoreBridge*>(self)->pIgnore->AddIgnoredHost(host, value);
  } catch (...) {
    return 0;
  }
}

msabi::BOOL32 MSABI_THISCALL IgnoreRemove(msabi::SHostIgnore* self, const wchar_t* host) {
  try {
    return static_cast<IgnoreBridge*>(self)->pIgnore->RemoveIgnoredHost(host);
  } catch (...) {
    return 0;
  }
}

const msabi::SHostIgnoreTable IGNORE_TABLE = {IgnoreReserved, IgnoreAdd, IgnoreRemove};

// A call with one string in and one string out: the output crosses as a
// CString of ours holding the caller's text, and comes back whatever the
// result.
template <typename Slot>
BOOL InOut(msabi::SPluginObject* remote, Slot slot, const CString& in, CString& out) {
  CLocalCString argument(in.Str());
  CLocalCString result(out.Str());
  const BOOL found = slot(remote, argument.Get(), result.Get());
  out = result.Text();
  return found;
}

}  // namespace

CMsPluginProxy::CMsPluginProxy(msabi::SPluginObject* remote) : m_pRemote(remote) {
  m_bridge.vtbl = &HOST_TABLE;
  m_bridge.pHost = nullptr;
  m_bridge.ignore.vtbl = &IGNORE_TABLE;
  m_bridge.ignore.pIgnore = nullptr;
}

CMsPluginProxy::~CMsPluginProxy() { Table().ScalarDeletingDtor(m_pRemote, 1); }

BOOL CMsPluginProxy::SetProperty(const CString& name, const CString* value) {
  CLocalCString propertyName(name.Str());
  if (value == nullptr) return Table().SetProperty(m_pRemote, propertyName.Get(), nullptr);
  CLocalCString text(value->Str());
  return Table().SetProperty(m_pRemote, propertyName.Get(), text.Get());
}

BOOL CMsPluginProxy::GetProperty(const CString& name, void* value) {
  CLocalCString propertyName(name.Str());
  if (value == nullptr || (name != L"SourceName" && name != L"SourceId"))
    return Table().GetProperty(m_pRemote, propertyName.Get(), value);
  CLocalCString text;
  const BOOL found = Table().GetProperty(m_pRemote, propertyName.Get(), text.Get());
  if (found != 0) *static_cast<CString*>(value) = text.Text();
  return found;
}

BOOL CMsPluginProxy::CallMethod(const CString& name, void* argument) {
  CLocalCString methodName(name.Str());
  return Table().CallMethod(m_pRemote, methodName.Get(), argument);
}

BOOL CMsPluginProxy::FindArtistUrl(const CString& artist, CString& artistUrl) {
  return InOut(m_pRemote, Table().FindArtistUrl, artist, artistUrl);
}

BOOL CMsPluginProxy::GetLyrics(const CString& songUrl, CString& lyrics) {
  return InOut(m_pRemote, Table().GetLyrics, songUrl, lyrics);
}

BOOL CMsPluginProxy::Download(const CString& url, CString& page) { return InOut(m_pRemote, Table().Download, url, page); }

int CMsPluginProxy::FindArtistSongList(const CString& artist, std::list<SongListEntry>& songs) {
  struct SOwnedList {
    msabi::SSongList list{nullptr, 0};
    ~SOwnedList() { msabi::DestroySongList(&list); }
  } owned;
  if (!msabi::ConstructSongList(&owned.list) || !msabi::ReplaceSongList(&owned.list, songs)) throw std::bad_alloc();
  CLocalCString artistName(artist.Str());
  const int count = Table().FindArtistSongList(m_pRemote, artistName.Get(), &owned.list);
  songs = msabi::ReadSongList(owned.list);
  return count;
}

BOOL CMsPluginProxy::SetHostCallback(CHostCallback* host) {
  m_pHostCallback = host;
  m_bridge.pHost = host;
  return Table().SetHostCallback(m_pRemote, host != nullptr ? &m_bridge : nullptr);
}

BOOL CMsPluginProxy::ExtraSearch(int a, int b, int c, int d) { return Table().ExtraSearch(m_pRemote, a, b, c, d); }

void CMsPluginProxy::NotifyHost() { Table().NotifyHost(m_pRemote); }

bool CMsPluginProxy::IsStopRequested() { return Table().IsStopRequested(m_pRemote); }

}  // namespace cli
