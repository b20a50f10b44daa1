// posix backend of platform/Module.h: dladdr on a function of this module.
#include "platform/Module.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include "platform/Path.h"

namespace platform {

std::wstring GetOwnModulePath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&GetOwnModulePath), &info) == 0 || info.dli_fname == nullptr)
    return std::wstring();
  char resolved[PATH_MAX];
  if (realpath(info.dli_fname, resolved) != nullptr) return FromNativePath(resolved);
  return FromNativePath(info.dli_fname);
}

}  // namespace platform
