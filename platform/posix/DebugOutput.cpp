// posix backend of platform/DebugOutput.h: standard error, while traced.
#include "platform/DebugOutput.h"

#include <time.h>

#include <atomic>
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

// Whether a tracer is attached, looked up at most once a second: a traced
// process logs many lines, and reading /proc for each would be wasteful.
bool IsTracedCached() {
  static std::atomic<int64_t> s_checkedAt{-1};
  static std::atomic<bool> s_traced{false};
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const int64_t now = static_cast<int64_t>(ts.tv_sec);
  if (s_checkedAt.load(std::memory_order_relaxed) != now) {
    s_traced.store(IsTraced(), std::memory_order_relaxed);
    s_checkedAt.store(now, std::memory_order_relaxed);
  }
  return s_traced.load(std::memory_order_relaxed);
}

}  // namespace

void OutputDebugStringW(const wchar_t* text) {
  if (text == nullptr) return;
  const char* flag = std::getenv("VERSEWELL_DEBUG_OUTPUT");
  bool enabled = (flag != nullptr && std::strcmp(flag, "1") == 0) || IsTracedCached();
  if (!enabled) return;
  std::string utf8 = ToNativePath(text);
  std::fwrite(utf8.data(), 1, utf8.size(), stderr);
}

}  // namespace platform
