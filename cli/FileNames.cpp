#include "cli/FileNames.h"

#include <algorithm>

#include "cli/TextConvert.h"

namespace cli {
namespace {

bool IsForbidden(wchar_t c) {
  unsigned long u = static_cast<unsigned long>(c);
  if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0)) return true;
  switch (c) {
    case L'<': case L'>': case L':': case L'"': case L'/': case L'\\': case L'|': case L'?': case L'*':
      return true;
    default:
      return false;
  }
}

bool IsDeviceName(const std::wstring& name) {
  // Windows treats these as devices with any extension and in any case.
  std::wstring stem = FoldCase(name.substr(0, name.find(L'.')));
  while (!stem.empty() && (stem.back() == L' ')) stem.pop_back();
  static const wchar_t* const DEVICES[] = {L"con", L"prn", L"aux", L"nul", L"clock$"};
  for (const wchar_t* d : DEVICES)
    if (stem == d) return true;
  if (stem.size() == 4 && (stem.compare(0, 3, L"com") == 0 || stem.compare(0, 3, L"lpt") == 0) &&
      stem[3] >= L'0' && stem[3] <= L'9')
    return true;
  return false;
}

// Cuts UTF-8 text to at most `limit` bytes without splitting a character.
std::string CutUtf8(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t n = limit;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return text.substr(0, n);
}

std::wstring TrimEnds(std::wstring name) {
  size_t b = 0;
  while (b < name.size() && (name[b] == L' ' || name[b] == L'.')) ++b;
  name.erase(0, b);
  while (!name.empty() && (name.back() == L' ' || name.back() == L'.')) name.pop_back();
  return name;
}

}  // namespace

std::string SafeBaseName(const std::wstring& title) {
  std::wstring name;
  name.reserve(title.size());
  bool lastWasBlank = false;
  for (wchar_t c : TrimWide(title)) {
    bool blank = c == L' ' || c == L'\t' || c == 0xA0;
    if (blank) {
      if (!lastWasBlank) name += L' ';
    } else if (IsForbidden(c)) {
      name += L'_';
    } else if ((sizeof(wchar_t) == 4 && static_cast<unsigned long>(c) > 0x10FFFF) ||
               (sizeof(wchar_t) == 4 && c >= 0xD800 && c <= 0xDFFF)) {
      name += L'_';
    } else {
      name += c;
    }
    lastWasBlank = blank;
  }
  name = TrimEnds(name);
  std::string utf8 = CutUtf8(WideToUtf8(name), MAX_NAME_BYTES);
  // Cutting can leave a trailing blank or dot again.
  name = TrimEnds(Utf8ToWide(utf8));
  if (name.empty()) name = L"untitled";
  // "aux.txt" is as reserved as "aux": the mark goes right after the stem.
  if (IsDeviceName(name)) name.insert(std::min(name.find(L'.'), name.size()), L"_");
  return WideToUtf8(name);
}

std::string CUniqueNamer::Assign(const std::string& base, const std::string& extension) {
  for (int n = 1;; ++n) {
    std::string candidate = n == 1 ? base : base + " (" + std::to_string(n) + ")";
    std::string name = candidate + extension;
    if (m_setUsed.insert(FoldCase(Utf8ToWide(name))).second) return name;
  }
}

}  // namespace cli
