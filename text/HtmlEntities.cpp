// DecodeHtmlEntities.
//
// The result is defined by a simple procedure: replace every named reference
// row by row, then repeatedly find the first numeric reference, replace every
// occurrence of its text, and start again from the beginning (bad references
// are reported once and skipped). Done literally that costs a pass over the
// string for every row and for every distinct reference. This file produces
// the same string, and the same report lines, in one pass each:
//
// Named pass: a reference text starts with "&", ends with the first ";" and
// holds only letters and digits, and no row produces a letter, a digit or ";".
// So occurrences never overlap and no row creates an occurrence for a later
// row, except "&amp;", which comes last and whose output is not searched
// again. One left-to-right scan with a table lookup at each "&" is therefore
// exactly the row-by-row result.
//
// Numeric pass: numeric references cannot overlap either ("&" never occurs
// inside one), so the rewriting has a single end result however the
// replacements are ordered; a streaming rewrite that decodes a reference as
// soon as its ";" arrives at the end of the output, and then looks at the new
// end of the output again (the decoded character may be a digit, "#", "&" or
// ";" that completes or continues a reference begun before it), reaches it.
//
// The report lines quote the whole string as the literal procedure has it at
// that moment, and that procedure has already replaced, further right, every
// occurrence of the texts it decoded so far (in the order it decoded them).
// To reproduce that string the stream keeps the literal procedure's order of
// replacement steps: each character carries the step that produced it (0 for
// input), and a completed reference whose newest character comes from step t
// is decoded by the first earlier-recorded step after t with the same text,
// or else starts a new step. A report then replays the rest of the input with
// the steps recorded so far, which yields the literal procedure's string.
#include "text/HtmlEntities.h"

#include <algorithm>
#include <climits>
#include <unordered_map>
#include <vector>

#include "text/NarrowMessage.h"

namespace {

// ---------------------------------------------------------------------------
// Named pass
// ---------------------------------------------------------------------------

struct NamedIndex {
  std::unordered_map<std::string, wchar_t> codes;  // "&name;" -> code unit
  size_t maxNameLength = 0;                          // without "&" and ";"
};

const NamedIndex& GetNamedIndex() {
  static const NamedIndex s_index = [] {
    NamedIndex index;
    for (const NamedEntity* row = NamedEntityTable; row->pszName != nullptr; ++row) {
      index.codes.emplace(row->pszName, static_cast<wchar_t>(row->nCode));
      index.maxNameLength = std::max(index.maxNameLength, std::char_traits<char>::length(row->pszName) - 2);
    }
    return index;
  }();
  return s_index;
}

bool IsAsciiAlnum(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9');
}

void DecodeNamed(std::wstring& text) {
  if (text.find(L'&') == std::wstring::npos) return;
  const NamedIndex& index = GetNamedIndex();
  std::wstring out;
  out.reserve(text.size());
  std::string key;
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    wchar_t c = text[i];
    if (c != L'&') {
      out.push_back(c);
      ++i;
      continue;
    }
    size_t j = i + 1;
    while (j < n && j - i - 1 < index.maxNameLength && IsAsciiAlnum(text[j])) ++j;
    if (j < n && j > i + 1 && text[j] == L';') {
      key.assign(1, '&');
      for (size_t k = i + 1; k < j; ++k) key.push_back(static_cast<char>(text[k]));
      key.push_back(';');
      auto hit = index.codes.find(key);
      if (hit != index.codes.end()) {
        out.push_back(hit->second);
        i = j + 1;
        continue;
      }
    }
    out.push_back(L'&');
    ++i;
  }
  text.swap(out);
}

// ---------------------------------------------------------------------------
// Numeric pass
// ---------------------------------------------------------------------------

// The replacement steps of the literal procedure: for each reference text,
// the steps that replaced it, ascending. Only references from 1 to 65535 are
// replaced, so (number of digits, value) identifies the text exactly, leading
// zeros included. Open addressing keeps one step inline, which is all most
// texts ever get; repeated steps go to a side list.
class CReplacementSteps {
 public:
  CReplacementSteps() : m_slots(64), m_nUsed(0), m_nCount(0) {}

  // The first step after `after` that replaced this text; 0 when none.
  uint32_t FindAfter(uint64_t length, uint32_t value, uint32_t after) const {
    const Slot* slot = Lookup(length, value);
    if (slot == nullptr) return 0;
    if (slot->first > after) return slot->first;
    if (slot->extras < 0) return 0;
    const std::vector<uint32_t>& more = m_extras[static_cast<size_t>(slot->extras)];
    auto later = std::upper_bound(more.begin(), more.end(), after);
    return later != more.end() ? *later : 0;
  }

