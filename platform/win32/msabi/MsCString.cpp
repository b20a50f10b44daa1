#include "platform/win32/msabi/MsCString.h"

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/win32/msabi/GuardedCall.h"

namespace msabi {
namespace {

const wchar_t* const MANAGER_RAISED = L"the string manager raised exception 0xE06D7363";

long AddRef(SStringData* data) { return __atomic_add_fetch(&data->nRefs, 1, __ATOMIC_SEQ_CST); }

// Drops one reference; the last one gives the buffer to its manager. False
// when the manager's Free raised (the buffer is the manager's either way).
bool Release(SStringData* data) {
  if (__atomic_sub_fetch(&data->nRefs, 1, __ATOMIC_SEQ_CST) > 0) return true;
  return GuardedCall(data->pStringMgr->vtbl->Free, data->pStringMgr, data).nRaised == 0;
}

// ---------------------------------------------------------------------------
// CLocalStringMgr: a static manager and its nil string, constant-initialised
// so that they exist before any code of this module runs and until it is
// unloaded.
// ---------------------------------------------------------------------------
std::atomic<long> g_nOutstanding{0};

SStringData* MSABI_THISCALL LocalAllocate(SStringMgr* self, int nAllocLength, int nCharSize);
void MSABI_THISCALL LocalFree(SStringMgr* self, SStringData* data);
SStringData* MSABI_THISCALL LocalReallocate(SStringMgr* self, SStringData* data, int nAllocLength, int nCharSize);
SStringData* MSABI_THISCALL LocalGetNilString(SStringMgr* self);
SStringMgr* MSABI_THISCALL LocalClone(SStringMgr* self);

const SStringMgrTable LOCAL_MGR_TABLE = {LocalAllocate, LocalFree, LocalReallocate, LocalGetNilString, LocalClone};
SStringMgr g_localMgr = {&LOCAL_MGR_TABLE};

struct SNilString {
  SStringData header;
  wchar_t chars[2];
};
// Starts at 2 references, as ATL's nil string does: it is always shared, so
// no writer ever writes into it and no Release ever frees it.
SNilString g_nil = {{&g_localMgr, 0, 0, 2}, {L'\0', L'\0'}};

bool BlockBytes(int nAllocLength, int nCharSize, size_t& bytes) {
  if (nAllocLength < 0 || nCharSize != static_cast<int>(sizeof(wchar_t))) return false;
  if (static_cast<size_t>(nAllocLength) >= (SIZE_MAX - sizeof(SStringData)) / sizeof(wchar_t) - 1) return false;
  bytes = sizeof(SStringData) + (static_cast<size_t>(nAllocLength) + 1) * sizeof(wchar_t);
  return true;
}

SStringData* MSABI_THISCALL LocalAllocate(SStringMgr* self, int nAllocLength, int nCharSize) {
  size_t bytes = 0;
  if (!BlockBytes(nAllocLength, nCharSize, bytes)) return nullptr;
  auto* data = static_cast<SStringData*>(std::malloc(bytes));
  if (data == nullptr) return nullptr;
  data->pStringMgr = self;
  data->nDataLength = 0;
  data->nAllocLength = nAllocLength;
  data->nRefs = 1;
  data->Chars()[0] = L'\0';
  ++g_nOutstanding;
  return data;
}

void MSABI_THISCALL LocalFree(SStringMgr*, SStringData* data) {
  if (data == nullptr || data == &g_nil.header) return;
  std::free(data);
  --g_nOutstanding;
}

SStringData* MSABI_THISCALL LocalReallocate(SStringMgr*, SStringData* data, int nAllocLength, int nCharSize) {
  size_t bytes = 0;
  if (data == nullptr || data == &g_nil.header || !BlockBytes(nAllocLength, nCharSize, bytes)) return nullptr;
  auto* grown = static_cast<SStringData*>(std::realloc(data, bytes));
  if (grown == nullptr) return nullptr;
  grown->nAllocLength = nAllocLength;
  return grown;
}

SStringData* MSABI_THISCALL LocalGetNilString(SStringMgr*) {
  AddRef(&g_nil.header);
  return &g_nil.header;
}

SStringMgr* MSABI_THISCALL LocalClone(SStringMgr* self) { return self; }

}  // namespace

SStringMgr* CLocalStringMgr::Get() { return &g_localMgr; }
long CLocalStringMgr::Outstanding() { return g_nOutstanding.load(); }

std::wstring ReadCString(const SCString& s) {
  if (s.pszData == nullptr) return std::wstring();
  const int length = s.Data()->nDataLength;
  return length > 0 ? std::wstring(s.pszData, static_cast<size_t>(length)) : std::wstring();
}

void ReleaseCString(SCString* s) {
  if (s->pszData == nullptr) return;
  Release(s->Data());
  s->pszData = nullptr;
}

namespace {

void Fill(SStringData* data, const wchar_t* text, int n) {
  if (n > 0) std::memcpy(data->Chars(), text, static_cast<size_t>(n) * sizeof(wchar_t));
  data->Chars()[n] = L'\0';
  data->nDataLength = n;
}

// The target holds its new buffer already; its old one is released last,
// so that a manager raising in Free leaves the target consistent (and the
// call reported as failed).
bool ReleasedOld(SStringData* old, const wchar_t*& reason) {
  if (Release(old)) return true;
  reason = MANAGER_RAISED;
  return false;
}

}  // namespace

bool AssignCString(SCString* target, const wchar_t* text, size_t length, const wchar_t*& reason) {
  if (target == nullptr || target->pszData == nullptr) {
    reason = L"no target string";
    return false;
  }
  if (length > static_cast<size_t>(INT_MAX - 1)) {
    reason = L"text too long for a CString";
    return false;
  }
  const int n = static_cast<int>(length);
  SStringData* data = target->Data();
  SStringMgr* mgr = data->pStringMgr;
  if (mgr == nullptr) {
    reason = L"the string has no manager";
    return false;
  }
  if (data->nRefs < 0) {  // locked: only in place
    if (data->nAllocLength < n) {
      reason = L"the string is locked and too small";
      return false;
    }
  } else if (n == 0) {
    if (data->nDataLength == 0) return true;
    // Empty() of an unlocked string: drop the buffer, take the nil string.
    const SGuardedResult<SStringData*> nil = GuardedCall(mgr->vtbl->GetNilString, mgr);
    if (nil.nRaised != 0 || nil.value == nullptr) {
      reason = nil.nRaised != 0 ? MANAGER_RAISED : L"the string manager has no nil string";
      return false;
    }
    target->pszData = nil.value->Chars();
    return ReleasedOld(data, reason);
  } else if (data->nRefs > 1) {  // shared: a new buffer from the clone
    const SGuardedResult<SStringMgr*> clone = GuardedCall(mgr->vtbl->Clone, mgr);
    SGuardedResult<SStringData*> fresh;
    if (clone.nRaised == 0 && clone.value != nullptr)
      fresh = GuardedCall(clone.value->vtbl->Allocate, clone.value, n, static_cast<int>(sizeof(wchar_t)));
    if (clone.nRaised != 0 || fresh.nRaised != 0 || fresh.value == nullptr) {
      reason = clone.nRaised != 0 || fresh.nRaised != 0 ? MANAGER_RAISED : L"the string manager could not allocate";
      return false;
    }
    Fill(fresh.value, text, n);
    target->pszData = fresh.value->Chars();
    return ReleasedOld(data, reason);
  } else if (data->nAllocLength < n) {  // our own, too small: grow it
    int grown = data->nAllocLength + data->nAllocLength / 2;
    if (grown < n || data->nAllocLength > INT_MAX / 2) grown = n;
    const SGuardedResult<SStringData*> bigger =
        GuardedCall(mgr->vtbl->Reallocate, mgr, data, grown, static_cast<int>(sizeof(wchar_t)));
    if (bigger.nRaised != 0 || bigger.value == nullptr) {
      reason = bigger.nRaised != 0 ? MANAGER_RAISED : L"the string manager could not reallocate";
      return false;
    }
    data = bigger.value;
    target->pszData = data->Chars();
  }
  Fill(data, text, n);
  return true;
}

void MakeCString(SCString* s, const wchar_t* text, size_t length) {
  SStringMgr* mgr = &g_localMgr;
  s->pszData = LocalGetNilString(mgr)->Chars();
  const wchar_t* reason = nullptr;
  if (length > 0 && !AssignCString(s, text, length, reason)) {
    ReleaseCString(s);
    throw std::bad_alloc();
  }
}

}  // namespace msabi
