// Normalised forms of the artist and title text that music files carry in
// their tags, for finding a song whose tag is not written the way the wiki
// writes it ("Greensleeves (Live)", "Amberlight feat. Corrie Fen",
// "Quill & Ink", "Ämberlight").
//
// The rules, each a pure function of the text:
//   - a featured-artist part ("feat.", "ft.", "featuring", "with", bare or
//     in brackets) is dropped with everything after it;
//   - bracketed suffixes ("(Live)", "[Remastered]") and a dashed suffix
//     (" - 2011 Remaster") are dropped, as long as something is left;
//   - "&", "+" and "and" count as one word;
//   - letter case and accents are folded (Latin letters: "É" is "e",
//     "ß" is "ss");
//   - of a multi-artist tag ("A & B", "A, B", "A / B", "A; B", "A x B") the
//     first artist is the one looked up.
// An artist is tried as typed first; ArtistForms lists what to try after
// it, in order. Titles are compared by their normalised keys.
//
// Work is linear in the text. Threads: pure functions.
#ifndef VERSEWELL_CLI_TAG_FORMS_H
#define VERSEWELL_CLI_TAG_FORMS_H

#include <string>
#include <vector>

namespace cli {

// Latin letters with accents (Latin-1 Supplement and Latin Extended-A)
// turned into their base letters; other characters are kept.
std::wstring FoldAccents(const std::wstring& text);
// The text before a featured-artist part; the text itself when it has none.
std::wstring StripFeatured(const std::wstring& text);
// The text without trailing bracketed groups and a dashed suffix.
std::wstring StripSuffixes(const std::wstring& text);
// "&", "+" and the word "and" written as "and"; blanks collapsed.
std::wstring UnifyAnd(const std::wstring& text);
// The first name of a multi-artist tag; the text itself for one artist.
std::wstring FirstArtist(const std::wstring& text);

// The comparison key of a title: every rule above but the first artist,
// then case folded and trimmed. Empty when nothing is left.
std::wstring TitleKey(const std::wstring& title);

// The artist names to try after `artist` itself was not found, best first,
// without repeats and without the typed name (compared case-insensitively).
// Empty when no rule changes the name.
std::vector<std::wstring> ArtistForms(const std::wstring& artist);

// True when `a` and `b` differ only by one pair of neighbouring characters
// swapped ("Salt Raod" and "Salt Road").
bool IsOneSwapApart(const std::wstring& a, const std::wstring& b);

}  // namespace cli

#endif  // VERSEWELL_CLI_TAG_FORMS_H
