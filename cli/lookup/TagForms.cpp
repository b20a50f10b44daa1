#include "cli/lookup/TagForms.h"

#include <algorithm>

#include "cli/sys/TextConvert.h"

namespace cli {
namespace {

// U+00C0..U+00FF and U+0100..U+017F by their base letters; '?' marks the
// few that become two letters (handled in FoldAccents) and '*' the
// characters that are no letters (kept).
const char LATIN1_BASE[] = "AAAAAA?CEEEEIIIIDNOOOOO*OUUUUY??aaaaaa?ceeeeiiiidnooooo*ouuuuy?y";
const char EXTENDED_A_BASE[] =
    "AaAaAaCcCcCcCcDdDdEeEeEeEeEeGgGgGgGgHhHhIiIiIiIiIi??JjKkkLlLlLlLlLlNnNnNnnNnOoOoOo??RrRrRrSsSsSsSsTtTtTtUuUuUu"
    "UuUuUuWwYyYZzZzZzs";

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == 0xA0; }

wchar_t AsciiLower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; }

std::wstring AsciiLower(const std::wstring& text) {
  std::wstring out(text);
  for (wchar_t& c : out) c = AsciiLower(c);
  return out;
}

// Blanks at both ends removed and runs of blanks made one.
std::wstring Tidy(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text) {
    if (IsBlank(c)) {
      if (!out.empty() && out.back() != L' ') out += L' ';
    } else {
      out += c;
    }
  }
  if (!out.empty() && out.back() == L' ') out.pop_back();
  return out;
}

std::vector<std::wstring> Words(const std::wstring& text) {
  std::vector<std::wstring> words;
  std::wstring word;
  for (wchar_t c : text) {
    if (IsBlank(c)) {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

std::wstring Join(const std::vector<std::wstring>& words, size_t count) {
  std::wstring out;
  for (size_t i = 0; i < count && i < words.size(); ++i) out += (i == 0 ? L"" : L" ") + words[i];
  return out;
}

bool IsFeaturing(const std::wstring& word, bool bareWith) {
  const std::wstring w = AsciiLower(word);
  return w == L"feat." || w == L"feat" || w == L"ft." || w == L"ft" || w == L"featuring" || (bareWith && w == L"with");
}

// The text with "and", "&" and "+" words replaced by `as`.
std::wstring AndAs(const std::wstring& text, const wchar_t* as) {
  std::vector<std::wstring> words = Words(text);
  for (std::wstring& word : words)
    if (word == L"&" || word == L"+" || AsciiLower(word) == L"and") word = as;
  return Join(words, words.size());
}

std::wstring StripFeaturedWith(const std::wstring& text, bool bareWith) {
  // A bracketed part that starts with a featuring word: "(feat. X)",
  // "[with X]" ("with" is taken in brackets only, for titles).
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != L'(' && text[i] != L'[') continue;
    size_t end = i + 1;
    while (end < text.size() && !IsBlank(text[end]) && text[end] != L')' && text[end] != L']') ++end;
    std::wstring word = text.substr(i + 1, end - i - 1);
    if ((IsFeaturing(word, true)) && i > 0) {
      std::wstring before = Tidy(text.substr(0, i));
      if (!before.empty()) return before;
    }
  }
  std::vector<std::wstring> words = Words(text);
  for (size_t i = 1; i < words.size(); ++i)
    if (IsFeaturing(words[i], bareWith) && i + 1 < words.size()) return Join(words, i);
  return Tidy(text);
}

}  // namespace

std::wstring FoldAccents(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    char base = '*';
    if (c >= 0xC0 && c <= 0xFF) base = LATIN1_BASE[c - 0xC0];
    else if (c >= 0x100 && c <= 0x17F) base = EXTENDED_A_BASE[c - 0x100];
    if (base == '*') {
      out += c;
    } else if (base != '?') {
      out += static_cast<wchar_t>(base);
    } else {
      switch (c) {
        case 0xC6: out += L"AE"; break;
        case 0xE6: out += L"ae"; break;
        case 0xDE: out += L"TH"; break;
        case 0xFE: out += L"th"; break;
        case 0xDF: out += L"ss"; break;
        case 0x132: out += L"IJ"; break;
        case 0x133: out += L"ij"; break;
        case 0x152: out += L"OE"; break;
        case 0x153: out += L"oe"; break;
        default: out += c; break;
      }
    }
  }
  return out;
}

