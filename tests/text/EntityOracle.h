// The straightforward DecodeHtmlEntities: every named row replaced in turn,
// then the first numeric reference found from the start of the string, every
// occurrence of its text replaced, and the search started again. Slow on
// purpose (a pass per row and per distinct reference); it is the oracle the
// one-pass implementation in text/HtmlEntities.cpp is compared with, by the
// tests and by the entity decoding fuzz program.
#ifndef VERSEWELL_TESTS_TEXT_ENTITY_ORACLE_H
#define VERSEWELL_TESTS_TEXT_ENTITY_ORACLE_H

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "text/CodePageConversion.h"
#include "text/HtmlEntities.h"

namespace entity_oracle {

// Replaces every occurrence of `from` in the string as it was, left to right,
// without overlap; the inserted characters are not searched again.
inline void ReplaceAll(std::wstring& s, const std::wstring& from, wchar_t to) {
  std::wstring out;
  size_t pos = 0;
  for (;;) {
    size_t hit = s.find(from, pos);
    if (hit == std::wstring::npos) break;
    out.append(s, pos, hit - pos);
    out.push_back(to);
    pos = hit + from.size();
  }
  out.append(s, pos, std::wstring::npos);
  s.swap(out);
}

// Leftmost "&#([0-9]+);" at or after `from`.
inline bool FindReference(const std::wstring& s, size_t from, size_t& start, size_t& end) {
  for (size_t i = from; i + 1 < s.size(); ++i) {
    if (s[i] != L'&' || s[i + 1] != L'#') continue;
    size_t j = i + 2;
    while (j < s.size() && s[j] >= L'0' && s[j] <= L'9') ++j;
    if (j > i + 2 && j < s.size() && s[j] == L';') {
      start = i;
      end = j + 1;
      return true;
    }
  }
  return false;
}

inline std::wstring Widened(const std::string& narrow) { return std::wstring(CAnsiToWide(narrow.c_str()).Get()); }
inline std::string Narrowed(const std::wstring& wide) { return std::string(CWideToAnsi(wide.c_str()).Get()); }

// Decodes `s` in place and returns the messages the procedure writes (none
// when `withMessages` is false: composing them needs the thread's ANSI code
// page to take every character).
inline std::vector<std::wstring> OracleDecode(std::wstring& s, bool withMessages = true) {
  std::vector<std::wstring> messages;
  for (const NamedEntity* row = NamedEntityTable; row->pszName != nullptr; ++row) {
    std::wstring name(row->pszName, row->pszName + std::strlen(row->pszName));
    ReplaceAll(s, name, static_cast<wchar_t>(row->nCode));
  }
  if (s.empty()) {
    messages.push_back(L"Input string is empty");
    return messages;
  }
  const size_t textLength = s.size();  // what the numeric pass is given
  size_t reported = 0;  // bad references found so far: the first ones from the start
  for (;;) {
    size_t pos = 0, skipped = 0, start = 0, end = 0;
    bool replaced = false;
    while (FindReference(s, pos, start, end)) {
      pos = end;
      if (skipped < reported) {
        ++skipped;
        continue;
      }
      std::wstring reference = s.substr(start, end - start);
      long long value = 0;
      for (size_t k = start + 2; k + 1 < end; ++k) {
        value = value * 10 + (s[k] - L'0');
        if (value > INT_MAX) value = static_cast<long long>(INT_MAX) + 1;
      }
      if (value >= 1 && value <= 65535) {
        ReplaceAll(s, reference, static_cast<wchar_t>(value));
        replaced = true;
        break;
      }
      int shown = value > INT_MAX ? INT_MAX : static_cast<int>(value);
      if (withMessages) {
        // A long string is quoted as the stretch around the reference.
        std::string quoted = "\"" + Narrowed(s) + "\"";
        if (s.size() > BAD_REFERENCE_QUOTE_LIMIT) {
          const size_t from = start > BAD_REFERENCE_CONTEXT ? start - BAD_REFERENCE_CONTEXT : 0;
          const size_t to = std::min(s.size(), end + BAD_REFERENCE_CONTEXT);
          quoted = "\"" + std::string(from > 0 ? "..." : "") + Narrowed(s.substr(from, to - from)) +
                   (to < s.size() ? "..." : "") + "\" (excerpt of a text of " + std::to_string(textLength) +
                   " characters)";
        }
        messages.push_back(Widened("Bad &#nnn; code: \"" + Narrowed(reference) + "\" => " + std::to_string(shown) +
                                   " ; string is:\n\t" + quoted));
      }
      ++reported;
      ++skipped;
    }
    if (!replaced) break;
  }
  return messages;
}

}  // namespace entity_oracle

#endif  // VERSEWELL_TESTS_TEXT_ENTITY_ORACLE_H
