#include "cli/sys/TextConvert.h"

#include "cli/sys/HostPlatform.h"

#include <cstdio>

namespace cli {
namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

}  // namespace

void AppendUtf8(std::string& out, char32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = REPLACEMENT;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendWide(std::wstring& out, char32_t c) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (c >> 10));
      out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
      return;
    }
  }
  out += static_cast<wchar_t>(c);
}

namespace {

bool IsWhite(wchar_t c) {
  unsigned long u = static_cast<unsigned long>(c);
  return (u >= 0x09 && u <= 0x0D) || u == 0x20 || u == 0x85 || u == 0xA0 || u == 0x1680 ||
         (u >= 0x2000 && u <= 0x200A) || u == 0x2028 || u == 0x2029 || u == 0x202F || u == 0x205F ||
         u == 0x3000 || u == 0xFEFF;
}

}  // namespace

std::string WideToUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char32_t>(text[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      c &= 0xFFFF;
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
        char32_t low = static_cast<char32_t>(text[i + 1]) & 0xFFFF;
        if (low >= 0xDC00 && low <= 0xDFFF) {
          c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
          ++i;
        }
      }
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::wstring Utf8ToWide(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      out += static_cast<wchar_t>(b);
      ++i;
      continue;
    }
    int extra;
    char32_t c, min;
    if (b >= 0xC2 && b <= 0xDF) {
      extra = 1; c = b & 0x1F; min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      extra = 2; c = b & 0x0F; min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      extra = 3; c = b & 0x07; min = 0x10000;
    } else {
      AppendWide(out, REPLACEMENT);
      ++i;
      continue;
    }
    size_t j = i + 1;
    int k = 0;
    for (; k < extra && j < n; ++k, ++j) {
      unsigned char t = static_cast<unsigned char>(text[j]);
      if ((t & 0xC0) != 0x80) break;
      c = (c << 6) | (t & 0x3F);
    }
    if (k < extra || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      // Skip the lead byte and the continuation bytes that were valid; the
      // next byte starts a fresh sequence.
      AppendWide(out, REPLACEMENT);
      i = j;
      continue;
    }
    AppendWide(out, c);
    i = j;
  }
  return out;
}

std::string ToUnixLines(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 1);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  if (out.empty()) return out;
  while (out.size() >= 2 && out[out.size() - 1] == '\n' && out[out.size() - 2] == '\n') out.pop_back();
  if (out.back() != '\n') out += '\n';
  return out;
}

std::wstring TrimWide(const std::wstring& text) {
  size_t b = 0, e = text.size();
  while (b < e && IsWhite(text[b])) ++b;
  while (e > b && IsWhite(text[e - 1])) --e;
  return text.substr(b, e - b);
}

std::wstring FoldCase(const std::wstring& text) {
  std::wstring out(text);
  if (!hostplatform::LowerCase(out)) {
    for (wchar_t& c : out)
      if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
  }
  return out;
}

std::string Echo(const std::wstring& text, size_t maxChars) {
  std::string out;
  size_t shown = 0;
  for (wchar_t c : text) {
    if (shown == maxChars) {
      out += "...";
      break;
    }
    ++shown;
    unsigned long u = static_cast<unsigned long>(c);
    char escape[16] = {0};
    if (c == L'\n') {
      out += "\\n";
    } else if (c == L'\r') {
      out += "\\r";
    } else if (c == L'\t') {
      out += "\\t";
    } else if (u < 0x20 || u == 0x7F) {
      std::snprintf(escape, sizeof escape, "\\x%02lX", u);
      out += escape;
    } else if ((u >= 0x80 && u <= 0x9F) || u == 0x2028 || u == 0x2029) {
      std::snprintf(escape, sizeof escape, "\\u%04lX", u);
      out += escape;
    } else {
      out += WideToUtf8(std::wstring(1, c));
    }
  }
  return out;
}

std::string Echo(const std::string& utf8, size_t maxChars) { return Echo(Utf8ToWide(utf8), maxChars); }

}  // namespace cli