std::wstring StripFeatured(const std::wstring& text) { return StripFeaturedWith(text, true); }

std::wstring StripSuffixes(const std::wstring& text) {
  std::wstring out = Tidy(text);
  // Trailing bracketed groups, innermost pairs matched from the end.
  for (;;) {
    if (out.empty() || (out.back() != L')' && out.back() != L']')) break;
    const wchar_t close = out.back(), open = close == L')' ? L'(' : L'[';
    size_t depth = 0, start = std::wstring::npos;
    for (size_t i = out.size(); i-- > 0;) {
      if (out[i] == close) ++depth;
      if (out[i] == open && --depth == 0) {
        start = i;
        break;
      }
    }
    if (start == std::wstring::npos) break;
    std::wstring before = Tidy(out.substr(0, start));
    if (before.empty()) break;
    out = before;
  }
  // A dashed suffix: " - 2011 Remaster" (hyphen, en dash or em dash).
  for (size_t i = 1; i + 2 < out.size(); ++i) {
    if (out[i - 1] == L' ' && (out[i] == L'-' || out[i] == 0x2013 || out[i] == 0x2014) && out[i + 1] == L' ') {
      std::wstring before = Tidy(out.substr(0, i));
      if (!before.empty()) return before;
    }
  }
  return out;
}

std::wstring UnifyAnd(const std::wstring& text) { return AndAs(text, L"and"); }

std::wstring FirstArtist(const std::wstring& text) {
  const std::wstring lower = AsciiLower(text);
  size_t cut = std::wstring::npos;
  for (const wchar_t* separator : {L" & ", L" and ", L" + ", L", ", L" / ", L"; ", L" x ", L" vs. ", L" vs ", L"/", L";"}) {
    size_t at = lower.find(separator);
    if (at != std::wstring::npos && at > 0) cut = std::min(cut, at);
  }
  if (cut == std::wstring::npos) return Tidy(text);
  std::wstring first = Tidy(text.substr(0, cut));
  return first.empty() ? Tidy(text) : first;
}

std::wstring TitleKey(const std::wstring& title) {
  std::wstring text = StripSuffixes(StripFeaturedWith(title, false));
  text = FoldCase(FoldAccents(text));
  // "&" and "+" written together with a word ("Rock&Roll") count too.
  std::wstring spaced;
  for (wchar_t c : text) {
    if (c == L'&' || c == L'+') spaced += L" & ";
    else if (c == L'\'' || c == 0x2019) continue;  // "Don't" and "Dont" alike
    else if (c < 0x80 && !((c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9'))) spaced += L' ';
    else spaced += c;
  }
  return UnifyAnd(spaced);
}

std::vector<std::wstring> ArtistForms(const std::wstring& artist) {
  const std::wstring typed = Tidy(artist);
  std::vector<std::wstring> forms;
  std::vector<std::wstring> seen = {FoldCase(typed)};
  auto add = [&](const std::wstring& form) {
    std::wstring tidy = Tidy(form);
    if (tidy.empty()) return;
    std::wstring key = FoldCase(tidy);
    if (std::find(seen.begin(), seen.end(), key) != seen.end()) return;
    seen.push_back(key);
    forms.push_back(tidy);
  };
  const std::wstring solo = StripFeatured(typed);
  for (const std::wstring& base : {solo, typed}) {
    add(base);
    add(AndAs(base, L"and"));
    add(AndAs(base, L"&"));
  }
  add(FirstArtist(solo));
  // Accent-folded forms last: the wiki's index is read by the leading
  // letter, and a name that starts with an accented letter has no index
  // page of its own.
  const size_t plain = forms.size();
  add(FoldAccents(typed));
  for (size_t i = 0; i < plain; ++i) add(FoldAccents(forms[i]));
  return forms;
}

bool IsOneSwapApart(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size() || a.size() < 2) return false;
  size_t i = 0;
  while (i < a.size() && a[i] == b[i]) ++i;
  if (i + 1 >= a.size()) return false;
  if (a[i] != b[i + 1] || a[i + 1] != b[i] || a[i] == a[i + 1]) return false;
  return a.compare(i + 2, std::wstring::npos, b, i + 2, std::wstring::npos) == 0;
}

}  // namespace cli
