// ICU's common library (libicuuc), loaded with dlopen when a caller first
// needs it instead of with the program: most runs convert nothing but
// UTF-8, fold no case beyond ASCII and measure no wide character, and
// loading ICU with every process costs every run its start-up time.
//
// IcuCalls() gives the table of the ICU functions this code base calls,
// resolved under ICU's versioned names (the headers rename ucnv_open to
// ucnv_open_72 and so on, in calls and in this table alike). The library
// file is the one the headers belong to ("libicuuc.so." + major version).
// Failure: when the library or a function cannot be found, IcuCalls() is
// null; each caller says what it does then. Nothing throws.
// Ownership: the library stays loaded for the life of the process.
// Threads: any thread; the first call loads, the others wait for it.
#ifndef VERSEWELL_PLATFORM_POSIX_ICU_CALLS_H
#define VERSEWELL_PLATFORM_POSIX_ICU_CALLS_H

#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/unorm2.h>

// X(name) for every ICU function called through the table.
#define VW_ICU_FUNCTIONS(X)                                                                                  \
  X(ucnv_open) X(ucnv_getName) X(ucnv_close) X(ucnv_setToUCallBack) X(ucnv_toUnicode) X(ucnv_setFallback)   \
  X(ucnv_setSubstChars) X(ucnv_setFromUCallBack) X(ucnv_getMaxCharSize) X(ucnv_fromUnicode)                 \
  X(UCNV_FROM_U_CALLBACK_SUBSTITUTE) X(UCNV_TO_U_CALLBACK_STOP) X(UCNV_TO_U_CALLBACK_SUBSTITUTE)             \
  X(unorm2_getNFCInstance) X(unorm2_normalize) X(u_foldCase) X(u_charType) X(u_getIntPropertyValue)         \
  X(u_hasBinaryProperty)

namespace platform {

struct SIcuCalls {
#define VW_ICU_MEMBER(name) decltype(&::name) name = nullptr;
  VW_ICU_FUNCTIONS(VW_ICU_MEMBER)
#undef VW_ICU_MEMBER
};

const SIcuCalls* IcuCalls();

}  // namespace platform

#endif  // VERSEWELL_PLATFORM_POSIX_ICU_CALLS_H
