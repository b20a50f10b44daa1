#include "text/RegexMatcher.h"

#include <stdexcept>
#include <string>

#include "text/NarrowMessage.h"

namespace {

namespace rc = boost::regex_constants;

// The input as quoted in messages: its first 50 units, always followed by
// "...".
std::string InputExcerpt(const std::wstring& input) {
  std::wstring head = input.substr(0, 50);
  return NarrowForMessage(head.c_str()) + "...";
}

}  // namespace

CRegexMatcher::CRegexMatcher()
    : m_matchFlags(rc::match_default), m_position(m_input.cbegin()), m_bLastMatchEmpty(false) {}

CRegexMatcher::~CRegexMatcher() = default;

bool CRegexMatcher::Init(const wchar_t* input, const wchar_t* pattern, bool caseSensitive) {
  // Not initialized from here on, whatever follows. The old results point
  // into the old input, so they go with it.
  m_input.clear();
  m_results = boost::match_results<std::wstring::const_iterator>();
  m_position = m_input.cbegin();
  m_bLastMatchEmpty = false;

  if (input == nullptr || *input == L'\0') {
    LogNarrowMessage(TEXT_REPORT_WARNING, "Input string is empty");
    return false;
  }
  if (pattern == nullptr) pattern = L"";

  rc::syntax_option_type syntax = rc::perl;
  if (!caseSensitive) syntax |= rc::icase;
  try {
    boost::basic_regex<wchar_t> compiled(pattern, syntax);
    m_regex.swap(compiled);
  } catch (const boost::regex_error& e) {
    LogNarrowMessage(TEXT_REPORT_ERROR, "Invalid Regex: " + NarrowForMessage(pattern) +
                                      "\n\t=> caught bad_expression exception: what=" + e.what());
    return false;
  } catch (const std::exception& e) {
    LogNarrowMessage(TEXT_REPORT_ERROR, "Invalid Regex: " + NarrowForMessage(pattern) +
                                      "\n\t=> caught generic exception: what=" + e.what());
    return false;
  }
  if (m_regex.empty() || m_regex.status() != 0) {
    LogNarrowMessage(TEXT_REPORT_ERROR, "Regex is EMPTY: " + NarrowForMessage(pattern));
    return false;
  }

  m_input = input;
  m_position = m_input.cbegin();
  m_matchFlags = rc::match_default;
  return true;
}

bool CRegexMatcher::FindNext() {
  if (m_input.empty()) {
    LogNarrowMessage(TEXT_REPORT_ERROR, "NOT initialized (string to match is empty)");
    return false;
  }
  rc::match_flag_type flags = m_matchFlags;
  if (m_bLastMatchEmpty) flags |= rc::match_not_initial_null;
  bool found;
  try {
    found = boost::regex_search(m_position, m_input.cend(), m_results, m_regex, flags);
  } catch (const std::runtime_error& e) {
    LogNarrowMessage(TEXT_REPORT_ERROR, "String too complex for regexp matching: " + InputExcerpt(m_input) +
                                      "\n\t=> caught runtime_error: what=" + e.what());
    return false;
  } catch (const std::exception& e) {
    LogNarrowMessage(TEXT_REPORT_ERROR, "Regex matching for string: " + InputExcerpt(m_input) +
                                      "\n\t=> caught generic exception: what=" + e.what());
    return false;
  }
  if (!found) return false;
  m_bLastMatchEmpty = m_results[0].first == m_results[0].second;
  m_position = m_results[0].second;
  m_matchFlags |= rc::match_prev_avail | rc::match_not_bob;
  return true;
}

bool CRegexMatcher::InitAndFindNext(const wchar_t* input, const wchar_t* pattern, bool caseSensitive) {
  if (!Init(input, pattern, caseSensitive)) return false;
  return FindNext();
}

unsigned int CRegexMatcher::GetMatchCount() const { return static_cast<unsigned int>(m_results.size()); }

bool CRegexMatcher::GetMatch(unsigned int index, std::wstring& text) {
  unsigned int n = GetMatchCount();
  if (index < n) {
    text = m_results[static_cast<int>(index)].str();
    return true;
  }
  LogNarrowMessage(TEXT_REPORT_ERROR, "Match index out of bounds: " + std::to_string(index) + " >= " + std::to_string(n));
  return false;
}

bool CRegexMatcher::GetMatch(unsigned int index, CString& text) {
  std::wstring group;
  if (!GetMatch(index, group)) return false;
  text = group;
  return true;
}
