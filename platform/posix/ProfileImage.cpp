#include "platform/posix/ProfileImage.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>

#include "platform/ProfileEscape.h"
#include "platform/posix/IcuCalls.h"

namespace platform {
namespace {

typedef ProfilePart Part;

inline bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

constexpr bool kLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

inline uint32_t FoldChar(wchar_t wc) {
  const uint32_t c = static_cast<uint32_t>(wc);
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 0x20 : c;
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return c;
  // Without ICU (not installed) only ASCII letters fold.
  const SIcuCalls* icu = IcuCalls();
  return icu != nullptr ? static_cast<uint32_t>(icu->u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT)) : c;
}

// The seed of every name hash in this process. Chosen at random so that no
// set of names, in a page or a file, lands in one cluster on every machine.
uint64_t HashSeed() {
  static const uint64_t s_seed = [] {
    std::random_device device;
    return (static_cast<uint64_t>(device()) << 32) ^ device() ^
           static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  }();
  return s_seed;
}

inline uint64_t Mix(uint64_t h) {
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 33;
  return h;
}

uint64_t HashName(const wchar_t* p, size_t length) {
  uint64_t h = HashSeed() ^ (length * 0x9E3779B97F4A7C15ull);
  for (size_t k = 0; k < length; ++k) {
    h = (h ^ FoldChar(p[k])) * 0x100000001B3ull;
    h ^= h >> 29;
  }
  return Mix(h);
}

// A probe run longer than this makes the table grow (while it is still
// small against its content); with a random seed it practically never is.
constexpr size_t MAX_PROBE = 32;

// The slot of `hash` in `slots` whose entry `same` accepts, or the free slot
// that ends the run; `probes` counts the slots looked at.
template <typename Same>
size_t Probe(const std::vector<uint32_t>& slots, uint64_t hash, Same same, size_t& probes) {
  const size_t mask = slots.size() - 1;
  probes = 0;
  for (size_t i = hash & mask;; i = (i + 1) & mask, ++probes)
    if (slots[i] == 0 || same(slots[i] - 1)) return i;
}

// Rebuilds `slots` with `size` slots for `count` entries whose hashes
// `hashOf` gives.
template <typename HashOf>
void Rebuild(std::vector<uint32_t>& slots, size_t size, size_t count, HashOf hashOf) {
  slots.assign(size, 0);
  const size_t mask = size - 1;
  for (size_t index = 0; index < count; ++index) {
    size_t i = hashOf(index) & mask;
    while (slots[i] != 0) i = (i + 1) & mask;
    slots[i] = static_cast<uint32_t>(index + 1);
  }
}

// Puts entry `index` into `slots` at the free slot `at` found by Probe, then
// keeps the load at most one half and probe runs short.
template <typename HashOf>
void Insert(std::vector<uint32_t>& slots, size_t at, size_t probes, size_t index, HashOf hashOf) {
  slots[at] = static_cast<uint32_t>(index + 1);
  const size_t count = index + 1;
  if (count * 2 > slots.size() || (probes > MAX_PROBE && slots.size() < 16 * count))
    Rebuild(slots, slots.size() * 2, count, hashOf);
}

bool FoldEqual(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength) {
  if (aLength != bLength) return false;
  for (size_t k = 0; k < aLength; ++k)
    if (a[k] != b[k] && FoldChar(a[k]) != FoldChar(b[k])) return false;
  return true;
}

void AppendUnit(std::string& out, uint32_t unit) {
  out += static_cast<char>(unit & 0xFF);
  out += static_cast<char>((unit >> 8) & 0xFF);
}

void AppendChar(std::string& out, uint32_t c) {
  if (c > 0xFFFF) {
    c -= 0x10000;
    AppendUnit(out, 0xD800 + (c >> 10));
    AppendUnit(out, 0xDC00 + (c & 0x3FF));
  } else {
    AppendUnit(out, c);
  }
}

void AppendAscii(std::string& out, const char* text) {
  for (; *text != '\0'; ++text) AppendUnit(out, static_cast<unsigned char>(*text));
}

// Appends `text` escaped for `part`, as UTF-16LE.
void AppendEscaped(std::string& out, Part part, const wchar_t* text, size_t length) {
  static const char kHex[] = "0123456789ABCDEF";
  for (size_t k = 0; k < length; ++k) {
    const uint32_t c = static_cast<uint32_t>(text[k]);
    if (!ProfileNeedsEscape(part, text[k], k, length)) {
      AppendChar(out, c);
      continue;
    }
    AppendUnit(out, '\\');
    const bool wide = c > 0xFFFF;
    AppendUnit(out, wide ? 'U' : 'u');
    for (int shift = wide ? 28 : 12; shift >= 0; shift -= 4) AppendUnit(out, kHex[(c >> shift) & 0xF]);
  }
}

}  // namespace

