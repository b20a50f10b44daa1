// Helpers of the private-profile tests: an independent reader of the
// on-disk form, written from the format description so that a fault shared
// by the module's writer and reader cannot hide, and short forms of the
// calls. Both backends store UTF-16LE with a byte-order mark, CR LF lines
// and names escaped by the shared scheme, so one reader checks both.
#ifndef VERSEWELL_TESTS_PLATFORM_PRIVATE_PROFILE_TEST_SUPPORT_H
#define VERSEWELL_TESTS_PLATFORM_PRIVATE_PROFILE_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/PrivateProfile.h"
#include "support/TempDir.h"

namespace profile_test {

// ---------------------------------------------------------------------------
// An independent reader of the on-disk form.
// ---------------------------------------------------------------------------
struct ParsedFile {
  bool ok = true;
  std::string error;
  bool cutOffTail = false;
  std::vector<std::wstring> order;  // section names, first appearance
  std::map<std::wstring, std::map<std::wstring, std::wstring>> values;
  int headers = 0;
  int comments = 0;
};

inline std::wstring TestUnescape(const std::wstring& s) {
  std::wstring out;
  for (size_t k = 0; k < s.size(); ++k) {
    if (s[k] == L'\\' && k + 1 < s.size() && (s[k + 1] == L'u' || s[k + 1] == L'U')) {
      const size_t digits = s[k + 1] == L'u' ? 4 : 8;
      if (k + 2 + digits <= s.size()) {
        const std::wstring hex = s.substr(k + 2, digits);
        if (hex.find_first_not_of(L"0123456789ABCDEFabcdef") == std::wstring::npos) {
          const unsigned long c = std::stoul(hex, nullptr, 16);
          if (c != 0) {
            out += static_cast<wchar_t>(c);
            k += 1 + digits;
            continue;
          }
        }
      }
    }
    out += s[k];
  }
  return out;
}

inline ParsedFile ParseStrict(const std::string& bytes, bool allowCutOffTail) {
  ParsedFile f;
  auto fail = [&](const std::string& why) {
    f.ok = false;
    if (f.error.empty()) f.error = why;
  };
  if (bytes.empty()) return f;
  if (bytes.size() < 2 || static_cast<unsigned char>(bytes[0]) != 0xFF || static_cast<unsigned char>(bytes[1]) != 0xFE) {
    fail("no UTF-16LE byte-order mark");
    return f;
  }
  if (bytes.size() % 2 != 0 && !allowCutOffTail) fail("odd byte count");
  std::wstring text;
  for (size_t k = 2; k + 1 < bytes.size(); k += 2) {
    unsigned long u = static_cast<unsigned char>(bytes[k]) | (static_cast<unsigned char>(bytes[k + 1]) << 8);
    // A pair is one character where wchar_t holds every code point; a
    // 16-bit wchar_t keeps the two units as they are.
    if (sizeof(wchar_t) == 4 && u >= 0xD800 && u <= 0xDBFF && k + 3 < bytes.size()) {
      const unsigned long low = static_cast<unsigned char>(bytes[k + 2]) | (static_cast<unsigned char>(bytes[k + 3]) << 8);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
        k += 2;
      }
    }
    text += static_cast<wchar_t>(u);
  }
  std::wstring section;
  bool inSection = false;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t eol = text.find(L"\r\n", pos);
    if (eol == std::wstring::npos) {
      f.cutOffTail = true;
      if (!allowCutOffTail) fail("last line has no CR LF");
      break;
    }
    const std::wstring line = text.substr(pos, eol - pos);
    pos = eol + 2;
    if (line.find_first_of(L"\r\n") != std::wstring::npos) fail("bare CR or LF inside a line");
    if (line.empty()) continue;
    if (line[0] == L';') {
      ++f.comments;
      continue;
    }
    if (line[0] == L'[') {
      if (line.back() != L']' || line.find(L']') != line.size() - 1) {
        fail("malformed section header");
        continue;
      }
      const std::wstring name = TestUnescape(line.substr(1, line.size() - 2));
      ++f.headers;
      if (f.values.find(name) == f.values.end()) f.order.push_back(name);
      f.values[name];
      section = name;
      inSection = true;
      continue;
    }
    const size_t eq = line.find(L'=');
    if (eq == std::wstring::npos || !inSection) {
      fail("a line that is neither a header nor a key in a section");
      continue;
    }
    f.values[section][TestUnescape(line.substr(0, eq))] = TestUnescape(line.substr(eq + 1));
  }
  return f;
}

inline std::wstring ReadValue(const std::wstring& file, const std::wstring& section, const wchar_t* key = L"ArtistUrl") {
  std::vector<wchar_t> buffer(4096);
  const DWORD n = platform::GetPrivateProfileString(section.c_str(), key, L"<none>", buffer.data(),
                                                    static_cast<DWORD>(buffer.size()), file.c_str());
  return std::wstring(buffer.data(), n);
}

inline std::vector<std::wstring> SectionNames(const std::wstring& file) {
  std::vector<wchar_t> buffer(1 << 20);
  const DWORD n = platform::GetPrivateProfileSectionNames(buffer.data(), static_cast<DWORD>(buffer.size()), file.c_str());
  std::vector<std::wstring> names;
  for (size_t pos = 0; pos < n && buffer[pos] != 0;) {
    names.emplace_back(buffer.data() + pos);
    pos += names.back().size() + 1;
  }
  return names;
}

inline bool Write(const std::wstring& file, const std::wstring& section, const std::wstring& value,
           const wchar_t* key = L"ArtistUrl") {
  return platform::WritePrivateProfileString(section.c_str(), key, value.c_str(), file.c_str());
}

inline std::string Utf16(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>((c >> 8) & 0xFF);
  }
  return out;
}

class PrivateProfileTest : public ::testing::Test {
 protected:
  std::wstring FilePath(const char* name = "A.ini") const { return FromUtf8(m_dir.File(name)); }
  std::string Bytes(const char* name = "A.ini") const { return ReadFileBytes(m_dir.File(name)); }
  CTempDir m_dir;
};

}  // namespace profile_test

#endif  // VERSEWELL_TESTS_PLATFORM_PRIVATE_PROFILE_TEST_SUPPORT_H
