// What a `throw` of a program built with Microsoft's compiler raises, for
// tests that play such a host: the SEH exception 0xE06D7363, noncontinuable,
// with the runtime's magic number first. Header only; Windows tests only.
#ifndef VERSEWELL_TESTS_SUPPORT_WIN32_MSVC_THROW_H
#define VERSEWELL_TESTS_SUPPORT_WIN32_MSVC_THROW_H

#include <cstdint>

extern "C" __declspec(dllimport) void __stdcall RaiseException(unsigned long code, unsigned long flags,
                                                                unsigned long count, const uintptr_t* arguments);

// A frame of its own with nothing to unwind, so that no handler of this
// module's runtime sees the exception before the code under test does.
__attribute__((noinline)) inline void RaiseMsvcCxxException() {
  static int thrown = 0;
  const uintptr_t arguments[3] = {0x19930520, reinterpret_cast<uintptr_t>(&thrown), 0};
  RaiseException(0xE06D7363UL, 1, 3, arguments);
}

#endif  // VERSEWELL_TESTS_SUPPORT_WIN32_MSVC_THROW_H
