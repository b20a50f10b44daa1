// The DLL's entry under memory pressure: whichever allocation of the
// plug-in object fails, the Microsoft-ABI export and the in-process entry
// give a null object and one trace line, register nothing, and let no
// exception out. Every allocation of the creation is made to fail in turn
// (this program's operator new fails once, at the n-th call, when armed).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

#include <versewell/plugin.h>

#include "diag/TraceLevels.h"
#include "plugin/InterfaceRegistry.h"
#include "plugin/msabi/MsPluginObject.h"
#include "support/TraceCapture.h"

namespace {

// The allocation of the test's thread that fails, counted from 0; -1 when
// disarmed. Armed around one call on the test's own thread; allocations of
// other threads are not counted.
int g_nFailAt = -1;
bool g_bFired = false;
std::atomic<bool> g_bArmed{false};
std::thread::id g_testThread;

void Arm(int n) {
  g_testThread = std::this_thread::get_id();
  g_bFired = false;
  g_nFailAt = n;
  g_bArmed = true;
}

void Disarm() {
  g_bArmed = false;
  g_nFailAt = -1;
}

void* Allocate(size_t size) {
  if (!g_bArmed || std::this_thread::get_id() != g_testThread) {
    if (void* p = std::malloc(size != 0 ? size : 1)) return p;
    throw std::bad_alloc();
  }
  if (g_nFailAt == 0) {
    g_nFailAt = -1;
    g_bFired = true;
    throw std::bad_alloc();
  }
  if (g_nFailAt > 0) --g_nFailAt;
  if (void* p = std::malloc(size != 0 ? size : 1)) return p;
  throw std::bad_alloc();
}

// Runs `create` with the n-th allocation failing, for n = 0, 1, ... until
// a run makes no allocation fail; `check` sees each run's object (null or
// not) and whether its failure fired.
template <typename Create, typename Check>
int EveryAllocationFailingInTurn(Create create, Check check) {
  int failures = 0;
  for (int n = 0; n < 10000; ++n) {
    Arm(n);
    auto* object = create();
    Disarm();
    check(object, g_bFired);
    if (!g_bFired) return failures;
    ++failures;
  }
  ADD_FAILURE() << "the creation never ran without a failure";
  return failures;
}

}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

TEST(EntryAllocation, TheExportGivesNullAndATraceLineWhereverAnAllocationFails) {
  const int registered = g_InterfaceRegistry.GetCount();
  int nulls = 0;
  const int failures = EveryAllocationFailingInTurn([] { return CreateMsPluginObject(); },
                                                    [&](msabi::SPluginObject* object, bool fired) {
    if (object == nullptr) {
      ++nulls;
      EXPECT_TRUE(fired);
      EXPECT_EQ(g_InterfaceRegistry.GetCount(), registered);
      return;
    }
    // Created in spite of a failure the object absorbed, or without one.
    EXPECT_EQ(object->vtbl->ScalarDeletingDtor(object, 1), object);
    EXPECT_EQ(g_InterfaceRegistry.GetCount(), registered);
  });
  EXPECT_GT(failures, 1);
  EXPECT_GE(nulls, 1);
  // One line per failed creation (read back without a failing allocation).
  CTraceCapture capture(TRACE_ERROR);
  Arm(0);
  EXPECT_EQ(CreateMsPluginObject(), nullptr);
  Disarm();
  EXPECT_TRUE(g_bFired);
  EXPECT_EQ(capture.Count(L"GetDllInterface(): stopped by an exception: std::bad_alloc", TRACE_ERROR), 1);
}

TEST(EntryAllocation, TheInProcessEntryGivesNullAndATraceLineOnWindows) {
  const int registered = g_InterfaceRegistry.GetCount();
  int nulls = 0;
  EveryAllocationFailingInTurn([] { return GetDllInterface(); }, [&](CLyricsDllInterface* object, bool fired) {
    if (object == nullptr) {
      ++nulls;
      EXPECT_TRUE(fired);
    } else {
      delete object;
    }
    EXPECT_EQ(g_InterfaceRegistry.GetCount(), registered);
  });
  EXPECT_GE(nulls, 1);
  CTraceCapture capture(TRACE_ERROR);
  Arm(0);
  EXPECT_EQ(GetDllInterface(), nullptr);
  Disarm();
  EXPECT_EQ(capture.Count(L"GetDllInterface(): no plug-in object: std::bad_alloc", TRACE_ERROR), 1);
}
