#include "diag/Utf16.h"

#include <cstdint>

namespace {

void PutUnit(uint32_t unit, std::string& out) {
  out += static_cast<char>(unit & 0xFF);
  out += static_cast<char>((unit >> 8) & 0xFF);
}

}  // namespace

void AppendUtf16Le(const wchar_t* text, size_t length, std::string& out) {
  out.reserve(out.size() + length * 2);
  for (size_t i = 0; i < length; ++i) {
    uint32_t c = static_cast<uint32_t>(text[i]);
    if (c <= 0xFFFF) {
      PutUnit(c, out);
    } else if (c <= 0x10FFFF) {
      c -= 0x10000;
      PutUnit(0xD800 + (c >> 10), out);
      PutUnit(0xDC00 + (c & 0x3FF), out);
    } else {
      PutUnit(0xFFFD, out);
    }
  }
}
