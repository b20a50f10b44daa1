// CProfileImage: the parsed, indexed content of one INI file, for the posix
// private-profile backend, plus the text form of the file.
//
// On-disk form (what WritePrivateProfileString produces and the parser
// reads):
//   - UTF-16LE with the byte-order mark FF FE, lines ended by CR LF. Every
//     character round-trips; characters above U+FFFF are surrogate pairs.
//     A file without that mark is read as UTF-8 (files made by other tools).
//   - "[name]" opens a section, "key=value" sets a key in it, lines starting
//     with ';' and blank lines are ignored, as are lines that are neither.
//   - Characters that would break a line's structure are escaped as "\uXXXX"
//     (or "\UXXXXXXXX" above U+FFFF): in section names '\' '[' ']' '=' ';'
//     CR LF; in keys '\' '[' '=' ';' CR LF and blanks or tabs at either
//     end; in values '\' CR LF. Surrogate code points and values beyond
//     U+10FFFF are escaped everywhere. A '\' not followed by a well-formed
//     escape is read literally.
//   - A section may appear more than once: its keys are merged and a later
//     value replaces an earlier one. Section names are listed once, in the
//     order of their first appearance, spelt as they first appeared.
//   - A last line without its line break is incomplete (a write cut short)
//     and is ignored.
//   - A NUL character (only a damaged file or another tool can hold one; no
//     name or value passed in can) is dropped where it is read, so that it
//     cannot split a name in the section list or turn into the text
//     "\u0000" when the file is rewritten.
//
// Section and key names compare by Unicode simple case folding.
//
// Cost: names come from pages and damaged files, so no index may have a
// worst case that chosen names can reach. Sections, distinct key names and
// the keys of each section are found through hash tables keyed with a
// per-process random seed, and a table whose probe runs grow long is
// enlarged; parsing is linear in the file for any mix of names.
//
// Ownership: plain value object. Failure: only std::bad_alloc.
// Threads: one thread at a time (the backend serialises).
#ifndef VERSEWELL_PLATFORM_POSIX_PROFILE_IMAGE_H
#define VERSEWELL_PLATFORM_POSIX_PROFILE_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

class CProfileImage {
 public:
  enum class Encoding { EMPTY, UTF16LE, UTF8 };
  static constexpr uint32_t NO_INDEX = 0xFFFFFFFFu;

  CProfileImage() { Reset(); }

  // Forgets everything: the image of an empty file.
  void Reset();
  // Parses `size` bytes that start at file offset `offset`, which must be
  // ValidEnd() (0 for a whole file). Bytes after the last line break are
  // left for a later call.
  void Parse(const char* data, size_t size, uint64_t offset);

  // The byte offset just past the last complete line.
  uint64_t ValidEnd() const { return m_validEnd; }
  Encoding GetEncoding() const { return m_encoding; }

  uint32_t FindSection(const wchar_t* name, size_t length) const;
  // Value of `key` in section `index`; null when absent.
  const std::wstring* FindValue(uint32_t section, const wchar_t* key, size_t keyLength) const;
  // Sets a value as if the line had been parsed (no file access).
  void SetValue(const wchar_t* section, size_t sectionLength, const wchar_t* key, size_t keyLength,
                const wchar_t* value, size_t valueLength);

  size_t SectionCount() const { return m_sections.size(); }
  // The name of section `index` as it first appeared (not terminated).
  const wchar_t* SectionName(uint32_t index, size_t& length) const {
    length = m_sections[index].nameLength;
    return m_names.data() + m_sections[index].nameOffset;
  }
  // Every section name followed by 0, in file order (no final extra 0).
  const std::vector<wchar_t>& NamesBlock() const { return m_names; }
  // Names of the keys of a section, each followed by 0.
  std::vector<wchar_t> KeyNames(uint32_t section) const;

  // Keeps only the section named `name` (compared as section names are):
  // while set, the lines of every other section are passed over without
  // being indexed, so one value can be read from a large file at the cost of
  // reading its lines. Lasts across Parse and Reset; null indexes every
  // section again.
  void SetSectionFilter(const wchar_t* name, size_t length) {
    m_bFiltered = name != nullptr;
    m_filter.assign(name != nullptr ? name : L"", name != nullptr ? length : 0);
  }

  // Values replaced since the image was built from a compact file, and the
  // values that are live: the measure of how much a rewrite would save.
  size_t SupersededCount() const { return m_superseded; }
  size_t LiveCount() const { return m_keys.size(); }

  // The file text of one key assignment: "[section]" CR LF "key=value" CR LF,
  // escaped, as UTF-16LE (with the byte-order mark when `withBom`).
  static std::string FormatRecord(const wchar_t* section, size_t sectionLength, const wchar_t* key,
                                  size_t keyLength, const wchar_t* value, size_t valueLength, bool withBom);
  // The whole file text of this image in compact form (each section once).
  std::string FormatCompact() const;

  static const char BOM[2];

 private:
  struct CKey {
    uint32_t name;     // into m_keyNames
    uint32_t section;  // into m_sections
    uint32_t next;     // next key of the same section, NO_INDEX at the end
    std::wstring value;
  };
  struct CSection {
    uint32_t nameOffset;  // into m_names
    uint32_t nameLength;
    uint32_t firstKey;
    uint32_t lastKey;
    uint64_t hash;
  };

  void ParseLine(const wchar_t* p, const wchar_t* end);
  uint32_t FindSection(const wchar_t* name, size_t length, uint64_t hash) const;
  uint32_t AddSection(const wchar_t* name, size_t length, uint64_t hash);
  bool SameName(const CSection& s, const wchar_t* name, size_t length) const;
  uint32_t FindKeyName(const wchar_t* key, size_t length, uint64_t hash) const;
  uint32_t AddKeyName(const wchar_t* key, size_t length, uint64_t hash);
  uint64_t KeyHash(uint32_t section, uint32_t name) const;
  void SetKey(uint32_t section, const wchar_t* key, size_t keyLength, const wchar_t* value, size_t valueLength);
  uint32_t FindKey(uint32_t section, const wchar_t* key, size_t length) const;

  Encoding m_encoding;
  uint64_t m_validEnd;
  uint32_t m_current;  // section the next key lines belong to
  std::vector<wchar_t> m_names;
  std::vector<CSection> m_sections;
  std::vector<CKey> m_keys;
  std::vector<std::wstring> m_keyNames;  // distinct key names
  std::vector<uint64_t> m_keyNameHashes;
  // Open addressing, each slot an index + 1 (0 = free), size a power of two:
  std::vector<uint32_t> m_slots;         // sections, by folded name
  std::vector<uint32_t> m_keyNameSlots;  // m_keyNames, by folded name
  std::vector<uint32_t> m_keySlots;      // m_keys, by (section, key name)
  size_t m_superseded;
  // Scratch text for the parser, kept to spare allocations.
  std::wstring m_scratchName, m_scratchKey, m_scratchValue;
  bool m_bFiltered = false;
  std::wstring m_filter;
};

}  // namespace platform

#endif  // VERSEWELL_PLATFORM_POSIX_PROFILE_IMAGE_H
