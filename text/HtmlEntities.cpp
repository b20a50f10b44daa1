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
#include <cstring>
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

// In place: a reference is never shorter than what it decodes to, so the
// write position never passes the read position.
void DecodeNamed(std::wstring& text) {
  size_t i = text.find(L'&');
  if (i == std::wstring::npos) return;
  const NamedIndex& index = GetNamedIndex();
  std::string key;
  const size_t n = text.size();
  size_t w = i;
  wchar_t* const data = &text[0];
  while (i < n) {
    if (data[i] != L'&') {
      // The run up to the next "&" moves left as it is.
      const wchar_t* next = std::find(data + i, data + n, L'&');
      const size_t run = static_cast<size_t>(next - (data + i));
      std::memmove(data + w, data + i, run * sizeof(wchar_t));
      w += run;
      i += run;
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
        text[w++] = hit->second;
        i = j + 1;
        continue;
      }
    }
    text[w++] = L'&';
    ++i;
  }
  text.resize(w);
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
//
// The output goes to a buffer the caller supplies, with room for one
// character per character pushed: the output never grows faster than that,
// so the live stream can write over the text it is reading.
//
// Per-character state would cost 16 bytes a character. Only the reference
// that the end of the output may still complete ("&", "&#" or "&#digits")
// needs any: where it starts and the newest step among its characters. A
// decoded character can continue the reference before the decoded one, so
// when an "&" starts a reference while another is open, the open one is
// kept on a stack and comes back when the output is cut back to that "&".
// Any other character ends every open reference for good, and the stack is
// emptied.
class CNumericStream {
 public:
  CNumericStream(CReplacementSteps& steps, bool live, wchar_t* out)
      : m_steps(steps), m_bLive(live), m_pOut(out), m_nOut(0), m_nOpen(kNoReference), m_nNewest(0) {}