  // Records a new step for this text and returns its number.
  uint32_t Record(uint64_t length, uint32_t value) {
    const uint32_t step = ++m_nCount;
    Slot* slot = Lookup(length, value);
    if (slot == nullptr) {
      if ((m_nUsed + 1) * 2 > m_slots.size()) Grow();
      slot = &Probe(length, value);
      *slot = Slot{length, value, step, -1, true};
      ++m_nUsed;
    } else {
      if (slot->extras < 0) {
        slot->extras = static_cast<int32_t>(m_extras.size());
        m_extras.emplace_back();
      }
      m_extras[static_cast<size_t>(slot->extras)].push_back(step);
    }
    return step;
  }

 private:
  struct Slot {
    uint64_t length;
    uint32_t value;
    uint32_t first;
    int32_t extras;
    bool used;
  };

  static size_t Hash(uint64_t length, uint32_t value) {
    uint64_t h = (length * 0x9E3779B97F4A7C15ull) ^ (value * 0xC2B2AE3D27D4EB4Full);
    return static_cast<size_t>(h ^ (h >> 29));
  }
  // The slot holding the key, or the empty slot where it belongs.
  Slot& Probe(uint64_t length, uint32_t value) {
    size_t mask = m_slots.size() - 1;
    for (size_t i = Hash(length, value) & mask;; i = (i + 1) & mask) {
      Slot& slot = m_slots[i];
      if (!slot.used || (slot.length == length && slot.value == value)) return slot;
    }
  }
  Slot* Lookup(uint64_t length, uint32_t value) {
    Slot& slot = Probe(length, value);
    return slot.used ? &slot : nullptr;
  }
  const Slot* Lookup(uint64_t length, uint32_t value) const {
    return const_cast<CReplacementSteps*>(this)->Lookup(length, value);
  }
  void Grow() {
    std::vector<Slot> old(m_slots.size() * 2);
    old.swap(m_slots);
    for (const Slot& slot : old)
      if (slot.used) Probe(slot.length, slot.value) = slot;
  }

  std::vector<Slot> m_slots;  // size: a power of two
  size_t m_nUsed;
  uint32_t m_nCount;
  std::vector<std::vector<uint32_t>> m_extras;
};

struct BadReference {
  bool found = false;
  std::wstring text;
  int value = 0;
};

constexpr int64_t kNoReference = -1;

// Streaming rewrite of numeric references. Live: decodes every reference
// from 1 to 65535, recording new steps as the literal procedure would take
// them. Replay: decodes only what the recorded steps had already replaced
// ahead of the procedure's position, and records nothing.
class CNumericStream {
 public:
  CNumericStream(CReplacementSteps& steps, bool live, size_t expectedLength) : m_steps(steps), m_bLive(live) {
    m_out.reserve(expectedLength);
    m_step.reserve(expectedLength);
    m_start.reserve(expectedLength);
  }

  // Appends one input character and settles the end of the output.
  // Returns a bad reference completed by it, if any (live only).
  BadReference Push(wchar_t c) {
    BadReference bad;
    uint32_t step = 0;
    for (;;) {
      const size_t i = m_out.size();
      const int64_t before = i > 0 ? m_start[i - 1] : kNoReference;
      int64_t start = kNoReference;
      bool complete = false;
      if (c == L'&') {
        start = static_cast<int64_t>(i);
      } else if (c == L'#') {
        if (before != kNoReference && static_cast<size_t>(before) == i - 1) start = before;
      } else if (c >= L'0' && c <= L'9') {
        if (before != kNoReference && static_cast<size_t>(before) + 1 <= i - 1) start = before;
      } else if (c == L';') {
        complete = before != kNoReference && static_cast<size_t>(before) + 2 <= i - 1;
      }
      m_out.push_back(c);
      m_step.push_back(step);
      m_start.push_back(start);
      if (!complete) return bad;

      // "&#digits;" now ends the output at i.
      const size_t first = static_cast<size_t>(before);
      uint32_t newest = 0;
      for (size_t k = first; k <= i; ++k) newest = std::max(newest, m_step[k]);
      int64_t value = 0;
      for (size_t k = first + 2; k < i; ++k)
        value = std::min<int64_t>(value * 10 + (m_out[k] - L'0'), static_cast<int64_t>(INT_MAX) + 1);
      if (value < 1 || value > 65535) {
        m_start[i] = kNoReference;
        if (m_bLive) {
          bad.found = true;
          bad.text.assign(m_out, first, i + 1 - first);
          // Digits beyond 32 bits are shown as the largest 32-bit value.
          bad.value = value > INT_MAX ? INT_MAX : static_cast<int>(value);
        }
        return bad;
      }
      const uint64_t length = i - first - 2;
      uint32_t by = m_steps.FindAfter(length, static_cast<uint32_t>(value), newest);
      if (by == 0 && m_bLive) {
        by = m_steps.Record(length, static_cast<uint32_t>(value));
      } else if (by == 0) {
        // Not replaced yet when the procedure reaches this point.
        m_start[i] = kNoReference;
        return bad;
      }
      m_out.resize(first);
      m_step.resize(first);
      m_start.resize(first);
      c = static_cast<wchar_t>(value);
      step = by;
    }
  }

