// The Microsoft-ABI pieces of the Windows boundary, one at a time: CStringW
// written through a counting string manager, the plug-in's own manager,
// std::wstring blocks and the large-block rule, and the song list replaced
// in place. The heap of the host's operator new is replaced by a recording
// one, so every block is accounted for.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "platform/win32/msabi/MsCString.h"
#include "platform/win32/msabi/MsSongList.h"
#include "platform/win32/msabi/UcrtHeap.h"

using namespace msabi;

namespace {

// ---------------------------------------------------------------------------
// A host's string manager that counts and checks what it is handed.
// ---------------------------------------------------------------------------
struct SCountingMgr : SStringMgr {
  int allocations = 0;
  int frees = 0;
  int reallocations = 0;
  int foreignFrees = 0;  // blocks not made by this manager
  bool refuse = false;   // Allocate and Reallocate return null
  std::map<SStringData*, int> live;
  struct {
    SStringData header;
    wchar_t nul[2];
  } nil;
};

SStringData* MSABI_THISCALL CountingAllocate(SStringMgr* self, int length, int charSize) {
  auto* m = static_cast<SCountingMgr*>(self);
  if (m->refuse) return nullptr;
  auto* d = static_cast<SStringData*>(std::malloc(sizeof(SStringData) + (length + 1) * charSize));
  *d = SStringData{self, 0, length, 1};
  d->Chars()[0] = L'\0';
  ++m->allocations;
  m->live[d] = 1;
  return d;
}
void MSABI_THISCALL CountingFree(SStringMgr* self, SStringData* d) {
  auto* m = static_cast<SCountingMgr*>(self);
  if (m->live.erase(d) == 0) {
    ++m->foreignFrees;
    return;
  }
  ++m->frees;
  std::free(d);
}
SStringData* MSABI_THISCALL CountingReallocate(SStringMgr* self, SStringData* d, int length, int charSize) {
  auto* m = static_cast<SCountingMgr*>(self);
  if (m->refuse || m->live.erase(d) == 0) return nullptr;
  auto* grown = static_cast<SStringData*>(std::realloc(d, sizeof(SStringData) + (length + 1) * charSize));
  grown->nAllocLength = length;
  ++m->reallocations;
  m->live[grown] = 1;
  return grown;
}
SStringData* MSABI_THISCALL CountingNil(SStringMgr* self) {
  auto* m = static_cast<SCountingMgr*>(self);
  __atomic_add_fetch(&m->nil.header.nRefs, 1, __ATOMIC_SEQ_CST);
  return &m->nil.header;
}
SStringMgr* MSABI_THISCALL CountingClone(SStringMgr* self) { return self; }
const SStringMgrTable COUNTING_TABLE = {CountingAllocate, CountingFree, CountingReallocate, CountingNil, CountingClone};

class CountingMgr : public ::testing::Test {
 protected:
  void SetUp() override {
    mgr.vtbl = &COUNTING_TABLE;
    mgr.nil.header = SStringData{&mgr, 0, 0, 2};
    mgr.nil.nul[0] = L'\0';
  }
  // A host string holding `text` in a buffer of `alloc` characters.
  SCString Make(const std::wstring& text, int alloc) {
    SStringData* d = CountingAllocate(&mgr, alloc, 2);
    std::memcpy(d->Chars(), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    d->nDataLength = static_cast<int>(text.size());
    return SCString{d->Chars()};
  }
  SCString Nil() { return SCString{CountingNil(&mgr)->Chars()}; }
  bool Assign(SCString& s, const std::wstring& text) {
    const wchar_t* reason = nullptr;
    return AssignCString(&s, text.data(), text.size(), reason);
  }
  SCountingMgr mgr;
};

}  // namespace

TEST_F(CountingMgr, SharedAndNilBuffersAreNeverWrittenInPlace) {
  SCString a = Make(L"shared text", 16);
  SCString b = a;
  __atomic_add_fetch(&a.Data()->nRefs, 1, __ATOMIC_SEQ_CST);  // b is a copy (AddRef)
  ASSERT_TRUE(Assign(a, L"new"));
  EXPECT_NE(a.pszData, b.pszData);
  EXPECT_EQ(ReadCString(a), L"new");
  EXPECT_EQ(ReadCString(b), L"shared text");  // the other owner's text is untouched
  EXPECT_EQ(b.Data()->nRefs, 1);
  EXPECT_EQ(mgr.allocations, 2);
  EXPECT_EQ(mgr.frees, 0);

  SCString n = Nil();
  const long nilRefs = mgr.nil.header.nRefs;
  ASSERT_TRUE(Assign(n, L"from nil"));
  EXPECT_EQ(ReadCString(n), L"from nil");
  EXPECT_EQ(mgr.nil.header.nRefs, nilRefs - 1);
  EXPECT_EQ(mgr.nil.nul[0], L'\0');

  // Emptying drops the buffer (freed: last reference) and takes the nil string.
  ASSERT_TRUE(Assign(n, L""));
  EXPECT_EQ(n.Data(), &mgr.nil.header);
  ReleaseCString(&a);
  ReleaseCString(&b);
  ReleaseCString(&n);
  EXPECT_EQ(mgr.frees, mgr.allocations);
  EXPECT_TRUE(mgr.live.empty());
  EXPECT_EQ(mgr.foreignFrees, 0);
}

TEST_F(CountingMgr, OwnBuffersGrowThroughTheirManagerAndLockedOnesOnlyInPlace) {
  SCString s = Make(L"ab", 4);
  ASSERT_TRUE(Assign(s, L"abcd"));  // fits: in place
  EXPECT_EQ(mgr.allocations, 1);
  ASSERT_TRUE(Assign(s, L"a much longer text"));
  EXPECT_EQ(mgr.reallocations, 1);
  EXPECT_EQ(ReadCString(s), L"a much longer text");

  s.Data()->nRefs = -1;  // locked (GetBuffer/LockBuffer)
  const wchar_t* before = s.pszData;
  ASSERT_TRUE(Assign(s, L"short"));
  EXPECT_EQ(s.pszData, before);
  EXPECT_EQ(s.Data()->nRefs, -1);
  const wchar_t* reason = nullptr;
  const std::wstring tooLong(200, L'x');
  EXPECT_FALSE(AssignCString(&s, tooLong.data(), tooLong.size(), reason));
  EXPECT_NE(reason, nullptr);
  EXPECT_EQ(ReadCString(s), L"short");
  EXPECT_EQ(mgr.allocations, 1);
  s.Data()->nRefs = 1;
  ReleaseCString(&s);
  EXPECT_TRUE(mgr.live.empty());
}

TEST_F(CountingMgr, AManagerThatCannotAllocateLeavesTheStringAsItWas) {
  SCString n = Nil();
  SCString small = Make(L"x", 1);
  mgr.refuse = true;
  EXPECT_FALSE(Assign(n, L"text"));
  EXPECT_EQ(n.Data(), &mgr.nil.header);
  EXPECT_FALSE(Assign(small, L"longer text"));
  EXPECT_EQ(ReadCString(small), L"x");
  mgr.refuse = false;
  ReleaseCString(&n);
  ReleaseCString(&small);
  EXPECT_EQ(mgr.frees, 1);
  EXPECT_TRUE(mgr.live.empty());
}

TEST(LocalStringMgr, BuffersAreReleasedOnceWhateverTheOtherSideDoes) {
  const long before = CLocalStringMgr::Outstanding();
  {
    CLocalCString name(L"HttpProxy");
    EXPECT_EQ(name.Text(), L"HttpProxy");
    EXPECT_EQ(name.Get()->Data()->pStringMgr, CLocalStringMgr::Get());
    EXPECT_EQ(CLocalStringMgr::Outstanding(), before + 1);
    // The other side keeps a copy (CloneData with the same manager: AddRef)...
    SCString kept = *name.Get();
    __atomic_add_fetch(&kept.Data()->nRefs, 1, __ATOMIC_SEQ_CST);

    // ...and assigns into a preset empty target through our manager.
    CLocalCString target;
    SStringMgr* m = target.Get()->Data()->pStringMgr;
    EXPECT_EQ(target.Get()->Data()->nRefs >= 2, true) << "an empty target is the shared nil string";
    const wchar_t* reason = nullptr;
    ASSERT_TRUE(AssignCString(target.Get(), L"127.0.0.1:8080", 14, reason));
    EXPECT_EQ(target.Get()->Data()->pStringMgr, m);
    EXPECT_EQ(CLocalStringMgr::Outstanding(), before + 2);
    ReleaseCString(&kept);
    EXPECT_EQ(CLocalStringMgr::Outstanding(), before + 2) << "freed while still referenced";
  }
  EXPECT_EQ(CLocalStringMgr::Outstanding(), before);
}

// ---------------------------------------------------------------------------
// The heap of the host's operator new, recorded
// ---------------------------------------------------------------------------
namespace {

struct SHeapRecord {
  std::map<void*, size_t> live;
  int mallocs = 0;
  int frees = 0;
  int foreignFrees = 0;
  int failAfter = -1;  // the malloc that fails, counted from 0 (-1: none)
  size_t lastSize = 0;
};
SHeapRecord* g_heap = nullptr;

void* RecordingMalloc(size_t n) {
  if (g_heap->failAfter == 0) return nullptr;
  if (g_heap->failAfter > 0) --g_heap->failAfter;
  void* p = std::malloc(n);
  g_heap->live[p] = n;
  g_heap->lastSize = n;
  ++g_heap->mallocs;
  return p;
}
void RecordingFree(void* p) {
  if (g_heap->live.erase(p) == 0) {
    ++g_heap->foreignFrees;
    return;
  }
  ++g_heap->frees;
  std::free(p);
}

class RecordedHeap : public ::testing::Test {
 protected:
  void SetUp() override {
    g_heap = &heap;
    SetUcrtHeapForTesting(RecordingMalloc, RecordingFree);
  }
  void TearDown() override {
    SetUcrtHeapForTesting(nullptr, nullptr);
    EXPECT_TRUE(heap.live.empty()) << heap.live.size() << " blocks never freed";
    EXPECT_EQ(heap.foreignFrees, 0);
    g_heap = nullptr;
  }
  SHeapRecord heap;
};

SongListEntry Entry(const std::wstring& title, const std::wstring& url) {
  SongListEntry e(SongEntry(title, L"Artist", L"", false));
  e.Url = url;
  e.SourceName = L"Versewell";
  e.SourceId = L"0123456789abcdef0123456789abcdef";
  return e;
}

}  // namespace

TEST_F(RecordedHeap, WideStringsUseTheSmallBufferAndTheLargeBlockRule) {
  SWString s;
  ASSERT_TRUE(ConstructWString(&s, L"1234567", 7));  // fits the 8-character buffer
  EXPECT_EQ(heap.mallocs, 0);
  EXPECT_EQ(s.capacity, 7u);
  EXPECT_EQ(ReadWString(s), L"1234567");
  DestroyWString(&s);

  ASSERT_TRUE(ConstructWString(&s, L"12345678", 8));
  EXPECT_EQ(s.capacity, 15u);
  EXPECT_EQ(heap.lastSize, 16 * sizeof(wchar_t));
  DestroyWString(&s);

  // 2039 characters: capacity 2039, 4080 bytes: an ordinary block.
  const std::wstring below(2039, L'b');
  ASSERT_TRUE(ConstructWString(&s, below.data(), below.size()));
  EXPECT_EQ(heap.lastSize, 4080u);
  EXPECT_EQ(heap.live.count(s.bx.ptr), 1u);
  DestroyWString(&s);

  // 2047 characters: capacity 2047, 4096 bytes: the large-block rule.
  const std::wstring big(2047, L'g');
  ASSERT_TRUE(ConstructWString(&s, big.data(), big.size()));
  EXPECT_EQ(s.capacity, 2047u);
  EXPECT_EQ(heap.lastSize, 4096 + sizeof(void*) + 31);
  const auto user = reinterpret_cast<uintptr_t>(s.bx.ptr);
  EXPECT_EQ(user % 32, 0u);
  const uintptr_t container = reinterpret_cast<const uintptr_t*>(user)[-1];
  EXPECT_EQ(heap.live.count(reinterpret_cast<void*>(container)), 1u);
  EXPECT_GE(user - container, sizeof(void*));
  EXPECT_LE(user - container, sizeof(void*) + 31);
  EXPECT_EQ(ReadWString(s), big);
  DestroyWString(&s);  // gives back the container, not the user pointer
  EXPECT_EQ(heap.frees, heap.mallocs);
}

TEST_F(RecordedHeap, ASongListThatHoldsEntriesIsReplacedAndEveryOldBlockFreedOnce) {
  SSongList list{nullptr, 0};
  ASSERT_TRUE(ConstructSongList(&list));
  std::list<SongListEntry> old = {Entry(L"Old", L"host/old"), Entry(std::wstring(3000, L'L'), L"host/long")};
  ASSERT_TRUE(ReplaceSongList(&list, old));
  EXPECT_EQ(list.size, 2u);
  const int mallocsForOld = heap.mallocs;

  std::list<SongListEntry> fresh = {Entry(L"One", L"host/1"), Entry(L"Two", L"host/2"), Entry(L"Three", L"host/3")};
  ASSERT_TRUE(ReplaceSongList(&list, fresh));
  EXPECT_EQ(heap.frees, mallocsForOld - 1) << "every old node and string, not the head";
  EXPECT_EQ(list.size, 3u);
  const std::list<SongListEntry> read = ReadSongList(list);
  ASSERT_EQ(read.size(), 3u);
  EXPECT_EQ(read.front().Title, L"One");
  EXPECT_EQ(read.back().Url, L"host/3");
  EXPECT_EQ(read.back().SourceId, L"0123456789abcdef0123456789abcdef");
  EXPECT_EQ(list.head->prev->next, list.head);
  EXPECT_EQ(list.head->next->prev, list.head);

  // A heap that runs out half-way leaves the list as it was.
  heap.failAfter = 5;
  EXPECT_FALSE(ReplaceSongList(&list, old));
  heap.failAfter = -1;
  EXPECT_EQ(list.size, 3u);
  EXPECT_EQ(ReadSongList(list).front().Title, L"One");

  ASSERT_TRUE(ReplaceSongList(&list, {}));
  EXPECT_EQ(list.size, 0u);
  EXPECT_EQ(list.head->next, list.head);
  DestroySongList(&list);
}
