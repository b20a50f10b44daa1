// The link to the preceding page of an artist index page (the link labelled
// "previous 200"), found in time linear in the page.
//
// The link is the first match of PREVIOUS_PAGE_PATTERN. Handed a whole page,
// the regex engine retries the pattern's unbounded "[^>]*" from every
// '<a href="' it meets, so a page of many such openings without a '>'
// costs quadratic time (seconds per megabyte) before the engine gives up.
// LocatePreviousPageLink finds the same first match in one pass; the regex
// matcher then runs on just that stretch and reads the link from group 1.
//
// Ownership: works on the caller's strings and keeps nothing.
// Failure: false when the page holds no such link; the regex matcher logs
//   its own failures (an empty page: "Input string is empty").
// Threads: reentrant.
#ifndef VERSEWELL_SEARCH_PREVIOUS_PAGE_LINK_H
#define VERSEWELL_SEARCH_PREVIOUS_PAGE_LINK_H

#include <cstddef>
#include <string>

// "<a href=\"([^\"]+)\"[^>]*>previous 200</a>": group 1 is the link.
extern const wchar_t PREVIOUS_PAGE_PATTERN[];

// The first (leftmost) match of PREVIOUS_PAGE_PATTERN in `page` as
// [begin, end); false when there is none.
bool LocatePreviousPageLink(const std::wstring& page, size_t& begin, size_t& end);

// Group 1 of the first match of PREVIOUS_PAGE_PATTERN in `page`, as the
// page writes it (references not decoded). False, `link` unchanged, when
// there is no match.
bool FindPreviousPageLink(const std::wstring& page, std::wstring& link);

#endif  // VERSEWELL_SEARCH_PREVIOUS_PAGE_LINK_H
