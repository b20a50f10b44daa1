// posix backend of platform/DebugOutput.h: standard error, while traced.
#include "platform/DebugOutput.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/Path.h"

namespace platform {
namespace {

bool IsTraced() {
  FILE* f = std::fopen("/proc/self/status", "re");
  if (f == nullptr) return false;
  char line[256];
  bool traced = false;
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::strncmp(line, "TracerPid:", 10) == 0) {
      traced = std::atol(line + 10) != 0;
      break;
    }
  }
  std::fclose(f);
  return traced;
}

}  // namespace

void OutputDebugStringW(const wchar_t* text) {
  if (text == nullptr) return;
  const char* flag = std::getenv("VERSEWELL_DEBUG_OUTPUT");
  bool enabled = (flag != nullptr && std::strcmp(flag, "1") == 0) || IsTraced();
  if (!enabled) return;
  std::string utf8 = ToNativePath(text);
  std::fwrite(utf8.data(), 1, utf8.size(), stderr);
}

}  // namespace platform
