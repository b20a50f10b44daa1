#include "platform/posix/ProfileImage.h"

#include <unicode/uchar.h>

#include <cstring>

#include "platform/ProfileEscape.h"

namespace platform {
namespace {

typedef ProfilePart Part;

inline bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

inline uint32_t FoldChar(wchar_t wc) {
  const uint32_t c = static_cast<uint32_t>(wc);
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 0x20 : c;
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return c;
  return static_cast<uint32_t>(u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT));
}

uint32_t HashName(const wchar_t* p, size_t length) {
  uint32_t h = 2166136261u;
  for (size_t k = 0; k < length; ++k) {
    h ^= FoldChar(p[k]);
    h *= 16777619u;
  }
  return h;
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
  m_slots.assign(64, 0);
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
      else
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
    else
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
    const uint32_t hash = HashName(m_scratchName.data(), m_scratchName.size());
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

uint32_t CProfileImage::FindSection(const wchar_t* name, size_t length, uint32_t hash) const {
  const size_t mask = m_slots.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    const uint32_t slot = m_slots[i];
    if (slot == 0) return NO_INDEX;
    const CSection& s = m_sections[slot - 1];
    if (s.hash == hash && SameName(s, name, length)) return slot - 1;
  }
}

uint32_t CProfileImage::AddSection(const wchar_t* name, size_t length, uint32_t hash) {
  if ((m_sections.size() + 1) * 2 > m_slots.size()) Rehash(m_slots.size() * 2);
  CSection s;
  s.nameOffset = static_cast<uint32_t>(m_names.size());
  s.nameLength = static_cast<uint32_t>(length);
  s.firstKey = NO_INDEX;
  s.hash = hash;
  m_names.insert(m_names.end(), name, name + length);
  m_names.push_back(L'\0');
  m_sections.push_back(s);
  const uint32_t index = static_cast<uint32_t>(m_sections.size() - 1);
  const size_t mask = m_slots.size() - 1;
  size_t i = hash & mask;
  while (m_slots[i] != 0) i = (i + 1) & mask;
  m_slots[i] = index + 1;
  return index;
}

void CProfileImage::Rehash(size_t slots) {
  m_slots.assign(slots, 0);
  const size_t mask = slots - 1;
  for (uint32_t index = 0; index < m_sections.size(); ++index) {
    size_t i = m_sections[index].hash & mask;
    while (m_slots[i] != 0) i = (i + 1) & mask;
    m_slots[i] = index + 1;
  }
}

uint32_t CProfileImage::FindKeyName(const wchar_t* key, size_t length) const {
  for (uint32_t k = 0; k < m_keyNames.size(); ++k)
    if (FoldEqual(m_keyNames[k].data(), m_keyNames[k].size(), key, length)) return k;
  return NO_INDEX;
}

uint32_t CProfileImage::FindKey(uint32_t section, const wchar_t* key, size_t length) const {
  const uint32_t name = FindKeyName(key, length);
  if (name == NO_INDEX) return NO_INDEX;
  for (uint32_t k = m_sections[section].firstKey; k != NO_INDEX; k = m_keys[k].next)
    if (m_keys[k].name == name) return k;
  return NO_INDEX;
}

const std::wstring* CProfileImage::FindValue(uint32_t section, const wchar_t* key, size_t keyLength) const {
  if (section >= m_sections.size()) return nullptr;
  const uint32_t k = FindKey(section, key, keyLength);
  return k == NO_INDEX ? nullptr : &m_keys[k].value;
}

void CProfileImage::SetValue(const wchar_t* section, size_t sectionLength, const wchar_t* key, size_t keyLength,
                             const wchar_t* value, size_t valueLength) {
  const uint32_t hash = HashName(section, sectionLength);
  uint32_t s = FindSection(section, sectionLength, hash);
  if (s == NO_INDEX) s = AddSection(section, sectionLength, hash);
  SetKey(s, key, keyLength, value, valueLength);
}

void CProfileImage::SetKey(uint32_t s, const wchar_t* key, size_t keyLength, const wchar_t* value,
                           size_t valueLength) {
  const uint32_t existing = FindKey(s, key, keyLength);
  if (existing != NO_INDEX) {
    m_keys[existing].value.assign(value, valueLength);
    ++m_superseded;
    return;
  }
  uint32_t name = FindKeyName(key, keyLength);
  if (name == NO_INDEX) {
    m_keyNames.emplace_back(key, keyLength);
    name = static_cast<uint32_t>(m_keyNames.size() - 1);
  }
  CKey entry;
  entry.name = name;
  entry.next = NO_INDEX;
  entry.value.assign(value, valueLength);
  m_keys.push_back(std::move(entry));
  const uint32_t index = static_cast<uint32_t>(m_keys.size() - 1);
  uint32_t* link = &m_sections[s].firstKey;
  while (*link != NO_INDEX) link = &m_keys[*link].next;
  *link = index;
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
