// posix backend of support/ReleaseWatch.h: replaced global allocation
// functions. The program is linked with its symbols exported, so a library
// loaded with dlopen binds operator new and delete to these.
#include "support/ReleaseWatch.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<ReleaseObserver> g_observer{nullptr};

void Released(void* p) {
  if (p == nullptr) return;
  if (ReleaseObserver observer = g_observer.load()) observer(p);
}

}  // namespace

bool WatchLibraryReleases(void* library, ReleaseObserver observer) {
  if (library == nullptr || observer == nullptr) return false;
  g_observer = observer;
  return true;
}

void* operator new(std::size_t size) {
  void* p = std::malloc(size != 0 ? size : 1);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void operator delete(void* p) noexcept {
  Released(p);
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  Released(p);
  std::free(p);
}
