#include "cli/output/FileNames.h"

#include <cstdint>
#include <cstdio>

#include "cli/sys/TextConvert.h"

namespace cli {
namespace {

// An extension is a last dot followed by at most this many bytes, none a blank.
constexpr size_t MAX_EXTENSION_BYTES = 16;

bool IsForbidden(char32_t c) {
  if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) return true;
  // Bidirectional embeddings, overrides and isolates can make a name read
  // differently from what it is.
  if ((c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069)) return true;
  if (c >= 0xD800 && c <= 0xDFFF) return true;  // a lone surrogate
  if (c > 0x10FFFF) return true;
  switch (c) {
    case U'<': case U'>': case U':': case U'"': case U'/': case U'\\': case U'|': case U'?': case U'*':
      return true;
    default:
      return false;
  }
}

// Characters that show nothing: a name holding one looks like another name.
// (The zero-width joiners U+200C and U+200D stay: scripts and emoji need them.)
bool IsInvisible(char32_t c) { return c == 0x200B || c == 0x200E || c == 0x200F || c == 0x2060 || c == 0xFEFF; }

bool IsBlank(char32_t c) { return c == U' ' || c == U'\t' || c == 0xA0 || c == 0x3000; }

// Cuts UTF-8 text to at most `limit` bytes without splitting a character.
std::string CutUtf8(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t n = limit;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return text.substr(0, n);
}

void TrimTrailingDotsAndBlanks(std::string& text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '.')) text.pop_back();
}

size_t ExtensionStart(const std::string& component) {
  size_t dot = component.rfind('.');
  if (dot == std::string::npos || dot == 0 || component.size() - dot > MAX_EXTENSION_BYTES) return component.size();
  if (component.find(' ', dot) != std::string::npos) return component.size();
  return dot;
}

}  // namespace

std::string SafeField(const std::wstring& value, const std::string& fallback) {
  std::wstring name;
  name.reserve(value.size());
  bool pendingBlank = false;
  for (size_t i = 0; i < value.size(); ++i) {
    char32_t c = static_cast<char32_t>(value[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      if (c >= 0xD800 && c < 0xDC00 && i + 1 < value.size() && value[i + 1] >= 0xDC00 && value[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(value[++i]) - 0xDC00);
      }
    }
    if (IsInvisible(c)) continue;
    if (IsBlank(c)) {
      pendingBlank = true;  // runs of blanks become one, ends are dropped below
      continue;
    }
    if (pendingBlank && !name.empty()) name += L' ';
    pendingBlank = false;
    if (IsForbidden(c)) {
      name += L'_';
    } else if (c == U'.' && !name.empty() && name.back() == L'.') {
      // "..": one dot stands for the run
    } else if (c == U'.' && name.empty()) {
      // no leading dot: no hidden files, no "." or ".."
    } else {
      AppendWide(name, c);
    }
  }
  std::string utf8 = WideToUtf8(name);
  TrimTrailingDotsAndBlanks(utf8);
  return utf8.empty() ? fallback : utf8;
}

bool IsReservedDeviceName(const std::string& component) {
  std::string stem = component.substr(0, component.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CLOCK$"})
    if (stem == device) return true;
  return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) && stem[3] >= '0' &&
         stem[3] <= '9';
}

std::string ShortHash(const std::string& address) {
  uint32_t hash = 2166136261u;
  for (unsigned char c : address) {
    hash ^= c;
    hash *= 16777619u;
  }
  char text[9];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(hash));
  return text;
}

std::string FinishComponent(std::string component, const std::string& address, size_t maxBytes) {
  if (maxBytes < 24) maxBytes = 24;
  TrimTrailingDotsAndBlanks(component);
  if (component.empty()) component = "untitled";
  if (component.size() > maxBytes) {
    size_t dot = ExtensionStart(component);
    std::string extension = component.substr(dot);
    std::string marker = "~" + ShortHash(address);
    std::string stem = CutUtf8(component.substr(0, dot), maxBytes - extension.size() - marker.size());
    TrimTrailingDotsAndBlanks(stem);
    component = stem + marker + extension;
  }
  // "aux.txt" is as reserved as "aux": the mark goes right after the stem.
  if (IsReservedDeviceName(component)) {
    size_t dot = component.find('.');
    size_t end = dot == std::string::npos ? component.size() : dot;
    while (end > 0 && component[end - 1] == ' ') --end;
    component.insert(end, "_");
  }
  return component;
}

std::string NumberedVariant(const std::string& path, unsigned n) {
  if (n <= 1) return path;
  size_t slash = path.rfind('/');
  size_t start = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = start + ExtensionStart(path.substr(start));
  return path.substr(0, dot) + " (" + std::to_string(n) + ")" + path.substr(dot);
}

}  // namespace cli
