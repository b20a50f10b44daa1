// Straightforward versions of the lyrics cleaning rules, written exactly as
// the rules read: find the first occurrence from the start of the text,
// change it, start again. Quadratic and therefore for tests only; they are
// the oracle the fast implementations in search/LyricsPage.cpp are compared
// with.
#ifndef VERSEWELL_TESTS_SEARCH_LYRICS_ORACLE_H
#define VERSEWELL_TESTS_SEARCH_LYRICS_ORACLE_H

#include <string>

namespace oracle {

inline bool IsLineBreak(wchar_t c) { return c == L'\r' || c == L'\n'; }

inline void ReplaceBreakTag(std::wstring& text, const std::wstring& tag) {
  for (;;) {
    const size_t p = text.find(tag);
    if (p == std::wstring::npos) return;
    const size_t after = p + tag.size();
    if (p > 0 && IsLineBreak(text[p - 1]))
      text.erase(p, tag.size());
    else if (after < text.size() && IsLineBreak(text[after]))
      text.erase(p, tag.size());
    else
      text.replace(p, tag.size(), L"\r\n");
  }
}

inline void NormalizeLineBreaks(std::wstring& text) {
  const std::wstring M = L"<sbrNewline>";
  size_t p;
  while ((p = text.find(L"\r\n")) != std::wstring::npos) text.replace(p, 2, M);
  for (;;) {
    p = text.find(L"\r\r");
    if (p == std::wstring::npos) p = text.find(L"\n\r");
    if (p == std::wstring::npos) p = text.find(L"\n\n");
    if (p == std::wstring::npos) break;
    text.replace(p, 2, M);
  }
  if (text.find(M) != std::wstring::npos) {
    for (;;) {
      p = text.find(L"\r" + M);
      if (p == std::wstring::npos) p = text.find(L"\n" + M);
      if (p == std::wstring::npos) p = text.find(M + L"\r");
      if (p == std::wstring::npos) p = text.find(M + L"\n");
      if (p == std::wstring::npos) break;
      text.replace(p, M.size() + 1, M);
    }
  }
  while ((p = text.find(L'\r')) != std::wstring::npos) text.replace(p, 1, M);
  while ((p = text.find(L'\n')) != std::wstring::npos) text.replace(p, 1, M);
  while ((p = text.find(M)) != std::wstring::npos) text.replace(p, M.size(), L"\r\n");
}

inline void NormalizeBreakTags(std::wstring& text) {
  ReplaceBreakTag(text, L"<br>");
  ReplaceBreakTag(text, L"<BR>");
  ReplaceBreakTag(text, L"<br />");
  ReplaceBreakTag(text, L"<br/>");
  NormalizeLineBreaks(text);
}

inline void StripTags(std::wstring& text) {
  for (;;) {
    const size_t open = text.find(L'<');
    if (open == std::wstring::npos) return;
    const size_t close = text.find(L'>', open);
    if (close == std::wstring::npos) return;
    text.erase(open, close - open + 1);
  }
}

}  // namespace oracle

#endif  // VERSEWELL_TESTS_SEARCH_LYRICS_ORACLE_H
