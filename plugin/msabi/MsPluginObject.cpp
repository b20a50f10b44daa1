#include "plugin/msabi/MsPluginObject.h"

#include <stdexcept>

#include "diag/TraceLevels.h"
#include "diag/TraceLog.h"
#include "platform/win32/msabi/MsCString.h"
#include "platform/win32/msabi/MsSongList.h"
#include "plugin/BoundaryGuard.h"
#include "plugin/InterfaceRegistry.h"
#include "plugin/Versewell.h"
#include "plugin/msabi/MsHostCallback.h"

using msabi::SCString;
using msabi::SPluginObject;

namespace {

class CHostedVersewell;

struct SAdapter : SPluginObject {
  CHostedVersewell* pObject;
};

// The CVersewell behind one adapter, with the host callback wrapper it
// uses. Deleted either through slot 0 (the adapter detaches first) or by the
// registry at unload, which then frees the adapter too.
class CHostedVersewell : public CVersewell {
 public:
  explicit CHostedVersewell(SAdapter* adapter) : m_pAdapter(adapter) {}
  ~CHostedVersewell() override {
    if (m_pAdapter != nullptr) {
      m_pAdapter->pObject = nullptr;
      delete m_pAdapter;
    }
  }
  CMsHostCallback m_hostCallback;
  SAdapter* m_pAdapter;
};

CHostedVersewell& Target(SPluginObject* self) {
  CHostedVersewell* object = static_cast<SAdapter*>(self)->pObject;
  if (object == nullptr) throw std::logic_error("called on a destroyed object");
  return *object;
}

CString In(const SCString* s) {
  if (s == nullptr) throw std::invalid_argument("no string");
  return CString(msabi::ReadCString(*s));
}

// Writes `text` into the host's string; false with one trace line when its
// manager refuses.
bool WriteBack(const wchar_t* origin, SCString* target, const CString& text) {
  const wchar_t* reason = L"";
  if (msabi::AssignCString(target, text.GetString(), static_cast<size_t>(text.GetLength()), reason)) return true;
  TraceFormat(TRACE_ERROR, L"%s(): can not write the result into the host's string: %s", origin, reason);
  return false;
}

// An operation with one read-only string in and one string written: the
// host's output keeps its buffer unless the operation changed the text.
template <typename Operation>
BOOL InOut(const wchar_t* origin, const SCString* in, SCString* out, Operation&& operation) {
  if (out == nullptr) throw std::invalid_argument("no output string");
  const CString before = In(out);
  CString text = before;
  const BOOL result = operation(In(in), text);
  if (text != before && !WriteBack(origin, out, text)) return 0;
  return result;
}

bool SameEntries(const std::list<SongListEntry>& a, const std::list<SongListEntry>& b) {
  if (a.size() != b.size()) return false;
  for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j) {
    const SongEntry &x = *i, &y = *j;
    if (x.Title != y.Title || x.Artist != y.Artist || x.Extra1 != y.Extra1 || x.Url != y.Url || x.Flag != y.Flag ||
        i->Extra2 != j->Extra2 || i->SourceName != j->SourceName || i->SourceId != j->SourceId)
      return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// The twelve slots
// ---------------------------------------------------------------------------
SPluginObject* MSABI_THISCALL ScalarDeletingDtor(SPluginObject* self, unsigned int flags) {
  auto* adapter = static_cast<SAdapter*>(self);
  Guarded<int>(L"CLyricsDllInterface::~CLyricsDllInterface", 0, [&] {
    if (CHostedVersewell* object = adapter->pObject) {
      object->m_pAdapter = nullptr;
      adapter->pObject = nullptr;
      delete object;
    }
    return 0;
  });
  if ((flags & 1u) != 0) delete adapter;
  return self;
}

msabi::BOOL32 MSABI_THISCALL SetProperty(SPluginObject* self, const SCString* name, const SCString* value) {
  return Guarded<BOOL>(L"SetProperty", 0, [&] {
    CHostedVersewell& object = Target(self);
    if (value == nullptr) return object.SetProperty(In(name), nullptr);
    const CString text = In(value);
    return object.SetProperty(In(name), &text);
  });
}

msabi::BOOL32 MSABI_THISCALL GetProperty(SPluginObject* self, const SCString* name, void* value) {
  return Guarded<BOOL>(L"GetProperty", 0, [&] {
    CHostedVersewell& object = Target(self);
    const CString propertyName = In(name);
    if (value == nullptr || (propertyName != L"SourceName" && propertyName != L"SourceId"))
      return object.GetProperty(propertyName, value);  // 32-bit integers: the same on both sides
    CString text;
    const BOOL found = object.GetProperty(propertyName, &text);
    if (found != 0 && !WriteBack(L"GetProperty", static_cast<SCString*>(value), text)) return 0;
    return found;
  });
}

msabi::BOOL32 MSABI_THISCALL CallMethod(SPluginObject* self, const SCString* name, void* argument) {
  return Guarded<BOOL>(L"CallMethod", 0, [&] { return Target(self).CallMethod(In(name), argument); });
}

msabi::BOOL32 MSABI_THISCALL FindArtistUrl(SPluginObject* self, const SCString* artist, SCString* url) {
  return Guarded<BOOL>(L"FindArtistUrl", 0, [&] {
    CHostedVersewell& object = Target(self);
    return InOut(L"FindArtistUrl", artist, url, [&](const CString& a, CString& u) { return object.FindArtistUrl(a, u); });
  });
}

int MSABI_THISCALL FindArtistSongList(SPluginObject* self, const SCString* artist, msabi::SSongList* songs) {
  return Guarded<int>(L"FindArtistSongList", 0, [&] {
    CHostedVersewell& object = Target(self);
    if (songs == nullptr || songs->head == nullptr) throw std::invalid_argument("no song list");
    const std::list<SongListEntry> before = msabi::ReadSongList(*songs);
    std::list<SongListEntry> entries = before;
    const int count = object.FindArtistSongList(In(artist), entries);
    if (!SameEntries(entries, before) && !msabi::ReplaceSongList(songs, entries)) {
      g_TraceLog.Log(TRACE_ERROR, L"FindArtistSongList(): the host's heap can not take the song list");
      return 0;
    }
    return count;
  });
}

msabi::BOOL32 MSABI_THISCALL GetLyrics(SPluginObject* self, const SCString* songUrl, SCString* lyrics) {
  return Guarded<BOOL>(L"GetLyrics", 0, [&] {
    CHostedVersewell& object = Target(self);
    return InOut(L"GetLyrics", songUrl, lyrics, [&](const CString& u, CString& l) { return object.GetLyrics(u, l); });
  });
}

msabi::BOOL32 MSABI_THISCALL SetHostCallback(SPluginObject* self, msabi::SHostCallback* host) {
  return Guarded<BOOL>(L"SetHostCallback", 0, [&] {
    CHostedVersewell& object = Target(self);
    object.m_hostCallback.Attach(host);
    return object.SetHostCallback(host != nullptr ? &object.m_hostCallback : nullptr);
  });
}

msabi::BOOL32 MSABI_THISCALL ExtraSearch(SPluginObject* self, int a, int b, int c, int d) {
  return Guarded<BOOL>(L"ExtraSearch", 0, [&] { return Target(self).ExtraSearch(a, b, c, d); });
}

void MSABI_THISCALL NotifyHost(SPluginObject* self) {
  Guarded<int>(L"NotifyHost", 0, [&] {
    Target(self).NotifyHost();
    return 0;
  });
}

bool MSABI_THISCALL IsStopRequested(SPluginObject* self) {
  return Guarded<bool>(L"IsStopRequested", true, [&] { return Target(self).IsStopRequested(); });
}

msabi::BOOL32 MSABI_THISCALL Download(SPluginObject* self, const SCString* url, SCString* page) {
  return Guarded<BOOL>(L"Download", 0, [&] {
    CHostedVersewell& object = Target(self);
    return InOut(L"Download", url, page, [&](const CString& u, CString& p) { return object.Download(u, p); });
  });
}

const msabi::SPluginTable PLUGIN_TABLE = {
    ScalarDeletingDtor, SetProperty,     GetProperty, CallMethod, FindArtistUrl,   FindArtistSongList,
    GetLyrics,          SetHostCallback, ExtraSearch, NotifyHost, IsStopRequested, Download,
};

}  // namespace

const msabi::SPluginTable& MsPluginTable() { return PLUGIN_TABLE; }

SPluginObject* CreateMsPluginObject() noexcept {
  SAdapter* adapter = nullptr;
  CHostedVersewell* object = nullptr;
  try {
    adapter = new SAdapter();
    adapter->vtbl = &PLUGIN_TABLE;
    object = new CHostedVersewell(adapter);
    adapter->pObject = object;
    g_InterfaceRegistry.Add(object);
    return adapter;
  } catch (const std::exception& e) {
    LogStopped(L"GetDllInterface", e.what());
  } catch (...) {
    LogStopped(L"GetDllInterface", "unknown exception");
  }
  if (object != nullptr) delete object;  // frees the adapter with it
  else delete adapter;
  return nullptr;
}

extern "C" SPluginObject* GetMsDllInterface() { return CreateMsPluginObject(); }