  const std::wstring& Output() const { return m_out; }
  std::wstring& Output() { return m_out; }

 private:
  CReplacementSteps& m_steps;
  bool m_bLive;
  std::wstring m_out;
  std::vector<uint32_t> m_step;   // step that produced each output character
  std::vector<int64_t> m_start;   // start of the reference each character may continue
};

// Input characters replayed past the end of an excerpt, so that references
// that begin inside it and close a little later show decoded. (Only a
// reference whose digits run further than this past the excerpt can show
// as the procedure had not yet decoded it.)
constexpr size_t EXCERPT_LOOKAHEAD = 256;
// Input characters replayed for one report at most: a chain of references
// that keep collapsing ("&#38;#38;#38;...") never fills the excerpt, and
// must not make every report replay the whole text.
constexpr size_t EXCERPT_REPLAY_LIMIT = 4096;

// The report of a bad reference that ends the settled output. The string the
// literal procedure has at this moment is the settled output followed by the
// rest of the input replayed with the steps recorded so far; only as much of
// the rest is replayed as the quote needs.
void ReportBadReference(ITextReportSink& reports, const BadReference& bad, const std::wstring& settled,
                        CReplacementSteps& steps, const std::wstring& text, size_t next) {
  const size_t n = text.size();
  CNumericStream rest(steps, false, std::min(n - next, BAD_REFERENCE_QUOTE_LIMIT + EXCERPT_LOOKAHEAD));
  size_t k = next;
  size_t afterEnough = 0;  // input characters pushed since the excerpt was full
  for (; k < n && afterEnough < EXCERPT_LOOKAHEAD && k - next < EXCERPT_REPLAY_LIMIT; ++k) {
    rest.Push(text[k]);
    if (settled.size() + rest.Output().size() > BAD_REFERENCE_QUOTE_LIMIT &&
        rest.Output().size() > BAD_REFERENCE_CONTEXT)
      ++afterEnough;
  }
  const std::wstring& after = rest.Output();
  std::string quoted;
  if (k == n && settled.size() + after.size() <= BAD_REFERENCE_QUOTE_LIMIT) {
    quoted = "\"" + NarrowForMessage((settled + after).c_str()) + "\"";
  } else {
    const size_t start = settled.size() - bad.text.size();
    const size_t from = start > BAD_REFERENCE_CONTEXT ? start - BAD_REFERENCE_CONTEXT : 0;
    const size_t tail = std::min(after.size(), BAD_REFERENCE_CONTEXT);
    const std::wstring excerpt = settled.substr(from) + after.substr(0, tail);
    const bool cutAtEnd = tail < after.size() || k < n;
    quoted = "\"" + std::string(from > 0 ? "..." : "") + NarrowForMessage(excerpt.c_str()) +
             (cutAtEnd ? "..." : "") + "\" (excerpt of a text of " + std::to_string(n) + " characters)";
  }
  LogNarrowMessage(reports, TEXT_REPORT_ERROR,
                   "Bad &#nnn; code: \"" + NarrowForMessage(bad.text.c_str()) + "\" => " +
                       std::to_string(bad.value) + " ; string is:\n\t" + quoted);
}

void DecodeNumeric(std::wstring& text, ITextReportSink& reports) {
  if (text.empty()) {
    // What the literal procedure's matcher reports for an empty string.
    LogNarrowMessage(reports, TEXT_REPORT_WARNING, "Input string is empty");
    return;
  }
  if (text.find(L"&#") == std::wstring::npos) return;

  CReplacementSteps steps;
  CNumericStream stream(steps, true, text.size());
  int reported = 0;
  long long unreported = 0;
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    BadReference bad = stream.Push(text[i]);
    if (!bad.found) continue;
    if (reported >= MAX_REPORTED_BAD_REFERENCES) {
      ++unreported;
      continue;
    }
    ++reported;
    // Composing the report costs a replay; skip it when the line would be
    // dropped anyway.
    if (reports.WillReport(TEXT_REPORT_ERROR)) ReportBadReference(reports, bad, stream.Output(), steps, text, i + 1);
  }
  if (unreported > 0 && reports.WillReport(TEXT_REPORT_ERROR)) {
    LogNarrowMessage(reports, TEXT_REPORT_ERROR, "Bad &#nnn; code: " + std::to_string(unreported) +
                                      " more references left unchanged and not reported");
  }
  text.swap(stream.Output());
}

}  // namespace

void DecodeHtmlEntities(std::wstring& text, ITextReportSink& reports) {
  DecodeNamed(text);
  DecodeNumeric(text, reports);
}

void DecodeHtmlEntities(CString& text, ITextReportSink& reports) { DecodeHtmlEntities(text.Str(), reports); }
