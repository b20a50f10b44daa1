// Lyrics page extraction and search::GetLyrics.
//
// Why the cleaning steps look different from their rules: each rule is
// phrased as "find the first occurrence from the start of the text, change
// it, start again", which costs quadratic time on a lyrics box full of tags
// or line breaks. The rules have properties that let one pass give the same
// text:
//   - None of the patterns (the break tags, the pairs of line breaks, the
//     marker) can overlap itself, and no replacement can create a new
//     occurrence of the pattern it replaces: every replacement either puts a
//     CR or LF next to the join, or puts the marker there, and the marker
//     cannot form across a join because no proper prefix of it is also a
//     suffix. So "replace the first occurrence and restart" visits exactly
//     the occurrences a left-to-right scan finds.
//   - Everything left of the current occurrence is final when it is
//     reached, so "the character before the tag" is the last character
//     written to the output so far.
//   - The line-break rule only ever combines CR and LF characters that
//     stand next to each other, and a marker; so it can be applied to each
//     run of CR and LF characters on its own, without writing the
//     12-character marker into the text (which would inflate a page of
//     line breaks sixfold before it shrinks again).
// tests/search/LyricsCleaningTest.cpp keeps the rules written out literally
// and compares both on many generated texts.
#include "search/LyricsPage.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "search/Searches.h"
#include "text/HtmlEntities.h"

const wchar_t LyricsNotLicensedNotice[] =
    L"&#85;&#110;&#102;&#111;&#114;&#116;&#117;&#110;&#97;&#116;&#101;&#108;&#121;&#44;&#32;"  // "Unfortunately, "
    L"&#119;&#101;&#32;"                                                                      // "we "
    L"&#97;&#114;&#101;&#32;"                                                                 // "are "
    L"&#110;&#111;&#116;&#32;"                                                                // "not "
    L"&#108;&#105;&#99;&#101;&#110;&#115;&#101;&#100;&#32;"                                   // "licensed "
    L"&#116;&#111;&#32;"                                                                      // "to "
    L"&#100;&#105;&#115;&#112;&#108;&#97;&#121;&#32;"                                         // "display "
    L"&#116;&#104;&#101;&#32;"                                                                // "the "
    L"&#102;&#117;&#108;&#108;&#32;"                                                          // "full "
    L"&#108;&#121;&#114;&#105;&#99;&#115;&#32;"                                               // "lyrics "
    L"&#102;&#111;&#114;&#32;"                                                                // "for "
    L"&#116;&#104;&#105;&#115;&#32;"                                                          // "this "
    L"&#115;&#111;&#110;&#103;&#32;"                                                          // "song "
    L"&#97;&#116;&#32;"                                                                       // "at "
    L"&#116;&#104;&#101;&#32;"                                                                // "the "
    L"&#109;&#111;&#109;&#101;&#110;&#116;";                                                  // "moment"

const wchar_t LYRICS_BOX_START[] = L"<div class='lyricbox'";
const wchar_t LINE_BREAK_MARKER[] = L"<sbrNewline>";

namespace {

const wchar_t LYRICS_BEGIN_AFTER[] = L"</div>";
const wchar_t LYRICS_END_BEFORE[] = L"<!--";
const wchar_t* const BREAK_TAGS[] = {L"<br>", L"<BR>", L"<br />", L"<br/>"};
const wchar_t REPLACEMENT_CHARACTER = 0xFFFD;

inline bool IsLineBreak(wchar_t c) { return c == L'\r' || c == L'\n'; }

inline void AppendCrLf(std::wstring& out) {
  out.push_back(L'\r');
  out.push_back(L'\n');
}

// NormalizeLineBreaks works on one run of CR and LF characters at a time,
// as tokens; TOKEN_BREAK stands where the rule writes its marker.
enum : unsigned char { TOKEN_CR, TOKEN_LF, TOKEN_BREAK };

// Replaces each adjacent (first, second) pair, left to right without
// overlap, by TOKEN_BREAK. No pair can form across a TOKEN_BREAK, so this
// is the rule's "replace the first pair and restart" for that pair.
void FoldPairs(std::vector<unsigned char>& run, unsigned char first, unsigned char second) {
  size_t write = 0;
  for (size_t read = 0; read < run.size();) {
    if (read + 1 < run.size() && run[read] == first && run[read + 1] == second) {
      run[write++] = TOKEN_BREAK;
      read += 2;
    } else {
      run[write++] = run[read++];
    }
  }
  run.resize(write);
}

}  // namespace

namespace {

// Where the lyrics stand in `page`: [begin, end). False when the box, its
// "</div>" or the "<!--" after it is missing.
bool FindLyricsBox(const std::wstring& page, size_t& begin, size_t& end) {
  const size_t boxLength = std::wcslen(LYRICS_BOX_START);
  const size_t a = page.find(LYRICS_BOX_START);
  if (a == std::wstring::npos) return false;
  const size_t b = page.find(LYRICS_BEGIN_AFTER, a + boxLength);
  if (b == std::wstring::npos) return false;
  begin = b + std::wcslen(LYRICS_BEGIN_AFTER);
  end = page.find(LYRICS_END_BEFORE, begin);
  return end != std::wstring::npos;
}

}  // namespace

bool ExtractLyricsBox(std::wstring& text) {
  size_t begin = 0;
  size_t end = 0;
  if (!FindLyricsBox(text, begin, end)) return false;
  text = text.substr(begin, end - begin);
  return true;
}

