#include "cli/Progress.h"

#include <cstdio>

#include "cli/HostPlatform.h"
#include "cli/TextConvert.h"

namespace cli {

CProgress::CProgress(bool enabled) : m_bEnabled(enabled), m_start(std::chrono::steady_clock::now()) {}

std::string CProgress::Render(size_t done, size_t total, const std::string& title, long seconds, int columns) {
  constexpr int BAR = 20;
  size_t filled = total == 0 ? BAR : done * BAR / total;
  std::string line = "[";
  for (int i = 0; i < BAR; ++i) line += static_cast<size_t>(i) < filled ? '#' : '-';
  char counts[64];
  std::snprintf(counts, sizeof counts, "] %zu/%zu %02ld:%02ld ", done, total, seconds / 60, seconds % 60);
  line += counts;
  // Cut the title by characters, not bytes, to the room that is left.
  std::wstring wide = Utf8ToWide(title);
  for (wchar_t& c : wide)
    if (c < 0x20 || c == 0x7F) c = L' ';
  long room = static_cast<long>(columns) - 1 - static_cast<long>(line.size());
  if (room <= 0) return line.substr(0, columns > 1 ? static_cast<size_t>(columns - 1) : 0);
  if (static_cast<long>(wide.size()) > room) wide = wide.substr(0, static_cast<size_t>(room > 3 ? room - 3 : room)) + (room > 3 ? L"..." : L"");
  return line + WideToUtf8(wide);
}

void CProgress::Update(size_t done, size_t total, const std::string& title) {
  if (!m_bEnabled) return;
  long seconds = static_cast<long>(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - m_start).count());
  std::string line = Render(done, total, title, seconds, hostplatform::StderrColumns());
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
  m_bDrawn = true;
}

void CProgress::Finish() {
  if (!m_bEnabled || !m_bDrawn) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  m_bDrawn = false;
}

}  // namespace cli
