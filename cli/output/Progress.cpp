#include "cli/output/Progress.h"

#include <cstdio>
#include <cstring>

#include "cli/sys/HostPlatform.h"
#include "cli/sys/TextConvert.h"

namespace cli {
namespace {

// Decodes the next UTF-8 character of well-formed text (WideToUtf8 output).
char32_t NextChar(const std::string& text, size_t& i) {
  unsigned char lead = static_cast<unsigned char>(text[i++]);
  int more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
  char32_t c = more == 0 ? lead : lead & (0x3F >> more);
  for (; more > 0 && i < text.size(); --more) c = (c << 6) | (static_cast<unsigned char>(text[i++]) & 0x3F);
  return c;
}

}  // namespace

EProgressStyle ChooseProgressStyle(bool stderrIsTerminal, const char* term, bool noProgress, bool quiet) {
  if (!stderrIsTerminal || noProgress || quiet) return EProgressStyle::Off;
  if (term != nullptr && std::strcmp(term, "dumb") == 0) return EProgressStyle::Plain;
  return EProgressStyle::Ansi;
}

size_t DisplayWidth(const std::string& text) {
  size_t width = 0;
  for (size_t i = 0; i < text.size();) width += static_cast<size_t>(hostplatform::CharacterColumns(NextChar(text, i)));
  return width;
}

std::string CutToWidth(const std::string& text, size_t columns) {
  size_t width = 0;
  for (size_t i = 0; i < text.size();) {
    size_t start = i;
    size_t w = static_cast<size_t>(hostplatform::CharacterColumns(NextChar(text, i)));
    if (width + w > columns) return text.substr(0, start);
    width += w;
  }
  return text;
}

CProgress::CProgress(EProgressStyle style) : m_eStyle(style), m_start(std::chrono::steady_clock::now()) {}

std::string CProgress::Render(size_t done, size_t total, const std::string& title, long seconds, int columns) {
  constexpr int BAR = 20;
  size_t filled = total == 0 ? BAR : (done >= total ? BAR : done * BAR / total);
  std::string line = "[";
  for (int i = 0; i < BAR; ++i) line += static_cast<size_t>(i) < filled ? '#' : '-';
  char counts[64];
  std::snprintf(counts, sizeof counts, "] %zu/%zu %02ld:%02ld ", done, total, seconds / 60, seconds % 60);
  line += counts;
  // The last column stays free: writing into it makes many terminals wrap.
  size_t room = columns > 1 ? static_cast<size_t>(columns - 1) : 0;
  if (line.size() >= room) return line.substr(0, room);
  room -= line.size();
  std::wstring wide = Utf8ToWide(title);
  for (wchar_t& c : wide)
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) c = L' ';
  std::string clean = WideToUtf8(wide);
  if (DisplayWidth(clean) <= room) return line + clean;
  if (room <= 3) return line + CutToWidth(clean, room);
  return line + CutToWidth(clean, room - 3) + "...";
}

void CProgress::Update(size_t done, size_t total, const std::string& title) {
  if (m_eStyle == EProgressStyle::Off) return;
  long seconds = static_cast<long>(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - m_start).count());
  std::string line = Render(done, total, title, seconds, hostplatform::StderrColumns());
  size_t width = DisplayWidth(line);
  std::lock_guard<std::mutex> lock(m_mutex);
  std::string out;
  if (m_eStyle == EProgressStyle::Ansi) {
    out = "\r\033[K" + line;
  } else {
    out = "\r" + line;
    if (m_nDrawnColumns > width) out += std::string(m_nDrawnColumns - width, ' ');
  }
  hostplatform::WriteText(stderr, out);
  std::fflush(stderr);
  m_nDrawnColumns = width > 0 ? width : 1;
}

void CProgress::Finish() {
  if (m_eStyle == EProgressStyle::Off) return;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_nDrawnColumns == 0) return;
  std::string out = m_eStyle == EProgressStyle::Ansi ? "\r\033[K" : "\r" + std::string(m_nDrawnColumns, ' ') + "\r";
  hostplatform::WriteText(stderr, out);
  std::fflush(stderr);
  m_nDrawnColumns = 0;
}

}  // namespace cli
