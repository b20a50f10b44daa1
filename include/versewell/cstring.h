// CString: the wide string class that crosses the plug-in boundary.
//
// A small, header-only stand-in for the framework string of the same name.
// It holds wchar_t text (UTF-16 code units on Windows, UTF-32 on Linux) in a
// std::wstring and offers the subset of the framework's interface that the
// plug-in and its hosts use: construction, comparison, concatenation, Find,
// Mid/Left/Right, Replace, Trim, Format and a few more.
//
// Ownership: a CString owns its text; copies are independent.
// Failure: allocation failures raise std::bad_alloc; nothing else throws.
//   Format() with a format that cannot be rendered leaves the string empty.
// Threads: like std::wstring, one object must not be used by two threads at
//   once; distinct objects are independent.
//
// Format strings follow the Windows wide-printf convention: "%s" and "%c"
// take wide arguments (const wchar_t*, wchar_t) and "%S" a narrow string.
// They are translated to the C library's own spelling before formatting, so
// the same format text works on every platform.
#ifndef VERSEWELL_CSTRING_H
#define VERSEWELL_CSTRING_H

#include <cstdarg>
#include <cstddef>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

namespace versewell_detail {

// Rewrites a Windows-convention wide printf format for the C library:
// %s -> %ls, %c -> %lc, %S -> %s, %C -> %c. Explicit length modifiers are
// kept as they are.
inline std::wstring TranslateWideFormat(const wchar_t* format) {
  std::wstring out;
  for (const wchar_t* p = format; *p != L'\0'; ++p) {
    out += *p;
    if (*p != L'%') continue;
    ++p;
    if (*p == L'%') { out += *p; continue; }
    // flags, width, precision
    while (*p != L'\0' && std::wcschr(L"-+ #0123456789.*'", *p) != nullptr) out += *p++;
    bool hasLength = false;
    while (*p != L'\0' && std::wcschr(L"hlLqjztI", *p) != nullptr) {
      hasLength = true;
      out += *p++;
    }
    if (*p == L'\0') break;
    if (!hasLength && (*p == L's' || *p == L'c')) {
      out += L'l';
      out += *p;
    } else if (!hasLength && (*p == L'S' || *p == L'C')) {
      out += static_cast<wchar_t>(*p == L'S' ? L's' : L'c');
    } else {
      out += *p;
    }
  }
  return out;
}

// The white-space test behind Trim: ASCII white space and the Unicode
// White_Space characters, independent of the process locale.
inline bool IsWideSpace(wchar_t c) {
  unsigned long u = static_cast<unsigned long>(c);
  return (u >= 0x09 && u <= 0x0D) || u == 0x20 || u == 0x85 || u == 0xA0 || u == 0x1680 ||
         (u >= 0x2000 && u <= 0x200A) || u == 0x2028 || u == 0x2029 || u == 0x202F ||
         u == 0x205F || u == 0x3000;
}

}  // namespace versewell_detail

class CString {
 public:
  CString() = default;
  CString(const wchar_t* text) : m_str(text != nullptr ? text : L"") {}  // NOLINT: implicit by design
  CString(const wchar_t* text, int length)
      : m_str(text != nullptr && length > 0 ? std::wstring(text, static_cast<size_t>(length)) : std::wstring()) {}
  CString(const std::wstring& text) : m_str(text) {}  // NOLINT: implicit by design
  // Takes the text over without copying it (inline: the object's layout is
  // unchanged, so hosts built against an earlier copy of this header still
  // match).
  CString(std::wstring&& text) noexcept : m_str(std::move(text)) {}  // NOLINT: implicit by design
  explicit CString(wchar_t c, int repeat = 1) : m_str(repeat > 0 ? static_cast<size_t>(repeat) : 0u, c) {}
  CString(const CString&) = default;
  CString(CString&&) noexcept = default;
  CString& operator=(const CString&) = default;
  CString& operator=(CString&&) noexcept = default;
  CString& operator=(const wchar_t* text) {
    m_str = text != nullptr ? text : L"";
    return *this;
  }
  CString& operator=(const std::wstring& text) {
    m_str = text;
    return *this;
  }
  CString& operator=(std::wstring&& text) noexcept {
    m_str = std::move(text);
    return *this;
  }
  CString& operator=(wchar_t c) {
    m_str.assign(1, c);
    return *this;
  }

