// The test host's CStringW and its counting string manager.
#include "HostStrings.h"

namespace msabi {
namespace {

IAtlStringMgr* g_pDefaultMgr = nullptr;

void Fatal(const char* what) {
  EmitRaw("fatal\t");
  EmitRaw(what);
  EmitRaw("\n");
  ExitProcess(3);
}

void SpinLock(volatile long* lock) {
  while (__atomic_exchange_n(lock, 1, __ATOMIC_ACQUIRE) != 0) {
  }
}
void SpinUnlock(volatile long* lock) { __atomic_store_n(lock, 0, __ATOMIC_RELEASE); }

}  // namespace

void CStringData::Release() {
  if (__atomic_sub_fetch(&nRefs, 1, __ATOMIC_ACQ_REL) <= 0) pStringMgr->Free(this);
}

// ---------------------------------------------------------------------------

CCountingStringMgr::CCountingStringMgr(bool fail) : m_bFail(fail) {
  m_nil.header.pStringMgr = this;
  m_nil.header.nDataLength = 0;
  m_nil.header.nAllocLength = 0;
  m_nil.header.nRefs = 2;  // never reaches 0: the nil string is never freed
  m_nil.chars[0] = m_nil.chars[1] = 0;
}

CStringData* CCountingStringMgr::Allocate(int nAllocLength, int nCharSize) {
  if (m_bFail || nAllocLength < 0 || nCharSize != 2) {
    __atomic_add_fetch(&m_nRefused, 1, __ATOMIC_RELAXED);
    return nullptr;
  }
  // Room for the terminator, rounded up to 8 characters as the framework's
  // own manager does.
  int chars = (nAllocLength + 1 + 7) & ~7;
  CStringData* p = static_cast<CStringData*>(HostAlloc(sizeof(CStringData) + size_t(chars) * 2));
  p->pStringMgr = this;
  p->nDataLength = 0;
  p->nAllocLength = chars - 1;
  p->nRefs = 1;
  p->data()[0] = 0;
  SpinLock(&m_nLock);
  if (m_nLive >= long(sizeof(m_live) / sizeof(m_live[0]))) Fatal("too many live strings");
  m_live[m_nLive++] = p;
  ++m_nAllocs;
  SpinUnlock(&m_nLock);
  return p;
}

bool CCountingStringMgr::Forget(const CStringData* pData) {
  SpinLock(&m_nLock);
  bool found = false;
  for (long i = 0; i < m_nLive; ++i) {
    if (m_live[i] == pData) {
      m_live[i] = m_live[--m_nLive];
      found = true;
      break;
    }
  }
  if (!found) ++m_nBadFrees;
  SpinUnlock(&m_nLock);
  return found;
}

bool CCountingStringMgr::Owns(const CStringData* pData) const {
  for (long i = 0; i < m_nLive; ++i)
    if (m_live[i] == pData) return true;
  return false;
}

void CCountingStringMgr::Free(CStringData* pData) {
  // Only a buffer of this manager whose count has run out may come back.
  if (pData == &m_nil.header || pData->pStringMgr != this || pData->nRefs > 0) {
    __atomic_add_fetch(&m_nBadFrees, 1, __ATOMIC_RELAXED);
    return;
  }
  if (!Forget(pData)) return;  // counted as a bad free
  __atomic_add_fetch(&m_nFrees, 1, __ATOMIC_RELAXED);
  HostFree(pData);
}

CStringData* CCountingStringMgr::Reallocate(CStringData* pData, int nAllocLength, int nCharSize) {
  if (m_bFail) {
    __atomic_add_fetch(&m_nRefused, 1, __ATOMIC_RELAXED);
    return nullptr;
  }
  if (pData == &m_nil.header || pData->pStringMgr != this || pData->IsShared() || !Owns(pData)) {
    __atomic_add_fetch(&m_nBadFrees, 1, __ATOMIC_RELAXED);
    return nullptr;
  }
  CStringData* fresh = Allocate(nAllocLength, nCharSize);
  if (fresh == nullptr) return nullptr;
  int keep = pData->nDataLength < fresh->nAllocLength ? pData->nDataLength : fresh->nAllocLength;
  memcpy(fresh->data(), pData->data(), size_t(keep + 1) * 2);
  fresh->nDataLength = pData->nDataLength;
  fresh->nRefs = pData->nRefs;
  Forget(pData);
  HostFree(pData);
  __atomic_add_fetch(&m_nReallocs, 1, __ATOMIC_RELAXED);
  return fresh;
}

CStringData* CCountingStringMgr::GetNilString() {
  m_nil.header.AddRef();
  return &m_nil.header;
}

IAtlStringMgr* CCountingStringMgr::Clone() { return this; }

// ---------------------------------------------------------------------------

void CStringW::SetDefaultManager(IAtlStringMgr* pStringMgr) { g_pDefaultMgr = pStringMgr; }
IAtlStringMgr* CStringW::DefaultManager() { return g_pDefaultMgr; }

CStringW::CStringW() : CStringW(g_pDefaultMgr) {}
CStringW::CStringW(IAtlStringMgr* pStringMgr) { Attach(pStringMgr->GetNilString()); }
CStringW::CStringW(const wchar_t* text) : CStringW(text, g_pDefaultMgr) {}
CStringW::CStringW(const wchar_t* text, IAtlStringMgr* pStringMgr) : CStringW(pStringMgr) { *this = text; }
CStringW::CStringW(const CStringW& other) { Attach(CloneData(other.GetData())); }
CStringW::~CStringW() { GetData()->Release(); }

CStringData* CStringW::CloneData(CStringData* pData) {
  IAtlStringMgr* pNewMgr = pData->pStringMgr->Clone();
  if (!pData->IsLocked() && pNewMgr == pData->pStringMgr) {
    pData->AddRef();
    return pData;
  }
  CStringData* pNew = pNewMgr->Allocate(pData->nDataLength, 2);
  if (pNew == nullptr) Fatal("string manager refused a copy");
  memcpy(pNew->data(), pData->data(), size_t(pData->nDataLength + 1) * 2);
  pNew->nDataLength = pData->nDataLength;
  return pNew;
}

CStringW& CStringW::operator=(const CStringW& other) {
  CStringData* pSrc = other.GetData();
  CStringData* pOld = GetData();
  if (pSrc == pOld) return *this;
  if (pOld->IsLocked() || pSrc->pStringMgr != pOld->pStringMgr) {
    SetString(other.m_pszData, other.GetLength());
  } else {
    CStringData* pNew = CloneData(pSrc);
    pOld->Release();
    Attach(pNew);
  }
  return *this;
}

CStringW& CStringW::operator=(const wchar_t* text) {
  SetString(text, text == nullptr ? 0 : int(wcslen(text)));
  return *this;
}

void CStringW::SetString(const wchar_t* text, int length) {
  if (length == 0) {
    Empty();
    return;
  }
  // `text` may point into this string's own buffer.
  wchar_t* copy = static_cast<wchar_t*>(HostAlloc(size_t(length) * 2));
  memcpy(copy, text, size_t(length) * 2);
  wchar_t* buffer = GetBuffer(length);
  memcpy(buffer, copy, size_t(length) * 2);
  HostFree(copy);
  ReleaseBufferSetLength(length);
}

void CStringW::Fork(int length) {
  CStringData* pOld = GetData();
  int oldLength = pOld->nDataLength;
  CStringData* pNew = pOld->pStringMgr->Clone()->Allocate(length, 2);
  if (pNew == nullptr) Fatal("string manager refused a fork");
  int copy = (oldLength < length ? oldLength : length) + 1;
  memcpy(pNew->data(), pOld->data(), size_t(copy) * 2);
  pNew->nDataLength = oldLength;
  pOld->Release();
  Attach(pNew);
}

void CStringW::PrepareWrite(int length) {
  CStringData* pOld = GetData();
  if (pOld->nDataLength > length) length = pOld->nDataLength;
  if (pOld->IsShared()) {
    Fork(length);
  } else if (pOld->nAllocLength < length) {
    if (pOld->IsLocked()) Fatal("host wrote past a locked buffer");
    int grow = pOld->nAllocLength + pOld->nAllocLength / 2;
    CStringData* pNew = pOld->pStringMgr->Reallocate(pOld, grow > length ? grow : length, 2);
    if (pNew == nullptr) Fatal("string manager refused to grow a buffer");
    Attach(pNew);
  }
}

wchar_t* CStringW::GetBuffer(int minLength) {
  CStringData* p = GetData();
  if (1 - p->nRefs < 0 || p->nAllocLength - minLength < 0) PrepareWrite(minLength);
  return m_pszData;
}

void CStringW::ReleaseBufferSetLength(int length) {
  GetData()->nDataLength = length;
  m_pszData[length] = 0;
}

wchar_t* CStringW::LockBuffer() {
  wchar_t* buffer = GetBuffer(0);
  CStringData* p = GetData();
  if (--p->nRefs == 0) p->nRefs = -1;
  return buffer;
}

void CStringW::UnlockBuffer() {
  CStringData* p = GetData();
  if (p->IsLocked() && ++p->nRefs == 0) p->nRefs = 1;
}

void CStringW::Empty() {
  CStringData* pOld = GetData();
  if (pOld->nDataLength == 0) return;
  if (pOld->IsLocked()) {
    ReleaseBufferSetLength(0);
    return;
  }
  IAtlStringMgr* pMgr = pOld->pStringMgr;
  pOld->Release();
  Attach(pMgr->GetNilString());
}

}  // namespace msabi
