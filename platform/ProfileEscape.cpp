// The shared private-profile escaping (platform/ProfileEscape.h).
#include "platform/ProfileEscape.h"

#include <algorithm>
#include <cstdint>

namespace platform {
namespace {

inline bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }
inline bool IsHigh(uint32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool IsLow(uint32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  return -1;
}

void AppendCodePoint(std::wstring& out, uint32_t c) {
  if (sizeof(wchar_t) == 2 && c > 0xFFFF) {
    c -= 0x10000;
    out += static_cast<wchar_t>(0xD800 + (c >> 10));
    out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
  } else {
    out += static_cast<wchar_t>(c);
  }
}

}  // namespace

bool ProfileNeedsEscape(ProfilePart part, wchar_t wc, size_t index, size_t length) {
  const uint32_t c = static_cast<uint32_t>(wc);
  if (c == 0 || c == '\\' || c == '\r' || c == '\n') return true;
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return true;
  const bool atEdge = IsBlank(wc) && (index == 0 || index + 1 == length);
  switch (part) {
    case ProfilePart::SECTION:
      return c == '[' || c == ']' || c == '=' || c == ';' || atEdge;
    case ProfilePart::KEY:
      return c == '[' || c == '=' || c == ';' || atEdge;
    case ProfilePart::VALUE:
      // Kernel32 trims the blanks around a value and strips one pair of
      // quotes around it.
      return atEdge || (c == '"' && (index == 0 || index + 1 == length));
  }
  return false;
}

std::wstring ProfileEscape(ProfilePart part, const wchar_t* text, size_t length) {
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  std::wstring out;
  out.reserve(length);
  for (size_t k = 0; k < length; ++k) {
    const uint32_t c = static_cast<uint32_t>(text[k]);
    // A valid UTF-16 pair is one character, not two unpaired units.
    if (sizeof(wchar_t) == 2 && IsHigh(c) && k + 1 < length && IsLow(static_cast<uint32_t>(text[k + 1]))) {
      out += text[k];
      out += text[++k];
      continue;
    }
    if (!ProfileNeedsEscape(part, text[k], k, length)) {
      out += text[k];
      continue;
    }
    out += L'\\';
    const bool wide = c > 0xFFFF;
    out += wide ? L'U' : L'u';
    for (int shift = wide ? 28 : 12; shift >= 0; shift -= 4) out += kHex[(c >> shift) & 0xF];
  }
  return out;
}

void ProfileUnescape(const wchar_t* p, const wchar_t* end, std::wstring& out) {
  // Most names and values hold no escape at all: one copy.
  const wchar_t* slash = std::find(p, end, L'\\');
  out.assign(p, slash);
  p = slash;
  while (p < end) {
    if (*p == L'\\' && end - p >= 2 && (p[1] == L'u' || p[1] == L'U')) {
      const int digits = p[1] == L'u' ? 4 : 8;
      if (end - p >= 2 + digits) {
        uint32_t c = 0;
        int k = 0;
        for (; k < digits; ++k) {
          const int h = HexValue(p[2 + k]);
          if (h < 0) break;
          c = (c << 4) | static_cast<uint32_t>(h);
        }
        if (k == digits && c != 0 && (sizeof(wchar_t) == 4 || c <= 0x10FFFF)) {
          AppendCodePoint(out, c);
          p += 2 + digits;
          continue;
        }
      }
    }
    out += *p++;
  }
}

}  // namespace platform