  // Access
  const wchar_t* GetString() const { return m_str.c_str(); }
  operator const wchar_t*() const { return m_str.c_str(); }  // NOLINT: framework convention
  int GetLength() const { return static_cast<int>(m_str.size()); }
  bool IsEmpty() const { return m_str.empty(); }
  void Empty() { m_str.clear(); }
  wchar_t GetAt(int index) const { return m_str.at(static_cast<size_t>(index)); }
  void SetAt(int index, wchar_t c) { m_str.at(static_cast<size_t>(index)) = c; }
  const std::wstring& Str() const { return m_str; }
  std::wstring& Str() { return m_str; }

  // Comparison
  int Compare(const wchar_t* other) const { return m_str.compare(other != nullptr ? other : L""); }
  int CompareNoCase(const wchar_t* other) const {
    std::wstring a = m_str, b = other != nullptr ? other : L"";
    for (auto& c : a) c = AsciiUpper(c);
    for (auto& c : b) c = AsciiUpper(c);
    return a.compare(b);
  }
  friend bool operator==(const CString& a, const CString& b) { return a.m_str == b.m_str; }
  friend bool operator==(const CString& a, const wchar_t* b) { return a.m_str == (b != nullptr ? b : L""); }
  friend bool operator==(const wchar_t* a, const CString& b) { return b == a; }
  friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
  friend bool operator!=(const CString& a, const wchar_t* b) { return !(a == b); }
  friend bool operator!=(const wchar_t* a, const CString& b) { return !(b == a); }
  friend bool operator<(const CString& a, const CString& b) { return a.m_str < b.m_str; }

  // Concatenation
  CString& operator+=(const CString& other) {
    m_str += other.m_str;
    return *this;
  }
  CString& operator+=(const wchar_t* other) {
    if (other != nullptr) m_str += other;
    return *this;
  }
  CString& operator+=(wchar_t c) {
    m_str += c;
    return *this;
  }
  friend CString operator+(const CString& a, const CString& b) { return CString(a.m_str + b.m_str); }
  friend CString operator+(const CString& a, const wchar_t* b) {
    CString r(a);
    r += b;
    return r;
  }
  friend CString operator+(const wchar_t* a, const CString& b) {
    CString r(a);
    r += b;
    return r;
  }
  friend CString operator+(const CString& a, wchar_t b) {
    CString r(a);
    r += b;
    return r;
  }

  // Searching: positions are 0-based; -1 means not found.
  int Find(wchar_t c, int start = 0) const { return ToIndex(m_str.find(c, ClampStart(start))); }
  int Find(const wchar_t* sub, int start = 0) const {
    if (sub == nullptr) return -1;
    return ToIndex(m_str.find(sub, ClampStart(start)));
  }
  int ReverseFind(wchar_t c) const { return ToIndex(m_str.rfind(c)); }

  // Extraction (out-of-range arguments are clamped, as the framework does)
  CString Mid(int first) const { return Mid(first, GetLength()); }
  CString Mid(int first, int count) const {
    if (first < 0) first = 0;
    if (count < 0) count = 0;
    if (first >= GetLength()) return CString();
    return CString(m_str.substr(static_cast<size_t>(first), static_cast<size_t>(count)));
  }
  CString Left(int count) const { return Mid(0, count); }
  CString Right(int count) const {
    if (count < 0) count = 0;
    if (count >= GetLength()) return *this;
    return CString(m_str.substr(m_str.size() - static_cast<size_t>(count)));
  }

