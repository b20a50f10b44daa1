// The lazily loaded ICU table (platform/posix/IcuCalls.h).
#include "platform/posix/IcuCalls.h"

#include <dlfcn.h>
#include <unicode/uvernum.h>

#include "platform/NoDestructor.h"

#define VW_ICU_TEXT(x) #x
#define VW_ICU_NAME(x) VW_ICU_TEXT(x)

namespace platform {
namespace {

struct SIcuLibrary {
  SIcuLibrary() {
    // RTLD_LOCAL: ICU's names stay out of the global scope.
    void* library = dlopen("libicuuc.so." VW_ICU_NAME(U_ICU_VERSION_MAJOR_NUM), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return;
    bool complete = true;
#define VW_ICU_RESOLVE(name)                                                               \
  calls.name = reinterpret_cast<decltype(calls.name)>(dlsym(library, VW_ICU_NAME(name))); \
  complete = complete && calls.name != nullptr;
    VW_ICU_FUNCTIONS(VW_ICU_RESOLVE)
#undef VW_ICU_RESOLVE
    loaded = complete;
  }
  SIcuCalls calls;
  bool loaded = false;
};

}  // namespace

const SIcuCalls* IcuCalls() {
  static NoDestructor<SIcuLibrary> s_library;
  return s_library.get()->loaded ? &s_library.get()->calls : nullptr;
}

}  // namespace platform
