// Unloading the real library with dlclose deletes the plug-in objects the
// host left alive, oldest first, and leaves alone the one the host deleted.
//
// The host sees deletions through the global allocation functions: this
// program replaces operator new and delete (built with exported symbols, so
// the loaded library binds to them too) and notes when the address of a
// watched object is released.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include <versewell/plugin.h>

namespace {

const int WATCHED = 3;
std::atomic<void*> g_watched[WATCHED];
std::atomic<int> g_released[WATCHED];  // order of the first release of each, from 1; 0: not yet
std::atomic<int> g_releases{0};

void NoteRelease(void* p) {
  if (p == nullptr) return;
  for (int i = 0; i < WATCHED; ++i) {
    void* expected = p;
    // Only the first release counts: the address may be reused afterwards.
    if (g_watched[i].compare_exchange_strong(expected, nullptr)) g_released[i] = ++g_releases;
  }
}

}  // namespace

void* operator new(std::size_t size) {
  void* p = std::malloc(size != 0 ? size : 1);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void operator delete(void* p) noexcept {
  NoteRelease(p);
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  NoteRelease(p);
  std::free(p);
}

TEST(UnloadRegistry, DlcloseDeletesWhatTheHostLeftAliveOldestFirst) {
  void* library = dlopen(VERSEWELL_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  auto entry = reinterpret_cast<PFN_GetDllInterface>(dlsym(library, "GetDllInterface"));
  ASSERT_NE(entry, nullptr);
  CLyricsDllInterface* objects[WATCHED] = {entry(), entry(), entry()};
  for (int i = 0; i < WATCHED; ++i) {
    ASSERT_NE(objects[i], nullptr);
    g_watched[i] = dynamic_cast<void*>(objects[i]);  // the address the allocation returned
  }

  delete objects[1];  // the host deletes the middle one itself
  EXPECT_EQ(g_released[1].load(), 1);
  EXPECT_EQ(g_released[0].load(), 0);
  EXPECT_EQ(g_released[2].load(), 0);

  ASSERT_EQ(dlclose(library), 0);
  void* still = dlopen(VERSEWELL_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
  if (still != nullptr) dlclose(still);
  ASSERT_EQ(still, nullptr) << "the library stayed loaded, so nothing was unloaded";
  // The two left alive went at the unload, in the order of their creation.
  EXPECT_EQ(g_released[0].load(), 2);
  EXPECT_EQ(g_released[2].load(), 3);
  EXPECT_EQ(g_releases.load(), 3);
}
