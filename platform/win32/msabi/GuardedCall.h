// Calls into the other side's tables behind an SEH guard: a member function
// of the host's CHostCallback or CHostIgnore, or of a string manager, that
// raises an exception of Microsoft's C++ runtime (SEH code 0xE06D7363, what
// every `throw` of a Microsoft-built host raises) ends at the guard as a
// failed call, instead of passing through this module's frames.
//
// Why a guard of its own: mingw-w64's C++ runtime does not catch such a
// foreign exception. On x86_64 GCC's personality routine lets it pass (its
// catch (...) never sees it); on i686 GCC's frames unwind with DWARF tables
// and register nothing with SEH. Either way the exception would reach the
// host through the plug-in's frames and skip every destructor and lock
// release of the plug-in on the way.
//
// What the guard does (GuardedCall-x86_64.S, GuardedCall-i686.S, one chosen
// in CMake): it calls the function pointer itself, inside an SEH frame of
// its own. Its handler takes code 0xE06D7363 in the dispatch pass and has
// the system unwind the frames in between to the guard (RtlUnwindEx on
// x86_64, RtlUnwind on i686): their handlers run with EXCEPTION_UNWINDING,
// so the raising side's own destructors run, as for a catch of its own.
// The call then returns the exception code.
//
// What it does not do:
//  - catch any other exception. An access violation, a stack overflow, a
//    breakpoint or another runtime's exception passes on to the other side's
//    handlers, a debugger or the process's last handler, as before: a fault
//    in the host's code says its memory is not to be trusted, and going on
//    would hide it;
//  - destroy the thrown object (the runtime's catch would, after the catch
//    block). What it owns is lost, as with any __except that stops a C++
//    exception;
//  - stop an exception of this module's own runtime. None is expected (no
//    C++ code of this module runs between the guard and the callee, and
//    what this module offers the other side catches its own exceptions),
//    but one thrown by a callee of the same toolchain passes through: on
//    x86_64 the guard's handler ignores GCC's codes; on i686, where GCC
//    unwinds with DWARF tables that SEH never sees, the guard's own DWARF
//    cleanup takes its record off the chain before the unwinding goes on.
//
// Arguments and results cross as machine words: pointers, int and unsigned
// int arguments (at most three besides `this`); BOOL, int, bool and pointer
// results (a bool is the low byte, as Microsoft's ABI returns it in AL).
// Threads: any; the guard lives on the calling thread's stack.
#ifndef VERSEWELL_PLATFORM_WIN32_MSABI_GUARDED_CALL_H
#define VERSEWELL_PLATFORM_WIN32_MSABI_GUARDED_CALL_H

#include <cstdint>
#include <type_traits>

#include "platform/win32/msabi/MsLayout.h"

extern "C" unsigned long VwGuardedMemberCall(const void* fn, void* self, uintptr_t a1, uintptr_t a2, uintptr_t a3,
                                             uintptr_t* result);

namespace msabi {

// The only exception the guard stops: a throw of Microsoft's C++ runtime.
constexpr unsigned long MSVC_CXX_EXCEPTION = 0xE06D7363UL;

// One guarded call: nRaised is 0 when the callee returned (then `value` is
// its result), else the code of the exception it raised.
template <typename R>
struct SGuardedResult {
  unsigned long nRaised = 0;
  R value{};
};
template <>
struct SGuardedResult<void> {
  unsigned long nRaised = 0;
};

namespace guarded {
template <typename T>
struct SSame {
  typedef T type;
};
template <typename T>
uintptr_t Word(T v) {
  static_assert(std::is_pointer<T>::value || std::is_integral<T>::value, "a machine word");
  if constexpr (std::is_pointer<T>::value) {
    return reinterpret_cast<uintptr_t>(v);
  } else {
    return static_cast<uintptr_t>(v);
  }
}
}  // namespace guarded

// Calls `fn(self, args...)` behind the guard.
template <typename R, typename Self, typename... Params>
SGuardedResult<R> GuardedCall(R(MSABI_THISCALL* fn)(Self*, Params...), Self* self,
                              typename guarded::SSame<Params>::type... args) {
  static_assert(sizeof...(Params) <= 3, "at most three arguments besides this");
  const uintptr_t words[4] = {guarded::Word(args)..., 0};  // the unused ones 0
  uintptr_t value = 0;
  SGuardedResult<R> result;
  result.nRaised = VwGuardedMemberCall(reinterpret_cast<const void*>(fn), self, words[0], words[1], words[2], &value);
  if constexpr (std::is_same<R, bool>::value) {
    result.value = result.nRaised == 0 && (value & 0xFFu) != 0;
  } else if constexpr (std::is_pointer<R>::value) {
    if (result.nRaised == 0) result.value = reinterpret_cast<R>(value);
  } else if constexpr (!std::is_void<R>::value) {
    if (result.nRaised == 0) result.value = static_cast<R>(value);
  }
  return result;
}

}  // namespace msabi

#endif  // VERSEWELL_PLATFORM_WIN32_MSABI_GUARDED_CALL_H