  // Appends one input character and settles the end of the output.
  // Returns a bad reference completed by it, if any (live only).
  BadReference Push(wchar_t c) {
    BadReference bad;
    uint32_t step = 0;
    for (;;) {
      const size_t i = m_nOut;
      const int64_t before = m_nOpen;
      m_pOut[m_nOut++] = c;
      if (c == L'&') {
        if (before != kNoReference) m_saved.push_back(SavedReference{i, before, m_nNewest});
        m_nOpen = static_cast<int64_t>(i);
        m_nNewest = step;
        return bad;
      }
      if ((c == L'#' && before != kNoReference && static_cast<size_t>(before) == i - 1) ||
          (c >= L'0' && c <= L'9' && before != kNoReference && static_cast<size_t>(before) + 1 <= i - 1)) {
        m_nNewest = std::max(m_nNewest, step);
        return bad;
      }
      if (c != L';' || before == kNoReference || static_cast<size_t>(before) + 2 > i - 1) {
        Close();
        return bad;
      }

      // "&#digits;" now ends the output at i.
      const size_t first = static_cast<size_t>(before);
      const uint32_t newest = std::max(m_nNewest, step);
      int64_t value = 0;
      for (size_t k = first + 2; k < i; ++k)
        value = std::min<int64_t>(value * 10 + (m_pOut[k] - L'0'), static_cast<int64_t>(INT_MAX) + 1);
      if (value < 1 || value > 65535) {
        Close();
        if (m_bLive) {
          bad.found = true;
          bad.text.assign(m_pOut + first, i + 1 - first);
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
        Close();
        return bad;
      }
      // Cut the output back to the reference's "&" and bring back the
      // reference that was open before it, if any.
      m_nOut = first;
      if (!m_saved.empty() && m_saved.back().nAmpersand == first) {
        m_nOpen = m_saved.back().nOpen;
        m_nNewest = m_saved.back().nNewest;
        m_saved.pop_back();
      } else {
        m_nOpen = kNoReference;
        m_nNewest = 0;
      }
      c = static_cast<wchar_t>(value);
      step = by;
    }
  }

  // With no reference open, decodes the well-formed reference "&#digits;"
  // that starts at `p` (before `end`) when its character can neither
  // continue nor complete another reference: exactly what pushing its
  // characters one by one would do. Returns the characters used, or 0 when
  // the reference needs the general path.
  size_t TryDecodeSimple(const wchar_t* p, const wchar_t* end) {
    if (end - p < 4 || p[1] != L'#') return 0;
    const wchar_t* q = p + 2;
    int64_t value = 0;
    while (q < end && *q >= L'0' && *q <= L'9' && value <= 65535) value = value * 10 + (*q++ - L'0');
    if (q == p + 2 || q == end || *q != L';' || value < 1 || value > 65535) return 0;
    const wchar_t c = static_cast<wchar_t>(value);
    if (c == L'&' || c == L'#' || c == L';' || (c >= L'0' && c <= L'9')) return 0;
    const uint64_t length = static_cast<uint64_t>(q - p - 2);
    // Input characters carry no step: the first step that replaced this
    // text, or a new one.
    if (m_steps.FindAfter(length, static_cast<uint32_t>(value), 0) == 0) {
      if (!m_bLive) return 0;
      m_steps.Record(length, static_cast<uint32_t>(value));
    }
    m_pOut[m_nOut++] = c;
    return static_cast<size_t>(q - p) + 1;
  }

  // Appends characters none of which is "&" while no reference is open:
  // each would only be written and close nothing, so they are copied as a
  // block.
  bool Idle() const { return m_nOpen == kNoReference; }
  void AppendPlain(const wchar_t* p, size_t count) {
    std::memmove(m_pOut + m_nOut, p, count * sizeof(wchar_t));
    m_nOut += count;
  }

  const wchar_t* Output() const { return m_pOut; }
  size_t OutputLength() const { return m_nOut; }

 private:
  struct SavedReference {
    size_t nAmpersand;  // where the "&" that interrupted it stands
    int64_t nOpen;
    uint32_t nNewest;
  };

  void Close() {
    m_nOpen = kNoReference;
    m_nNewest = 0;
    m_saved.clear();
  }

  CReplacementSteps& m_steps;
  bool m_bLive;
  wchar_t* m_pOut;
  size_t m_nOut;
  int64_t m_nOpen;     // start of the reference the output's end may complete
  uint32_t m_nNewest;  // newest step among that reference's characters
  std::vector<SavedReference> m_saved;
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
void ReportBadReference(ITextReportSink& reports, const BadReference& bad, const wchar_t* settledText, size_t settledLength,
                        CReplacementSteps& steps, const std::wstring& text, size_t next) {
  const size_t n = text.size();
  std::wstring replayed(std::min(n - next, EXCERPT_REPLAY_LIMIT), L'\0');
  CNumericStream rest(steps, false, &replayed[0]);
  size_t k = next;
  size_t afterEnough = 0;  // input characters pushed since the excerpt was full
  for (; k < n && afterEnough < EXCERPT_LOOKAHEAD && k - next < EXCERPT_REPLAY_LIMIT; ++k) {
    rest.Push(text[k]);
    if (settledLength + rest.OutputLength() > BAD_REFERENCE_QUOTE_LIMIT && rest.OutputLength() > BAD_REFERENCE_CONTEXT)
      ++afterEnough;
  }
  replayed.resize(rest.OutputLength());
  const std::wstring& after = replayed;
  std::string quoted;
  if (k == n && settledLength + after.size() <= BAD_REFERENCE_QUOTE_LIMIT) {
    quoted = "\"" + NarrowForMessage((std::wstring(settledText, settledLength) + after).c_str()) + "\"";
  } else {
    const size_t start = settledLength - bad.text.size();
    const size_t from = start > BAD_REFERENCE_CONTEXT ? start - BAD_REFERENCE_CONTEXT : 0;
    const size_t tail = std::min(after.size(), BAD_REFERENCE_CONTEXT);
    const std::wstring excerpt = std::wstring(settledText + from, settledLength - from) + after.substr(0, tail);
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

  // Decoded in place: the stream writes over the characters it has read.
  CReplacementSteps steps;
  CNumericStream stream(steps, true, &text[0]);
  int reported = 0;
  long long unreported = 0;
  const size_t n = text.size();
  const wchar_t* const data = text.data();
  for (size_t i = 0; i < n; ++i) {
    if (stream.Idle()) {
      if (data[i] != L'&') {
        const size_t run = static_cast<size_t>(std::find(data + i, data + n, L'&') - (data + i));
        stream.AppendPlain(data + i, run);  // writes at or left of what it reads
        i += run - 1;
        continue;
      }
      const size_t used = stream.TryDecodeSimple(data + i, data + n);
      if (used > 0) {
        i += used - 1;
        continue;
      }
    }
    BadReference bad = stream.Push(text[i]);
    if (!bad.found) continue;
    if (reported >= MAX_REPORTED_BAD_REFERENCES) {
      ++unreported;
      continue;
    }
    ++reported;
    // Composing the report costs a replay; skip it when the line would be
    // dropped anyway.
    if (reports.WillReport(TEXT_REPORT_ERROR))
      ReportBadReference(reports, bad, stream.Output(), stream.OutputLength(), steps, text, i + 1);
  }
  if (unreported > 0 && reports.WillReport(TEXT_REPORT_ERROR)) {
    LogNarrowMessage(reports, TEXT_REPORT_ERROR, "Bad &#nnn; code: " + std::to_string(unreported) +
                                      " more references left unchanged and not reported");
  }
  text.resize(stream.OutputLength());
}

}  // namespace

void DecodeHtmlEntities(std::wstring& text, ITextReportSink& reports) {
  DecodeNamed(text);
  DecodeNumeric(text, reports);
}

void DecodeHtmlEntities(CString& text, ITextReportSink& reports) { DecodeHtmlEntities(text.Str(), reports); }