const char CProfileImage::BOM[2] = {'\xFF', '\xFE'};

void CProfileImage::Reset() {
  m_encoding = Encoding::EMPTY;
  m_validEnd = 0;
  m_current = NO_INDEX;
  m_names.clear();
  m_sections.clear();
  m_keys.clear();
  m_keyNames.clear();
  m_keyNameHashes.clear();
  m_slots.assign(64, 0);
  m_keyNameSlots.assign(16, 0);
  m_keySlots.assign(64, 0);
  m_superseded = 0;
}

void CProfileImage::Parse(const char* data, size_t size, uint64_t offset) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(data);
  size_t pos = 0;
  if (offset == 0) {
    Reset();
    if (size == 0) return;
    if (b[0] == 0xFF) {
      if (size < 2) return;  // a cut-off mark: nothing complete yet
      if (b[1] == 0xFE) {
        m_encoding = Encoding::UTF16LE;
        pos = 2;
      }
    } else if (size >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
      pos = 3;
    }
    if (m_encoding == Encoding::EMPTY) m_encoding = Encoding::UTF8;
    m_validEnd = pos;
  }

  std::wstring line;
  auto endLine = [&](size_t next) {
    ParseLine(line.data(), line.data() + line.size());
    line.clear();
    m_validEnd = offset + next;
  };

  if (m_encoding == Encoding::UTF16LE) {
    while (pos + 2 <= size) {
      // A run of units that need no decision (no line break, NUL or high
      // surrogate) goes into the line in one step.
      size_t run = pos;
      if (kLittleEndian) {
        // Four units at a time while all are between U+0020 and U+00FF.
        while (run + 8 <= size) {
          uint64_t word;
          std::memcpy(&word, b + run, 8);
          if ((word & 0xFF00FF00FF00FF00ull) != 0 ||
              ((word + 0x00E000E000E000E0ull) & 0x0100010001000100ull) != 0x0100010001000100ull)
            break;
          run += 8;
        }
      }
      while (run + 2 <= size) {
        const uint32_t v = b[run] | (b[run + 1] << 8);
        if (v == '\n' || v == '\r' || v == 0 || (v >= 0xD800 && v <= 0xDBFF)) break;
        run += 2;
      }
      if (run > pos) {
        wchar_t units[256];
        while (pos < run) {
          const size_t count = std::min<size_t>((run - pos) / 2, sizeof units / sizeof units[0]);
          for (size_t k = 0; k < count; ++k) units[k] = static_cast<wchar_t>(b[pos + 2 * k] | (b[pos + 2 * k + 1] << 8));
          line.append(units, count);
          pos += 2 * count;
        }
        continue;
      }
      uint32_t u = b[pos] | (b[pos + 1] << 8);
      size_t next = pos + 2;
      if (u >= 0xD800 && u <= 0xDBFF && next + 2 <= size) {
        const uint32_t low = b[next] | (b[next + 1] << 8);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
          next += 2;
        }
      }
      if (u == '\n' || u == '\r')
        endLine(next);
      else if (u != 0)
        line += static_cast<wchar_t>(u);
      pos = next;
    }
    return;
  }

  // UTF-8 (files made by other tools): a byte that does not start a
  // well-formed sequence is taken as the Latin-1 character of that value.
  while (pos < size) {
    const unsigned char c0 = b[pos];
    uint32_t c = c0;
    size_t length = 1;
    if (c0 >= 0xC2 && c0 <= 0xF4) {
      const size_t want = c0 < 0xE0 ? 2 : (c0 < 0xF0 ? 3 : 4);
      if (pos + want <= size) {
        uint32_t v = c0 & (want == 2 ? 0x1F : (want == 3 ? 0x0F : 0x07));
        size_t k = 1;
        for (; k < want && (b[pos + k] & 0xC0) == 0x80; ++k) v = (v << 6) | (b[pos + k] & 0x3F);
        const bool overlong = (want == 3 && v < 0x800) || (want == 4 && v < 0x10000);
        if (k == want && !overlong && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
          c = v;
          length = want;
        }
      }
    }
    if (c == '\n' || c == '\r')
      endLine(pos + 1);
    else if (c != 0)
      line += static_cast<wchar_t>(c);
    pos += length;
  }
}

