// The SEH guard around calls into the other side's tables: arguments and
// results as a Microsoft-built member function passes them, an exception of
// Microsoft's C++ runtime (0xE06D7363) ending at the guard as a failed call
// - again and again, so the thread's exception chain is left as it was -,
// this module's own exceptions passing through the guard untouched, and
// CStringW writes through a string manager that raises.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "platform/win32/msabi/GuardedCall.h"
#include "platform/win32/msabi/MsCString.h"
#include "support/win32/MsvcThrow.h"

using namespace msabi;

namespace {

struct SObject;
struct SObjectTable {
  int(MSABI_THISCALL* Sum)(SObject* self, int a, unsigned int b, const int* c);
  int(MSABI_THISCALL* Throw)(SObject* self);
  bool(MSABI_THISCALL* IsSeven)(SObject* self, int value);
  SObject*(MSABI_THISCALL* Self)(SObject* self);
  void(MSABI_THISCALL* Count)(SObject* self);
};
struct SObject {
  const SObjectTable* vtbl;
  int base;
  int counted;
  bool raise;
};

int MSABI_THISCALL Sum(SObject* self, int a, unsigned int b, const int* c) {
  if (self->raise) RaiseMsvcCxxException();
  return self->base + a + static_cast<int>(b) + *c;
}
int MSABI_THISCALL Throw(SObject*) { throw std::runtime_error("own"); }
// A bool result is AL only: the rest of the register is left as it was.
bool MSABI_THISCALL IsSeven(SObject* self, int value) {
  if (self->raise) RaiseMsvcCxxException();
  return value == 7;
}
SObject* MSABI_THISCALL Self(SObject* self) { return self; }
void MSABI_THISCALL Count(SObject* self) {
  ++self->counted;
  if (self->raise) RaiseMsvcCxxException();
}
const SObjectTable OBJECT_TABLE = {Sum, Throw, IsSeven, Self, Count};

}  // namespace

TEST(GuardedCall, ArgumentsAndResultsCrossAsTheOtherSidePassesThem) {
  SObject object = {&OBJECT_TABLE, 1000, 0, false};
  const int third = 30;
  const SGuardedResult<int> sum = GuardedCall(object.vtbl->Sum, &object, -1, 20u, &third);
  EXPECT_EQ(sum.nRaised, 0u);
  EXPECT_EQ(sum.value, 1049);
  EXPECT_TRUE(GuardedCall(object.vtbl->IsSeven, &object, 7).value);
  EXPECT_FALSE(GuardedCall(object.vtbl->IsSeven, &object, 0x700).value);
  EXPECT_EQ(GuardedCall(object.vtbl->Self, &object).value, &object);
  EXPECT_EQ(GuardedCall(object.vtbl->Count, &object).nRaised, 0u);
  EXPECT_EQ(object.counted, 1);
}

TEST(GuardedCall, AMicrosoftCxxExceptionEndsAtTheGuardEveryTime) {
  SObject object = {&OBJECT_TABLE, 0, 0, true};
  const int third = 3;
  for (int round = 0; round < 3; ++round) {
    const SGuardedResult<int> sum = GuardedCall(object.vtbl->Sum, &object, 1, 2u, &third);
    EXPECT_EQ(sum.nRaised, MSVC_CXX_EXCEPTION);
    EXPECT_EQ(sum.value, 0);
    const SGuardedResult<bool> seven = GuardedCall(object.vtbl->IsSeven, &object, 7);
    EXPECT_EQ(seven.nRaised, MSVC_CXX_EXCEPTION);
    EXPECT_FALSE(seven.value);
    EXPECT_EQ(GuardedCall(object.vtbl->Count, &object).nRaised, MSVC_CXX_EXCEPTION);
    // This module's own exceptions still work between the guarded calls.
    try {
      throw std::string("own");
    } catch (const std::string& own) {
      EXPECT_EQ(own, "own");
    }
  }
  EXPECT_EQ(object.counted, 3);
  object.raise = false;
  EXPECT_EQ(GuardedCall(object.vtbl->Sum, &object, 1, 2u, &third).value, 6);
}

namespace {

struct SCounted {
  int* count;
  ~SCounted() { ++*count; }
};

// A frame of this module with something to destroy around the guard.
__attribute__((noinline)) unsigned long CallThrow(SObject* object, int* destroyed) {
  SCounted counted{destroyed};
  return GuardedCall(object->vtbl->Throw, object).nRaised;
}

}  // namespace

// A callee of the same toolchain that throws (as versewell.exe's side never
// does, but a test host may): the exception passes the guard, the frames
// around it are unwound, and the guard's record is off the chain - the next
// raise through a guard still ends there.
TEST(GuardedCall, ThisModulesOwnExceptionPassesTheGuard) {
  SObject object = {&OBJECT_TABLE, 0, 0, true};
  int destroyed = 0;
  for (int round = 1; round <= 2; ++round) {
    EXPECT_THROW(CallThrow(&object, &destroyed), std::runtime_error);
    EXPECT_EQ(destroyed, round);
    EXPECT_EQ(GuardedCall(object.vtbl->Count, &object).nRaised, MSVC_CXX_EXCEPTION);
  }
}

