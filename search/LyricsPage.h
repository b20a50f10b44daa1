// Lyrics page extraction: the steps that turn a downloaded song page into the
// plain lyrics text that CVersewell::GetLyrics hands the host.
//
// The page's lyrics stand between the first "</div>" after the lyrics box
// start "<div class='lyricbox'" and the first "<!--" after that. The cut-out
// text is cleaned in place: the four break tags "<br>", "<BR>", "<br />" and
// "<br/>" become line breaks (a tag next to a line break just disappears),
// every line break is rewritten as CR LF with runs folded as described at
// NormalizeLineBreaks, and what is left of the markup is stripped.
//
// Every step is defined by a "repeat from the start of the text" rule; the
// implementations here give exactly those results in one or a few linear
// passes, because page text is untrusted and a lyrics box of a few hundred
// thousand tags must not stall the host.
//
// Ownership: the functions work on the caller's strings and keep nothing.
// Failure: ExtractLyricsBox and ExtractLyricsFromPage report "no lyrics" as
//   false; nothing throws except std::bad_alloc.
// Threads: all functions are reentrant; distinct strings may be processed on
//   any number of threads at once.
#ifndef VERSEWELL_SEARCH_LYRICS_PAGE_H
#define VERSEWELL_SEARCH_LYRICS_PAGE_H

#include <string>

#include <versewell/cstring.h>

#include "text/ReportSink.h"

// The site's notice that it may not show a song's lyrics, written as the
// page carries it: every character of "Unfortunately, we are not licensed to
// display the full lyrics for this song at the moment" as a decimal numeric
// character reference (511 characters). Pages are searched for this form.
extern const wchar_t LyricsNotLicensedNotice[];

// Start of the lyrics box (21 characters, no closing '>').
extern const wchar_t LYRICS_BOX_START[];
// Marker that stands for one line break while NormalizeLineBreaks works.
extern const wchar_t LINE_BREAK_MARKER[];

// Replaces `text` (a copy of the page) by the stretch between the first
// "</div>" at or after the end of the lyrics box start and the first "<!--"
// after that; the stretch may be empty. False, with `text` unchanged, when
// the box start, the "</div>" or the "<!--" is missing.
bool ExtractLyricsBox(std::wstring& text);

// Turns every occurrence of `tag` into a line break: a tag right after a CR
// or LF, or (otherwise) right before one, is deleted; any other becomes
// CR LF. Occurrences are taken left to right, each decision seeing the
// result of the earlier ones. `tag` must be non-empty and hold no CR or LF
// (true of the four break tags); an empty tag changes nothing.
void ReplaceBreakTag(std::wstring& text, const wchar_t* tag);

// ReplaceBreakTag with "<br>", "<BR>", "<br />" and "<br/>", in this order,
// then NormalizeLineBreaks.
void NormalizeBreakTags(std::wstring& text);

// Rewrites every line break as CR LF. CR LF CR LF stays a blank line; any
// other pair of line breaks (LF LF, CR CR, LF CR) is folded into one, and a
// lone CR or LF next to a folded or CR LF break disappears. Literal
// occurrences of the marker "<sbrNewline>" in the text count as line breaks
// too and come out as CR LF, as they always have.
void NormalizeLineBreaks(std::wstring& text);

// Deletes every "<...>" stretch, each from a '<' through the first '>' after
// it. A '<' with no later '>' ends the stripping and stays, with everything
// after it.
void StripTags(std::wstring& text);

// Steps of GetLyrics after the download: cuts the lyrics out of `page`,
// refuses pages carrying LyricsNotLicensedNotice, cleans, decodes character
// references, trims, and refuses pages that contain U+FFFD. `lyrics` is
// emptied first; true when it ends non-empty. Bad character references go
// to `reports`.
bool ExtractLyricsFromPage(const std::wstring& page, CString& lyrics,
                           ITextReportSink& reports = DefaultTextReports());

#endif  // VERSEWELL_SEARCH_LYRICS_PAGE_H
