// Unloading the real library deletes the plug-in objects the host left
// alive, oldest first, and leaves alone the one the host deleted.
//
// The host sees deletions through the library's releases of memory
// (support/ReleaseWatch.h: the program's exported operator delete on posix,
// the DLL's free() import on Windows) and notes when the address of a
// watched object is released. On Windows the unload is FreeLibrary: the
// DLL's static objects are destroyed at DLL_PROCESS_DETACH, and the
// registry's destructor is what deletes the objects.
#include <gtest/gtest.h>

#include <atomic>

#include <versewell/plugin.h>

#include "support/LoadedLibrary.h"
#include "support/PluginEntry.h"
#include "support/ReleaseWatch.h"

namespace {

const int WATCHED = 3;
std::atomic<void*> g_watched[WATCHED];
std::atomic<int> g_released[WATCHED];  // order of the first release of each, from 1; 0: not yet
std::atomic<int> g_releases{0};

void NoteRelease(void* p) {
  for (int i = 0; i < WATCHED; ++i) {
    void* expected = p;
    // Only the first release counts: the address may be reused afterwards.
    if (g_watched[i].compare_exchange_strong(expected, nullptr)) g_released[i] = ++g_releases;
  }
}

}  // namespace

TEST(UnloadRegistry, UnloadDeletesWhatTheHostLeftAliveOldestFirst) {
  void* library = LoadSharedLibrary(VERSEWELL_PLUGIN_PATH);
  ASSERT_NE(library, nullptr) << LoaderError();
  auto entry = FindPluginEntry(library);
  ASSERT_NE(entry, nullptr);
  ASSERT_TRUE(WatchLibraryReleases(library, NoteRelease));
  CLyricsDllInterface* objects[WATCHED] = {entry(), entry(), entry()};
  for (int i = 0; i < WATCHED; ++i) {
    ASSERT_NE(objects[i], nullptr);
    g_watched[i] = PluginAllocation(objects[i]);  // the address the allocation returned
  }

  delete objects[1];  // the host deletes the middle one itself
  EXPECT_EQ(g_released[1].load(), 1);
  EXPECT_EQ(g_released[0].load(), 0);
  EXPECT_EQ(g_released[2].load(), 0);

  ASSERT_TRUE(UnloadSharedLibrary(library)) << LoaderError();
  ASSERT_FALSE(SharedLibraryIsLoaded(VERSEWELL_PLUGIN_PATH)) << "the library stayed loaded, so nothing was unloaded";
  // The two left alive went at the unload, in the order of their creation.
  EXPECT_EQ(g_released[0].load(), 2);
  EXPECT_EQ(g_released[2].load(), 3);
  EXPECT_EQ(g_releases.load(), 3);
}