  // Modification
  // Replaces every non-overlapping occurrence, left to right; returns the count.
  int Replace(const wchar_t* oldText, const wchar_t* newText) {
    if (oldText == nullptr || *oldText == L'\0') return 0;
    const std::wstring from(oldText), to(newText != nullptr ? newText : L"");
    std::wstring out;
    size_t pos = 0;
    int count = 0;
    for (size_t hit; (hit = m_str.find(from, pos)) != std::wstring::npos; pos = hit + from.size()) {
      out.append(m_str, pos, hit - pos);
      out += to;
      ++count;
    }
    if (count == 0) return 0;
    out.append(m_str, pos, std::wstring::npos);
    m_str.swap(out);
    return count;
  }
  int Replace(wchar_t oldChar, wchar_t newChar) {
    int count = 0;
    for (auto& c : m_str) {
      if (c == oldChar) {
        c = newChar;
        ++count;
      }
    }
    return count;
  }
  int Remove(wchar_t c) {
    size_t before = m_str.size();
    std::wstring out;
    for (wchar_t x : m_str)
      if (x != c) out += x;
    m_str.swap(out);
    return static_cast<int>(before - m_str.size());
  }
  int Insert(int index, const wchar_t* text) {
    if (index < 0) index = 0;
    if (index > GetLength()) index = GetLength();
    if (text != nullptr) m_str.insert(static_cast<size_t>(index), text);
    return GetLength();
  }
  int Delete(int index, int count = 1) {
    if (index < 0) index = 0;
    if (count > 0 && index < GetLength()) m_str.erase(static_cast<size_t>(index), static_cast<size_t>(count));
    return GetLength();
  }
  CString& MakeUpper() {
    for (auto& c : m_str) c = AsciiUpper(c);
    return *this;
  }
  CString& MakeLower() {
    for (auto& c : m_str) c = AsciiLower(c);
    return *this;
  }
  CString& TrimLeft() {
    size_t i = 0;
    while (i < m_str.size() && versewell_detail::IsWideSpace(m_str[i])) ++i;
    m_str.erase(0, i);
    return *this;
  }
  CString& TrimRight() {
    size_t n = m_str.size();
    while (n > 0 && versewell_detail::IsWideSpace(m_str[n - 1])) --n;
    m_str.erase(n);
    return *this;
  }
  CString& Trim() { return TrimRight().TrimLeft(); }

  // printf-style formatting with the Windows wide conventions (see above).
  void Format(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
  }
  void AppendFormat(const wchar_t* format, ...) {
    CString tail;
    va_list args;
    va_start(args, format);
    tail.FormatV(format, args);
    va_end(args);
    m_str += tail.m_str;
  }
  void FormatV(const wchar_t* format, va_list args) {
    m_str.clear();
    if (format == nullptr) return;
    const std::wstring fmt = versewell_detail::TranslateWideFormat(format);
    std::vector<wchar_t> buffer(256);
    // vswprintf reports "too small" and encoding errors alike as -1; the
    // buffer therefore grows up to a fixed ceiling and then gives up.
    for (size_t cap = 256; cap <= (size_t{1} << 24); cap *= 4) {
      buffer.assign(cap, L'\0');
      va_list copy;
      va_copy(copy, args);
      int n = std::vswprintf(buffer.data(), cap, fmt.c_str(), copy);
      va_end(copy);
      if (n >= 0 && static_cast<size_t>(n) < cap) {
        m_str.assign(buffer.data(), static_cast<size_t>(n));
        return;
      }
    }
  }

 private:
  static wchar_t AsciiUpper(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c; }
  static wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }
  static size_t ClampStart(int start) { return start < 0 ? 0u : static_cast<size_t>(start); }
  static int ToIndex(size_t pos) { return pos == std::wstring::npos ? -1 : static_cast<int>(pos); }

  std::wstring m_str;
};

#endif  // VERSEWELL_CSTRING_H
