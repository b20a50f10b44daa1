// CRegexMatcher: a Perl-syntax wide regular expression over a private copy of
// one input text, searched match by match.
//
// Use: Init (or InitAndFindNext) once, then FindNext until it returns false,
// reading the groups of each match with GetMatch. Init may be called again at
// any time and starts over.
//
// Ownership: the object owns its compiled expression, its copy of the input
// (so the caller may change or drop its own string while iterating) and the
// results of the last match; GetMatch copies group texts out.
// Failure: every failure of the regex library (a pattern that does not
//   compile, a search that exceeds the library's limits, a group that does
//   not exist) becomes one trace line and a false result; no library
//   exception leaves the class. A search that simply finds nothing logs
//   nothing; an allocation failure inside the library counts as a library
//   failure too.
// Threads: one thread at a time per object; objects are independent.
#ifndef VERSEWELL_TEXT_REGEX_MATCHER_H
#define VERSEWELL_TEXT_REGEX_MATCHER_H

#include <boost/regex.hpp>
#include <string>

#include <versewell/cstring.h>

class CRegexMatcher {
 public:
  CRegexMatcher();
  ~CRegexMatcher();
  CRegexMatcher(const CRegexMatcher&) = delete;
  CRegexMatcher& operator=(const CRegexMatcher&) = delete;

  // Stores `input` (up to its first NUL) and compiles `pattern` (likewise).
  // False, with the object not initialized, when the input is empty or the
  // pattern does not compile.
  bool Init(const wchar_t* input, const wchar_t* pattern, bool caseSensitive);
  bool Init(const std::wstring& input, const std::wstring& pattern, bool caseSensitive) {
    return Init(input.c_str(), pattern.c_str(), caseSensitive);
  }
  // The next match after the previous one; false when there is none or the
  // search failed (then the position stays where it was).
  bool FindNext();
  bool InitAndFindNext(const wchar_t* input, const wchar_t* pattern, bool caseSensitive);
  bool InitAndFindNext(const std::wstring& input, const std::wstring& pattern, bool caseSensitive) {
    return InitAndFindNext(input.c_str(), pattern.c_str(), caseSensitive);
  }
  // Group `index` of the last match (0 = the whole match; empty for a group
  // that took no part). False, text unchanged, when index >= GetMatchCount().
  bool GetMatch(unsigned int index, std::wstring& text);
  bool GetMatch(unsigned int index, CString& text);
  // Groups of the last match, group 0 included; 0 when there is none.
  unsigned int GetMatchCount() const;

 private:
  boost::basic_regex<wchar_t> m_regex;
  boost::match_results<std::wstring::const_iterator> m_results;
  std::wstring m_input;
  boost::regex_constants::match_flag_type m_matchFlags;
  std::wstring::const_iterator m_position;
  // The last match was empty: the next search must not find the same empty
  // match at the same place again.
  bool m_bLastMatchEmpty;
};

#endif  // VERSEWELL_TEXT_REGEX_MATCHER_H