namespace {

// A host's string manager that raises in one chosen function.
enum ERaiseIn { RAISE_NONE, RAISE_ALLOCATE, RAISE_FREE, RAISE_REALLOCATE, RAISE_NIL, RAISE_CLONE };
struct SRaisingMgr : SStringMgr {
  ERaiseIn raiseIn = RAISE_NONE;
  int live = 0;
  struct {
    SStringData header;
    wchar_t nul[2];
  } nil;
};

SStringData* MSABI_THISCALL RaisingAllocate(SStringMgr* self, int length, int charSize) {
  auto* m = static_cast<SRaisingMgr*>(self);
  if (m->raiseIn == RAISE_ALLOCATE) RaiseMsvcCxxException();
  auto* d = static_cast<SStringData*>(std::malloc(sizeof(SStringData) + (length + 1) * charSize));
  *d = SStringData{self, 0, length, 1};
  d->Chars()[0] = L'\0';
  ++m->live;
  return d;
}
void MSABI_THISCALL RaisingFree(SStringMgr* self, SStringData* d) {
  auto* m = static_cast<SRaisingMgr*>(self);
  if (m->raiseIn == RAISE_FREE) RaiseMsvcCxxException();
  --m->live;
  std::free(d);
}
SStringData* MSABI_THISCALL RaisingReallocate(SStringMgr* self, SStringData* d, int length, int charSize) {
  if (static_cast<SRaisingMgr*>(self)->raiseIn == RAISE_REALLOCATE) RaiseMsvcCxxException();
  auto* grown = static_cast<SStringData*>(std::realloc(d, sizeof(SStringData) + (length + 1) * charSize));
  grown->nAllocLength = length;
  return grown;
}
SStringData* MSABI_THISCALL RaisingNil(SStringMgr* self) {
  auto* m = static_cast<SRaisingMgr*>(self);
  if (m->raiseIn == RAISE_NIL) RaiseMsvcCxxException();
  __atomic_add_fetch(&m->nil.header.nRefs, 1, __ATOMIC_SEQ_CST);
  return &m->nil.header;
}
SStringMgr* MSABI_THISCALL RaisingClone(SStringMgr* self) {
  if (static_cast<SRaisingMgr*>(self)->raiseIn == RAISE_CLONE) RaiseMsvcCxxException();
  return self;
}
const SStringMgrTable RAISING_TABLE = {RaisingAllocate, RaisingFree, RaisingReallocate, RaisingNil, RaisingClone};

class RaisingMgr : public ::testing::Test {
 protected:
  void SetUp() override {
    mgr.vtbl = &RAISING_TABLE;
    mgr.nil.header = SStringData{&mgr, 0, 0, 2};
    mgr.nil.nul[0] = L'\0';
  }
  SCString Make(const std::wstring& text, int alloc) {
    SStringData* d = RaisingAllocate(&mgr, alloc, 2);
    std::memcpy(d->Chars(), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    d->nDataLength = static_cast<int>(text.size());
    return SCString{d->Chars()};
  }
  // AssignCString's answer and reason.
  bool Assign(SCString& s, const std::wstring& text, std::wstring& reason) {
    const wchar_t* why = L"";
    const bool ok = AssignCString(&s, text.data(), text.size(), why);
    reason = why;
    return ok;
  }
  SRaisingMgr mgr;
};

}  // namespace

TEST_F(RaisingMgr, AManagerThatRaisesBeforeAnythingChangedLeavesTheStringAsItWas) {
  SCString shared = Make(L"shared", 8);
  SStringData* first = shared.Data();
  ++first->nRefs;  // a second owner: a write needs Clone()->Allocate
  SCString small = Make(L"ab", 2);
  std::wstring reason;
  for (ERaiseIn where : {RAISE_CLONE, RAISE_ALLOCATE}) {
    mgr.raiseIn = where;
    EXPECT_FALSE(Assign(shared, L"new text", reason)) << where;
    EXPECT_EQ(reason, L"the string manager raised exception 0xE06D7363");
    EXPECT_EQ(ReadCString(shared), L"shared");
    EXPECT_EQ(shared.Data()->nRefs, 2);
  }
  mgr.raiseIn = RAISE_REALLOCATE;
  EXPECT_FALSE(Assign(small, L"a longer text", reason));
  EXPECT_EQ(ReadCString(small), L"ab");
  mgr.raiseIn = RAISE_NIL;
  EXPECT_FALSE(Assign(small, L"", reason));
  EXPECT_EQ(ReadCString(small), L"ab");
  EXPECT_EQ(mgr.live, 2);

  mgr.raiseIn = RAISE_NONE;
  ASSERT_TRUE(Assign(shared, L"new text", reason));  // the same string works on
  EXPECT_EQ(ReadCString(shared), L"new text");
  ReleaseCString(&shared);
  ReleaseCString(&small);
  EXPECT_EQ(first->nRefs, 1);  // the second owner's, untouched throughout
  RaisingFree(&mgr, first);
  EXPECT_EQ(mgr.live, 0);
}

TEST_F(RaisingMgr, AFreeThatRaisesFailsTheWriteButLeavesTheTargetConsistent) {
  SCString s = Make(L"old", 4);
  SStringData* old = s.Data();
  mgr.raiseIn = RAISE_FREE;
  std::wstring reason;
  EXPECT_FALSE(Assign(s, L"", reason));
  EXPECT_EQ(reason, L"the string manager raised exception 0xE06D7363");
  // The target holds the nil string; the old buffer went to its manager,
  // which did not free it.
  EXPECT_EQ(s.Data(), &mgr.nil.header);
  EXPECT_EQ(old->nRefs, 0);
  std::free(old);
  mgr.raiseIn = RAISE_NONE;
  ReleaseCString(&s);
  EXPECT_EQ(mgr.nil.header.nRefs, 2);
}