void CProfileImage::ParseLine(const wchar_t* p, const wchar_t* end) {
  while (p < end && IsBlank(*p)) ++p;
  if (p == end || *p == L';') return;
  if (*p == L'[') {
    const wchar_t* close = p + 1;
    while (close < end && *close != L']') ++close;
    if (close == end) {
      m_current = NO_INDEX;  // not a header; keep its keys out of the last section
      return;
    }
    ProfileUnescape(p + 1, close, m_scratchName);
    if (m_bFiltered && !FoldEqual(m_scratchName.data(), m_scratchName.size(), m_filter.data(), m_filter.size())) {
      m_current = NO_INDEX;  // another section: its keys are not kept
      return;
    }
    const uint64_t hash = HashName(m_scratchName.data(), m_scratchName.size());
    const uint32_t found = FindSection(m_scratchName.data(), m_scratchName.size(), hash);
    m_current = found != NO_INDEX ? found : AddSection(m_scratchName.data(), m_scratchName.size(), hash);
    return;
  }
  const wchar_t* eq = p;
  while (eq < end && *eq != L'=') ++eq;
  if (eq == end || m_current == NO_INDEX) return;
  const wchar_t* keyEnd = eq;
  while (keyEnd > p && IsBlank(keyEnd[-1])) --keyEnd;
  ProfileUnescape(p, keyEnd, m_scratchKey);
  ProfileUnescape(eq + 1, end, m_scratchValue);
  SetKey(m_current, m_scratchKey.data(), m_scratchKey.size(), m_scratchValue.data(), m_scratchValue.size());
}

bool CProfileImage::SameName(const CSection& s, const wchar_t* name, size_t length) const {
  return FoldEqual(m_names.data() + s.nameOffset, s.nameLength, name, length);
}

uint32_t CProfileImage::FindSection(const wchar_t* name, size_t length) const {
  return FindSection(name, length, HashName(name, length));
}

uint32_t CProfileImage::FindSection(const wchar_t* name, size_t length, uint64_t hash) const {
  size_t probes;
  const size_t i = Probe(m_slots, hash, [&](uint32_t k) {
    return m_sections[k].hash == hash && SameName(m_sections[k], name, length);
  }, probes);
  return m_slots[i] == 0 ? NO_INDEX : m_slots[i] - 1;
}

uint32_t CProfileImage::AddSection(const wchar_t* name, size_t length, uint64_t hash) {
  size_t probes;
  const size_t at = Probe(m_slots, hash, [](uint32_t) { return false; }, probes);
  CSection s;
  s.nameOffset = static_cast<uint32_t>(m_names.size());
  s.nameLength = static_cast<uint32_t>(length);
  s.firstKey = NO_INDEX;
  s.lastKey = NO_INDEX;
  s.hash = hash;
  m_names.insert(m_names.end(), name, name + length);
  m_names.push_back(L'\0');
  m_sections.push_back(s);
  const uint32_t index = static_cast<uint32_t>(m_sections.size() - 1);
  Insert(m_slots, at, probes, index, [this](size_t k) { return m_sections[k].hash; });
  return index;
}

uint32_t CProfileImage::FindKeyName(const wchar_t* key, size_t length, uint64_t hash) const {
  size_t probes;
  const size_t i = Probe(m_keyNameSlots, hash, [&](uint32_t k) {
    return m_keyNameHashes[k] == hash && FoldEqual(m_keyNames[k].data(), m_keyNames[k].size(), key, length);
  }, probes);
  return m_keyNameSlots[i] == 0 ? NO_INDEX : m_keyNameSlots[i] - 1;
}

uint32_t CProfileImage::AddKeyName(const wchar_t* key, size_t length, uint64_t hash) {
  size_t probes;
  const size_t at = Probe(m_keyNameSlots, hash, [](uint32_t) { return false; }, probes);
  m_keyNames.emplace_back(key, length);
  m_keyNameHashes.push_back(hash);
  const uint32_t index = static_cast<uint32_t>(m_keyNames.size() - 1);
  Insert(m_keyNameSlots, at, probes, index, [this](size_t k) { return m_keyNameHashes[k]; });
  return index;
}

uint64_t CProfileImage::KeyHash(uint32_t section, uint32_t name) const {
  return Mix(HashSeed() ^ ((static_cast<uint64_t>(section) << 32) | name));
}

