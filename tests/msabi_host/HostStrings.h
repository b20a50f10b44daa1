// The test host's CString: a layout-exact stand-in for MFC's CStringW, with
// the string manager interface it allocates through.
//
// Layout (as Microsoft documents CStringData and IAtlStringMgr):
//   - a CStringW object is one pointer to NUL-terminated UTF-16 characters;
//   - in front of the characters sits CStringData: the manager pointer, int
//     data length, int allocated length (characters, terminator excluded),
//     long reference count: 16 bytes on i686, 24 on x86_64;
//   - the count is 1 for one owner, more when shared (copy on write),
//     negative when locked; a manager's nil string is shared and never freed;
//   - IAtlStringMgr has five slots: Allocate, Free, Reallocate, GetNilString,
//     Clone.
// CStringW follows the rules of the framework's class: a copy shares the
// buffer when the source is not locked and the source's manager's Clone()
// is that manager; a write to a shared buffer forks it through
// Clone()->Allocate; a write to a short buffer reallocates through the
// buffer's own manager; a release that takes the count to 0 frees the buffer
// through the manager named in its header. A manager that returns null ends
// the host: the framework would throw there, and the host never asks more
// of a failing manager than the plug-in does.
//
// CCountingStringMgr counts every call, keeps the buffers it handed out and
// checks every buffer it is asked to free or reallocate.
//
// Threads: a manager may be called from any thread (counts are atomic; the
// live list takes a spin lock). A CStringW is used by one thread at a time.
#ifndef VERSEWELL_MSABI_HOST_STRINGS_H
#define VERSEWELL_MSABI_HOST_STRINGS_H

#include "HostRuntime.h"

namespace msabi {

class IAtlStringMgr;

struct CStringData {
  IAtlStringMgr* pStringMgr;
  int nDataLength;
  int nAllocLength;
  long nRefs;

  wchar_t* data() { return reinterpret_cast<wchar_t*>(this + 1); }
  bool IsLocked() const { return nRefs < 0; }
  bool IsShared() const { return nRefs > 1; }
  void AddRef() { __atomic_add_fetch(&nRefs, 1, __ATOMIC_ACQ_REL); }
  void Release();
};

class IAtlStringMgr {
 public:
  virtual CStringData* Allocate(int nAllocLength, int nCharSize) = 0;
  virtual void Free(CStringData* pData) = 0;
  virtual CStringData* Reallocate(CStringData* pData, int nAllocLength, int nCharSize) = 0;
  virtual CStringData* GetNilString() = 0;
  virtual IAtlStringMgr* Clone() = 0;
};

// A manager on the host heap that counts and checks. With m_bFail set,
// Allocate and Reallocate return null.
class CCountingStringMgr : public IAtlStringMgr {
 public:
  explicit CCountingStringMgr(bool fail = false);
  CStringData* Allocate(int nAllocLength, int nCharSize) override;
  void Free(CStringData* pData) override;
  CStringData* Reallocate(CStringData* pData, int nAllocLength, int nCharSize) override;
  CStringData* GetNilString() override;
  IAtlStringMgr* Clone() override;

  bool Owns(const CStringData* pData) const;

  long m_nAllocs = 0;
  long m_nReallocs = 0;
  long m_nFrees = 0;
  long m_nRefused = 0;    // calls answered with null (failing manager)
  long m_nBadFrees = 0;   // Free/Reallocate of a buffer this manager does not hold
  long m_nLive = 0;

 private:
  bool Forget(const CStringData* pData);

  bool m_bFail;
  struct SNil {
    CStringData header;
    wchar_t chars[2];
  } m_nil;
  CStringData* m_live[4096];
  volatile long m_nLock = 0;
};

class CStringW {
 public:
  CStringW();
  explicit CStringW(IAtlStringMgr* pStringMgr);
  CStringW(const wchar_t* text);  // NOLINT: as the framework's class
  CStringW(const wchar_t* text, IAtlStringMgr* pStringMgr);
  CStringW(const CStringW& other);
  ~CStringW();
  CStringW& operator=(const CStringW& other);
  CStringW& operator=(const wchar_t* text);

  const wchar_t* GetString() const { return m_pszData; }
  int GetLength() const { return GetData()->nDataLength; }
  CStringData* GetData() const { return reinterpret_cast<CStringData*>(m_pszData) - 1; }
  bool operator==(const wchar_t* text) const { return WideEqual(m_pszData, text); }

  // A writable buffer of at least `minLength` characters, and its lock.
  wchar_t* GetBuffer(int minLength);
  void ReleaseBufferSetLength(int length);
  wchar_t* LockBuffer();
  void UnlockBuffer();
  void Empty();

  static void SetDefaultManager(IAtlStringMgr* pStringMgr);
  static IAtlStringMgr* DefaultManager();

 private:
  void Attach(CStringData* pData) { m_pszData = pData->data(); }
  void SetString(const wchar_t* text, int length);
  void PrepareWrite(int length);
  void Fork(int length);
  static CStringData* CloneData(CStringData* pData);

  wchar_t* m_pszData;
};

static_assert(sizeof(CStringW) == sizeof(void*), "CStringW is one pointer");
static_assert(sizeof(CStringData) == (sizeof(void*) == 8 ? 24 : 16), "CStringData header size");

}  // namespace msabi

#endif  // VERSEWELL_MSABI_HOST_STRINGS_H