void ReplaceBreakTag(std::wstring& text, const wchar_t* tag) {
  if (tag == nullptr || *tag == L'\0') return;
  const size_t tagLength = std::wcslen(tag);
  size_t hit = text.find(tag);
  if (hit == std::wstring::npos) return;
  std::wstring out;
  out.reserve(text.size() + text.size() / 2);
  size_t pos = 0;
  for (; hit != std::wstring::npos; hit = text.find(tag, pos)) {
    out.append(text, pos, hit - pos);
    pos = hit + tagLength;
    // `out` is the text before the tag as the rule sees it (earlier tags
    // already replaced); the text after the tag is still the original.
    const bool breakBefore = !out.empty() && IsLineBreak(out.back());
    const bool breakAfter = pos < text.size() && IsLineBreak(text[pos]);
    if (!breakBefore && !breakAfter) AppendCrLf(out);
  }
  out.append(text, pos, std::wstring::npos);
  text.swap(out);
}

void NormalizeBreakTags(std::wstring& text) {
  for (const wchar_t* tag : BREAK_TAGS) ReplaceBreakTag(text, tag);
  NormalizeLineBreaks(text);
}

void NormalizeLineBreaks(std::wstring& text) {
  const size_t markerLength = std::wcslen(LINE_BREAK_MARKER);
  std::wstring out;
  out.reserve(text.size() + text.size() / 2);
  std::vector<unsigned char> run;
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const wchar_t c = text[i];
    if (c == LINE_BREAK_MARKER[0] && text.compare(i, markerLength, LINE_BREAK_MARKER) == 0) {
      AppendCrLf(out);  // step 5 for a marker the text itself carries
      i += markerLength;
      continue;
    }
    if (!IsLineBreak(c)) {
      // Up to the next line break or possible marker, the text stays.
      size_t stop = i + 1;
      while (stop < n && !IsLineBreak(text[stop]) && text[stop] != LINE_BREAK_MARKER[0]) ++stop;
      out.append(text, i, stop - i);
      i = stop;
      continue;
    }
    // A maximal run of CR and LF characters. Every pattern of steps 1 and
    // 2 lies inside one run, and step 3 looks at most one character past
    // its ends, where only a marker written in the text itself can stand.
    const size_t begin = i;
    run.clear();
    for (; i < n && IsLineBreak(text[i]); ++i) run.push_back(text[i] == L'\r' ? TOKEN_CR : TOKEN_LF);
    const bool markerBefore =
        begin >= markerLength && text.compare(begin - markerLength, markerLength, LINE_BREAK_MARKER) == 0;
    const bool markerAfter = text.compare(i, markerLength, LINE_BREAK_MARKER) == 0;

    FoldPairs(run, TOKEN_CR, TOKEN_LF);  // step 1
    FoldPairs(run, TOKEN_CR, TOKEN_CR);  // step 2, in its order of priority
    FoldPairs(run, TOKEN_LF, TOKEN_CR);
    FoldPairs(run, TOKEN_LF, TOKEN_LF);

    // Steps 3 to 5. After step 2 no two CR or LF characters are adjacent,
    // so step 3 drops exactly those that touch a break on either side;
    // every other one, and every break, is written as CR LF.
    const size_t count = run.size();
    for (size_t k = 0; k < count; ++k) {
      if (run[k] != TOKEN_BREAK) {
        const bool breakBefore = k > 0 ? run[k - 1] == TOKEN_BREAK : markerBefore;
        const bool breakAfter = k + 1 < count ? run[k + 1] == TOKEN_BREAK : markerAfter;
        if (breakBefore || breakAfter) continue;
      }
      AppendCrLf(out);
    }
  }
  text.swap(out);
}

void StripTags(std::wstring& text) {
  size_t open = text.find(L'<');
  if (open == std::wstring::npos) return;
  // In place: what is kept moves left over the tags, never right.
  wchar_t* const data = &text[0];
  size_t write = 0;
  size_t pos = 0;
  for (; open != std::wstring::npos; open = text.find(L'<', pos)) {
    const size_t close = text.find(L'>', open);
    if (close == std::wstring::npos) break;  // an unclosed '<' ends the stripping
    std::memmove(data + write, data + pos, (open - pos) * sizeof(wchar_t));
    write += open - pos;
    pos = close + 1;
  }
  std::memmove(data + write, data + pos, (text.size() - pos) * sizeof(wchar_t));
  write += text.size() - pos;
  text.resize(write);
}

bool ExtractLyricsFromPage(const std::wstring& page, CString& lyrics, ITextReportSink& reports) {
  lyrics.Empty();
  size_t begin = 0;
  size_t end = 0;
  if (!FindLyricsBox(page, begin, end)) return false;
  if (page.find(LyricsNotLicensedNotice) != std::wstring::npos) return false;
  std::wstring text(page, begin, end - begin);  // only the box is copied
  NormalizeBreakTags(text);
  StripTags(text);
  lyrics = std::move(text);
  DecodeHtmlEntities(lyrics, reports);
  lyrics.Trim();
  if (page.find(REPLACEMENT_CHARACTER) != std::wstring::npos) lyrics.Empty();
  return !lyrics.IsEmpty();
}

namespace search {

BOOL GetLyrics(ISearchContext& context, const CString& songUrl, CString& lyrics) {
  lyrics.Empty();
  CString page;
  if (!context.Download(songUrl, page)) return 0;
  return ExtractLyricsFromPage(page.Str(), lyrics, context.Reports()) ? 1 : 0;
}

}  // namespace search