uint32_t CProfileImage::FindKey(uint32_t section, const wchar_t* key, size_t length) const {
  const uint32_t name = FindKeyName(key, length, HashName(key, length));
  if (name == NO_INDEX) return NO_INDEX;
  size_t probes;
  const size_t i = Probe(m_keySlots, KeyHash(section, name), [&](uint32_t k) {
    return m_keys[k].section == section && m_keys[k].name == name;
  }, probes);
  return m_keySlots[i] == 0 ? NO_INDEX : m_keySlots[i] - 1;
}

const std::wstring* CProfileImage::FindValue(uint32_t section, const wchar_t* key, size_t keyLength) const {
  if (section >= m_sections.size()) return nullptr;
  const uint32_t k = FindKey(section, key, keyLength);
  return k == NO_INDEX ? nullptr : &m_keys[k].value;
}

void CProfileImage::SetValue(const wchar_t* section, size_t sectionLength, const wchar_t* key, size_t keyLength,
                             const wchar_t* value, size_t valueLength) {
  const uint64_t hash = HashName(section, sectionLength);
  uint32_t s = FindSection(section, sectionLength, hash);
  if (s == NO_INDEX) s = AddSection(section, sectionLength, hash);
  SetKey(s, key, keyLength, value, valueLength);
}

void CProfileImage::SetKey(uint32_t s, const wchar_t* key, size_t keyLength, const wchar_t* value,
                           size_t valueLength) {
  const uint64_t nameHash = HashName(key, keyLength);
  uint32_t name = FindKeyName(key, keyLength, nameHash);
  if (name == NO_INDEX) name = AddKeyName(key, keyLength, nameHash);
  const uint64_t hash = KeyHash(s, name);
  size_t probes;
  const size_t at = Probe(m_keySlots, hash, [&](uint32_t k) {
    return m_keys[k].section == s && m_keys[k].name == name;
  }, probes);
  if (m_keySlots[at] != 0) {
    m_keys[m_keySlots[at] - 1].value.assign(value, valueLength);
    ++m_superseded;
    return;
  }
  CKey entry;
  entry.name = name;
  entry.section = s;
  entry.next = NO_INDEX;
  entry.value.assign(value, valueLength);
  m_keys.push_back(std::move(entry));
  const uint32_t index = static_cast<uint32_t>(m_keys.size() - 1);
  CSection& section = m_sections[s];
  if (section.lastKey == NO_INDEX)
    section.firstKey = index;
  else
    m_keys[section.lastKey].next = index;
  section.lastKey = index;
  Insert(m_keySlots, at, probes, index, [this](size_t k) { return KeyHash(m_keys[k].section, m_keys[k].name); });
}

std::vector<wchar_t> CProfileImage::KeyNames(uint32_t section) const {
  std::vector<wchar_t> out;
  if (section >= m_sections.size()) return out;
  for (uint32_t k = m_sections[section].firstKey; k != NO_INDEX; k = m_keys[k].next) {
    const std::wstring& name = m_keyNames[m_keys[k].name];
    out.insert(out.end(), name.begin(), name.end());
    out.push_back(L'\0');
  }
  return out;
}

std::string CProfileImage::FormatRecord(const wchar_t* section, size_t sectionLength, const wchar_t* key,
                                        size_t keyLength, const wchar_t* value, size_t valueLength, bool withBom) {
  std::string out;
  out.reserve(2 * (sectionLength + keyLength + valueLength + 8));
  if (withBom) out.append(BOM, 2);
  AppendUnit(out, '[');
  AppendEscaped(out, Part::SECTION, section, sectionLength);
  AppendAscii(out, "]\r\n");
  AppendEscaped(out, Part::KEY, key, keyLength);
  AppendUnit(out, '=');
  AppendEscaped(out, Part::VALUE, value, valueLength);
  AppendAscii(out, "\r\n");
  return out;
}

std::string CProfileImage::FormatCompact() const {
  std::string out(BOM, 2);
  for (const CSection& s : m_sections) {
    AppendUnit(out, '[');
    AppendEscaped(out, Part::SECTION, m_names.data() + s.nameOffset, s.nameLength);
    AppendAscii(out, "]\r\n");
    for (uint32_t k = s.firstKey; k != NO_INDEX; k = m_keys[k].next) {
      const std::wstring& name = m_keyNames[m_keys[k].name];
      AppendEscaped(out, Part::KEY, name.data(), name.size());
      AppendUnit(out, '=');
      AppendEscaped(out, Part::VALUE, m_keys[k].value.data(), m_keys[k].value.size());
      AppendAscii(out, "\r\n");
    }
  }
  return out;
}

}  // namespace platform
