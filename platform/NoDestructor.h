// NoDestructor<T>: a T constructed in place and never destroyed, for
// process-wide service objects that other static objects (the trace log's
// destructor at unload, say) may still use during static destruction.
// The object is built on first use; construction is thread-safe because
// callers hold it in a function-local static.
#ifndef VERSEWELL_PLATFORM_NO_DESTRUCTOR_H
#define VERSEWELL_PLATFORM_NO_DESTRUCTOR_H

#include <new>
#include <utility>

template <typename T>
class NoDestructor {
 public:
  template <typename... Args>
  explicit NoDestructor(Args&&... args) {
    new (m_storage) T(std::forward<Args>(args)...);
  }
  NoDestructor(const NoDestructor&) = delete;
  NoDestructor& operator=(const NoDestructor&) = delete;
  T* get() { return std::launder(reinterpret_cast<T*>(m_storage)); }

 private:
  alignas(T) unsigned char m_storage[sizeof(T)];
};

#endif  // VERSEWELL_PLATFORM_NO_DESTRUCTOR_H
