// The posix private-profile (INI) module: Windows buffer conventions, case
// folding, exact round-trips of every name, safety against names and values
// that look like INI syntax, foreign and cut-off files, changes made by
// others, compaction, and crash and multi-process safety.
//
// The file text is checked with a parser of its own (below), written from
// the format description, so that a fault shared by the module's writer and
// reader cannot hide.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/PrivateProfile.h"
#include "support/TempDir.h"

namespace {

// ---------------------------------------------------------------------------
// An independent reader of the on-disk form.
// ---------------------------------------------------------------------------
struct ParsedFile {
  bool ok = true;
  std::string error;
  bool cutOffTail = false;
  std::vector<std::wstring> order;  // section names, first appearance
  std::map<std::wstring, std::map<std::wstring, std::wstring>> values;
  int headers = 0;
  int comments = 0;
};

std::wstring TestUnescape(const std::wstring& s) {
  std::wstring out;
  for (size_t k = 0; k < s.size(); ++k) {
    if (s[k] == L'\\' && k + 1 < s.size() && (s[k + 1] == L'u' || s[k + 1] == L'U')) {
      const size_t digits = s[k + 1] == L'u' ? 4 : 8;
      if (k + 2 + digits <= s.size()) {
        const std::wstring hex = s.substr(k + 2, digits);
        if (hex.find_first_not_of(L"0123456789ABCDEFabcdef") == std::wstring::npos) {
          const unsigned long c = std::stoul(hex, nullptr, 16);
          if (c != 0) {
            out += static_cast<wchar_t>(c);
            k += 1 + digits;
            continue;
          }
        }
      }
    }
    out += s[k];
  }
  return out;
}

ParsedFile ParseStrict(const std::string& bytes, bool allowCutOffTail) {
  ParsedFile f;
  auto fail = [&](const std::string& why) {
    f.ok = false;
    if (f.error.empty()) f.error = why;
  };
  if (bytes.empty()) return f;
  if (bytes.size() < 2 || static_cast<unsigned char>(bytes[0]) != 0xFF || static_cast<unsigned char>(bytes[1]) != 0xFE) {
    fail("no UTF-16LE byte-order mark");
    return f;
  }
  if (bytes.size() % 2 != 0 && !allowCutOffTail) fail("odd byte count");
  std::wstring text;
  for (size_t k = 2; k + 1 < bytes.size(); k += 2) {
    unsigned long u = static_cast<unsigned char>(bytes[k]) | (static_cast<unsigned char>(bytes[k + 1]) << 8);
    if (u >= 0xD800 && u <= 0xDBFF && k + 3 < bytes.size()) {
      const unsigned long low = static_cast<unsigned char>(bytes[k + 2]) | (static_cast<unsigned char>(bytes[k + 3]) << 8);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
        k += 2;
      }
    }
    text += static_cast<wchar_t>(u);
  }
  std::wstring section;
  bool inSection = false;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t eol = text.find(L"\r\n", pos);
    if (eol == std::wstring::npos) {
      f.cutOffTail = true;
      if (!allowCutOffTail) fail("last line has no CR LF");
      break;
    }
    const std::wstring line = text.substr(pos, eol - pos);
    pos = eol + 2;
    if (line.find_first_of(L"\r\n") != std::wstring::npos) fail("bare CR or LF inside a line");
    if (line.empty()) continue;
    if (line[0] == L';') {
      ++f.comments;
      continue;
    }
    if (line[0] == L'[') {
      if (line.back() != L']' || line.find(L']') != line.size() - 1) {
        fail("malformed section header");
        continue;
      }
      const std::wstring name = TestUnescape(line.substr(1, line.size() - 2));
      ++f.headers;
      if (f.values.find(name) == f.values.end()) f.order.push_back(name);
      f.values[name];
      section = name;
      inSection = true;
      continue;
    }
    const size_t eq = line.find(L'=');
    if (eq == std::wstring::npos || !inSection) {
      fail("a line that is neither a header nor a key in a section");
      continue;
    }
    f.values[section][TestUnescape(line.substr(0, eq))] = TestUnescape(line.substr(eq + 1));
  }
  return f;
}

std::wstring ReadValue(const std::wstring& file, const std::wstring& section, const wchar_t* key = L"ArtistUrl") {
  std::vector<wchar_t> buffer(4096);
  const DWORD n = platform::GetPrivateProfileString(section.c_str(), key, L"<none>", buffer.data(),
                                                    static_cast<DWORD>(buffer.size()), file.c_str());
  return std::wstring(buffer.data(), n);
}

std::vector<std::wstring> SectionNames(const std::wstring& file) {
  std::vector<wchar_t> buffer(1 << 20);
  const DWORD n = platform::GetPrivateProfileSectionNames(buffer.data(), static_cast<DWORD>(buffer.size()), file.c_str());
  std::vector<std::wstring> names;
  for (size_t pos = 0; pos < n && buffer[pos] != 0;) {
    names.emplace_back(buffer.data() + pos);
    pos += names.back().size() + 1;
  }
  return names;
}

bool Write(const std::wstring& file, const std::wstring& section, const std::wstring& value,
           const wchar_t* key = L"ArtistUrl") {
  return platform::WritePrivateProfileString(section.c_str(), key, value.c_str(), file.c_str());
}

std::string Utf16(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>((c >> 8) & 0xFF);
  }
  return out;
}

class PrivateProfileTest : public ::testing::Test {
 protected:
  std::wstring FilePath(const char* name = "A.ini") const { return FromUtf8(m_dir.File(name)); }
  std::string Bytes(const char* name = "A.ini") const { return ReadFileBytes(m_dir.File(name)); }
  CTempDir m_dir;
};

}  // namespace

TEST_F(PrivateProfileTest, CreatesTheFileAndReplacesValues) {
  const std::wstring file = FilePath();
  ASSERT_TRUE(Write(file, L"Abba", L"/one"));
  ASSERT_TRUE(Write(file, L"Queen", L"/q"));
  ASSERT_TRUE(Write(file, L"Abba", L"/two"));
  EXPECT_EQ(ReadValue(file, L"Abba"), L"/two");
  EXPECT_EQ(ReadValue(file, L"abba", L"ARTISTURL"), L"/two");
  EXPECT_EQ(ReadValue(file, L"Abba", L"Other"), L"<none>");
  EXPECT_EQ(SectionNames(file), (std::vector<std::wstring>{L"Abba", L"Queen"}));
  const ParsedFile parsed = ParseStrict(Bytes(), false);
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.order, (std::vector<std::wstring>{L"Abba", L"Queen"}));
  EXPECT_EQ(parsed.values.at(L"Abba").at(L"ArtistUrl"), L"/two");
}

TEST_F(PrivateProfileTest, WritingTheSameValueAgainWritesNothing) {
  const std::wstring file = FilePath();
  ASSERT_TRUE(Write(file, L"Abba", L"/one"));
  const std::string before = Bytes();
  ASSERT_TRUE(Write(file, L"ABBA", L"/one"));
  EXPECT_EQ(Bytes(), before);
}

TEST_F(PrivateProfileTest, MissingFileReadsAsDefaultAndNoSections) {
  const std::wstring file = FilePath("none.ini");
  wchar_t buffer[8];
  std::fill(buffer, buffer + 8, L'x');
  EXPECT_EQ(platform::GetPrivateProfileSectionNames(buffer, 8, file.c_str()), 0u);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(buffer[1], 0);
  EXPECT_EQ(platform::GetPrivateProfileString(L"A", L"k", L"dflt", buffer, 8, file.c_str()), 4u);
  EXPECT_STREQ(buffer, L"dflt");
  EXPECT_FALSE(FileExists(m_dir.File("none.ini")));
  // A directory that does not exist cannot receive a file.
  EXPECT_FALSE(Write(FromUtf8(m_dir.File("no/such/dir.ini")), L"A", L"x"));
}

TEST_F(PrivateProfileTest, BufferConventionsOfTheWindowsCalls) {
  const std::wstring file = FilePath();
  ASSERT_TRUE(Write(file, L"Abc", L"123456789"));
  ASSERT_TRUE(Write(file, L"De", L"x"));
  wchar_t buffer[16];
  EXPECT_EQ(platform::GetPrivateProfileString(L"Abc", L"ArtistUrl", L"", buffer, 5, file.c_str()), 4u);
  EXPECT_STREQ(buffer, L"1234");
  // "Abc\0De\0" is 7 characters; with the final 0 it needs 8.
  EXPECT_EQ(platform::GetPrivateProfileSectionNames(buffer, 8, file.c_str()), 7u);
  EXPECT_EQ(std::wstring(buffer, 8), std::wstring(L"Abc\0De\0\0", 8));
  EXPECT_EQ(platform::GetPrivateProfileSectionNames(buffer, 7, file.c_str()), 5u);  // cut: size - 2
  EXPECT_EQ(std::wstring(buffer, 7), std::wstring(L"Abc\0D\0\0", 7));
  EXPECT_EQ(platform::GetPrivateProfileSectionNames(buffer, 4, file.c_str()), 2u);
  EXPECT_EQ(std::wstring(buffer, 4), std::wstring(L"Ab\0\0", 4));
  // A null section lists the sections; a null key lists the section's keys.
  ASSERT_TRUE(Write(file, L"Abc", L"v", L"Second"));
  EXPECT_EQ(platform::GetPrivateProfileString(L"Abc", nullptr, L"", buffer, 16, file.c_str()), 14u);
  EXPECT_EQ(std::wstring(buffer, 16), std::wstring(L"ArtistUrl\0Seco\0\0", 16));
}

TEST_F(PrivateProfileTest, SectionAndKeyLookupFoldsEveryCasedLetter) {
  const std::wstring file = FilePath();
  ASSERT_TRUE(Write(file, L"Bj\u00F6rk", L"/bjork"));
  ASSERT_TRUE(Write(file, L"\u03A3\u03AF\u03C3\u03C5\u03C6\u03BF\u03C2", L"/sisyfos"));
  ASSERT_TRUE(Write(file, L"\u0414\u0435\u043B\u044C\u0444\u0438\u043D", L"/delfin"));
  EXPECT_EQ(ReadValue(file, L"BJ\u00D6RK"), L"/bjork");
  EXPECT_EQ(ReadValue(file, L"\u03A3\u038A\u03A3\u03A5\u03A6\u039F\u03A3"), L"/sisyfos");
  EXPECT_EQ(ReadValue(file, L"\u0434\u0415\u041B\u042C\u0424\u0418\u041D"), L"/delfin");
  EXPECT_EQ(ReadValue(file, L"Bjork"), L"<none>");  // folding is not accent stripping
  // Writing under another spelling replaces the value and keeps the name.
  ASSERT_TRUE(Write(file, L"BJ\u00D6RK", L"/bjork2"));
  EXPECT_EQ(SectionNames(file).front(), L"Bj\u00F6rk");
  EXPECT_EQ(SectionNames(file).size(), 3u);
  EXPECT_EQ(ReadValue(file, L"bj\u00F6rk"), L"/bjork2");
}

// Names whose characters are equal in their low 18 bits all fell into one
// bucket of the old, fixed section index; every one must still be found, and
// a key written under another case must still find its key.
TEST_F(PrivateProfileTest, NamesThatOnceCollidedAreAllFoundAndListedInOrder) {
  const std::wstring file = FilePath();
  static const wchar_t CHARS[] = {0x40041, 0x80041, 0xC0041, 0x100041};
  std::string bytes("\xFF\xFE", 2);
  std::vector<std::wstring> names;
  for (size_t i = 0; i < 4096; ++i) {
    std::wstring name = L"A";
    for (size_t k = 0, n = i; k < 6; ++k, n /= 4) name += CHARS[n % 4];
    names.push_back(name);
    std::wstring record = L"[" + name + L"]\r\nArtistUrl=/" + std::to_wstring(i) + L"\r\n";
    for (wchar_t c : record) {
      const uint32_t u = static_cast<uint32_t>(c);
      if (u > 0xFFFF)  // a surrogate pair on disk
        bytes += Utf16(std::wstring{static_cast<wchar_t>(0xD800 + ((u - 0x10000) >> 10)),
                                    static_cast<wchar_t>(0xDC00 + ((u - 0x10000) & 0x3FF))});
      else
        bytes += Utf16(std::wstring(1, c));
    }
  }
  WriteFileBytes(m_dir.File("A.ini"), bytes);
  EXPECT_EQ(SectionNames(file), names);
  for (size_t i = 0; i < names.size(); i += 97) EXPECT_EQ(ReadValue(file, names[i]), L"/" + std::to_wstring(i)) << i;
  EXPECT_EQ(ReadValue(file, L"a" + names[5].substr(1)), L"/5");
  EXPECT_EQ(ReadValue(file, L"A" + std::wstring(6, static_cast<wchar_t>(0x41))), L"<none>");
  ASSERT_TRUE(Write(file, names[4095], L"/new"));
  EXPECT_EQ(ReadValue(file, names[4095]), L"/new");
  EXPECT_EQ(SectionNames(file).size(), 4096u);
}

// Many distinct keys in one section, and a distinct key in every section:
// each one reads back, keys list in file order, lookups fold case.
TEST_F(PrivateProfileTest, ManyDistinctKeysAreAllFound) {
  const std::wstring file = FilePath();
  std::wstring text = L"[One]\r\n";
  for (int i = 0; i < 20000; ++i) text += L"Key" + std::to_wstring(i) + L"=v" + std::to_wstring(i) + L"\r\n";
  for (int i = 0; i < 5000; ++i)
    text += L"[S" + std::to_wstring(i) + L"]\r\nk" + std::to_wstring(i) + L"=" + std::to_wstring(i) + L"\r\n";
  text += L"[One]\r\nkey7=again\r\n";  // a later value for an earlier key, in another case
  WriteFileBytes(m_dir.File("A.ini"), std::string("\xFF\xFE", 2) + Utf16(text));
  for (int i = 0; i < 20000; i += 331)
    EXPECT_EQ(ReadValue(file, L"One", (L"KEY" + std::to_wstring(i)).c_str()), i == 7 ? L"again" : L"v" + std::to_wstring(i));
  EXPECT_EQ(ReadValue(file, L"One", L"key7"), L"again");
  EXPECT_EQ(ReadValue(file, L"One", L"Key20000"), L"<none>");
  for (int i = 0; i < 5000; i += 173) {
    EXPECT_EQ(ReadValue(file, L"s" + std::to_wstring(i), (L"K" + std::to_wstring(i)).c_str()), std::to_wstring(i));
    EXPECT_EQ(ReadValue(file, L"S" + std::to_wstring(i), (L"k" + std::to_wstring(i + 1)).c_str()), L"<none>");
  }
  // The key list of a section, in file order, each name as first written.
  std::vector<wchar_t> keys(1 << 20);
  const DWORD n = platform::GetPrivateProfileString(L"one", nullptr, L"", keys.data(), static_cast<DWORD>(keys.size()),
                                                    file.c_str());
  ASSERT_GT(n, 0u);
  std::vector<std::wstring> listed;
  for (size_t pos = 0; pos < n && keys[pos] != 0; pos += listed.back().size() + 1) listed.emplace_back(keys.data() + pos);
  ASSERT_EQ(listed.size(), 20000u);
  EXPECT_EQ(listed[0], L"Key0");
  EXPECT_EQ(listed[7], L"Key7");
  EXPECT_EQ(listed[19999], L"Key19999");
}

TEST_F(PrivateProfileTest, EveryNameRoundTripsAndNothingBecomesAQuestionMark) {
  const std::wstring file = FilePath();
  std::vector<std::wstring> names = {
      L"Plain",
      L"\u5742\u672C\u9F8D\u4E00",
      L"M\U0001F600ji \U00010348",
      L"Tab\there",
      L" leading and trailing ",
      L"back\\slash \\u0041 \\U00000041 \\",
      L"[bracketed]",
      L"a=b",
      L";comment",
      L"line\r\nbreak\rcr\nlf",
      L"\u00A0nbsp\u2028ls",
  };
  if (sizeof(wchar_t) == 4) {
    names.push_back(std::wstring(L"lone ") + static_cast<wchar_t>(0xD800) + L" surrogate");
    names.push_back(std::wstring(L"pair-like ") + static_cast<wchar_t>(0xD83D) + static_cast<wchar_t>(0xDE00));
    names.push_back(std::wstring(L"beyond ") + static_cast<wchar_t>(0x110000));
  }
  for (size_t k = 0; k < names.size(); ++k) ASSERT_TRUE(Write(file, names[k], L"v" + names[k])) << k;
  EXPECT_EQ(SectionNames(file), names);
  for (size_t k = 0; k < names.size(); ++k) EXPECT_EQ(ReadValue(file, names[k]), L"v" + names[k]) << k;

  const ParsedFile parsed = ParseStrict(Bytes(), false);
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.order, names);
  EXPECT_EQ(parsed.headers, static_cast<int>(names.size()));
  EXPECT_EQ(Bytes().find(Utf16(L"?")), std::string::npos);

  // An empty name is a section too, though a list of names, which ends at
  // its first empty entry, cannot show it.
  ASSERT_TRUE(Write(file, L"", L"empty"));
  EXPECT_EQ(ReadValue(file, L""), L"empty");
  EXPECT_EQ(SectionNames(file), names);
}

TEST_F(PrivateProfileTest, NamesAndValuesThatLookLikeSyntaxCannotShadowOthers) {
  const std::wstring file = FilePath();
  ASSERT_TRUE(Write(file, L"Abba", L"/good"));
  ASSERT_TRUE(Write(file, L"X]\r\n[Abba]\r\nArtistUrl=/evil", L"/x"));
  ASSERT_TRUE(Write(file, L"Y", L"/y\r\n[Abba]\r\nArtistUrl=/evil2\r\n"));
  ASSERT_TRUE(Write(file, L"Z", L"/z", L"ArtistUrl=/evil3\r\n[Abba"));
  EXPECT_EQ(ReadValue(file, L"Abba"), L"/good");
  EXPECT_EQ(ReadValue(file, L"Y"), L"/y\r\n[Abba]\r\nArtistUrl=/evil2\r\n");
  EXPECT_EQ(ReadValue(file, L"Z", L"ArtistUrl=/evil3\r\n[Abba"), L"/z");
  EXPECT_EQ(ReadValue(file, L"Z"), L"<none>");
  EXPECT_EQ(SectionNames(file).size(), 4u);
  const ParsedFile parsed = ParseStrict(Bytes(), false);
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.headers, 4);
  EXPECT_EQ(parsed.values.at(L"Abba").size(), 1u);
}

TEST_F(PrivateProfileTest, ForeignUtf8FileIsReadAndRewrittenInOurEncodingOnWrite) {
  const std::wstring file = FilePath();
  WriteFileBytes(m_dir.File("A.ini"),
                 "; made by hand\n[Bj\xC3\xB6rk]\nArtistUrl=/bjork\n\n[Abba]\r\n  ArtistUrl =/abba\r\nstray line\n");
  EXPECT_EQ(ReadValue(file, L"bj\u00F6rk"), L"/bjork");
  EXPECT_EQ(ReadValue(file, L"Abba"), L"/abba");
  ASSERT_TRUE(Write(file, L"Cher", L"/cher"));
  const ParsedFile parsed = ParseStrict(Bytes(), false);
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.order, (std::vector<std::wstring>{L"Bj\u00F6rk", L"Abba", L"Cher"}));
  EXPECT_EQ(parsed.values.at(L"Abba").at(L"ArtistUrl"), L"/abba");
}

// Found by the cache file fuzz program: a NUL read from a damaged file split
// a section name in the list, cut a value short, and came back as the text
// "\u0000" after the file was rewritten.
TEST_F(PrivateProfileTest, NulCharactersInADamagedFileAreDroppedAndNeverRewrittenAsText) {
  const std::wstring file = FilePath();
  const char utf8[] = "[Ab\0ba]\nArtistUrl=/a\0bba\n";
  WriteFileBytes(m_dir.File("A.ini"), std::string(utf8, sizeof utf8 - 1));
  EXPECT_EQ(SectionNames(file), (std::vector<std::wstring>{L"Abba"}));
  EXPECT_EQ(ReadValue(file, L"Abba"), L"/abba");
  ASSERT_TRUE(Write(file, L"Cher", L"/cher"));  // rewrites the file as UTF-16
  const ParsedFile parsed = ParseStrict(Bytes(), false);
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.order, (std::vector<std::wstring>{L"Abba", L"Cher"}));
  EXPECT_EQ(parsed.values.at(L"Abba").at(L"ArtistUrl"), L"/abba");

  const wchar_t utf16[] = L"[X\0y]\r\nk=v\0w\r\n";
  WriteFileBytes(m_dir.File("B.ini"), std::string("\xFF\xFE", 2) + Utf16(std::wstring(utf16, sizeof utf16 / sizeof utf16[0] - 1)));
  EXPECT_EQ(SectionNames(FilePath("B.ini")), (std::vector<std::wstring>{L"Xy"}));
  EXPECT_EQ(ReadValue(FilePath("B.ini"), L"Xy", L"k"), L"vw");
}

TEST_F(PrivateProfileTest, CutOffLastLineIsIgnoredAndRemovedByTheNextWrite) {
  const std::wstring file = FilePath();
  ASSERT_TRUE(Write(file, L"Abba", L"/abba"));
  // Another writer died in the middle of its record.
  WriteFileBytes(m_dir.File("A.ini"), Bytes() + Utf16(L"[Hal"));
  EXPECT_EQ(SectionNames(file), (std::vector<std::wstring>{L"Abba"}));
  ASSERT_TRUE(Write(file, L"Cher", L"/cher"));
  const ParsedFile parsed = ParseStrict(Bytes(), false);
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.order, (std::vector<std::wstring>{L"Abba", L"Cher"}));
}

TEST_F(PrivateProfileTest, ChangesMadeByOthersAreSeen) {
  const std::wstring file = FilePath();
  ASSERT_TRUE(Write(file, L"Abba", L"/abba"));
  EXPECT_EQ(ReadValue(file, L"Abba"), L"/abba");  // the image is cached now

  // Appended by another process.
  WriteFileBytes(m_dir.File("A.ini"), Bytes() + Utf16(L"[Cher]\r\nArtistUrl=/cher\r\n"));
  EXPECT_EQ(ReadValue(file, L"Cher"), L"/cher");

  // Rewritten in place by another program: longer, different from the start.
  const std::string other = std::string("\xFF\xFE", 2) + Utf16(L"[Zappa]\r\nArtistUrl=/zappa/" + std::wstring(80, L'z') + L"\r\n[Cher]\r\nArtistUrl=/cher2\r\n");
  ASSERT_GT(other.size(), Bytes().size());
  WriteFileBytes(m_dir.File("A.ini"), other);
  EXPECT_EQ(SectionNames(file), (std::vector<std::wstring>{L"Zappa", L"Cher"}));
  EXPECT_EQ(ReadValue(file, L"Abba"), L"<none>");

  // Replaced by another file.
  WriteFileBytes(m_dir.File("B.ini"), std::string("\xFF\xFE", 2) + Utf16(L"[Queen]\r\nArtistUrl=/q\r\n"));
  ASSERT_EQ(std::rename(m_dir.File("B.ini").c_str(), m_dir.File("A.ini").c_str()), 0);
  EXPECT_EQ(SectionNames(file), (std::vector<std::wstring>{L"Queen"}));

  // Deleted.
  ASSERT_EQ(::unlink(m_dir.File("A.ini").c_str()), 0);
  EXPECT_TRUE(SectionNames(file).empty());
  ASSERT_TRUE(Write(file, L"New", L"/new"));
  EXPECT_EQ(SectionNames(file), (std::vector<std::wstring>{L"New"}));
}

TEST_F(PrivateProfileTest, ReplacedValuesAreCompactedAwayKeepingOrderAndLatestValues) {
  const std::wstring file = FilePath();
  const std::wstring pad(40, L'p');
  for (int round = 0; round < 30; ++round)
    for (int k = 0; k < 100; ++k)
      ASSERT_TRUE(Write(file, L"Name " + std::to_wstring(k), L"/" + std::to_wstring(round) + pad));
  const ParsedFile parsed = ParseStrict(Bytes(), false);
  ASSERT_TRUE(parsed.ok) << parsed.error;
  ASSERT_EQ(parsed.order.size(), 100u);
  for (int k = 0; k < 100; ++k) {
    EXPECT_EQ(parsed.order[k], L"Name " + std::to_wstring(k));
    EXPECT_EQ(parsed.values.at(parsed.order[k]).at(L"ArtistUrl"), L"/29" + pad);
  }
  // 100 live records of about 150 bytes; without compaction 3000 of them.
  EXPECT_LT(Bytes().size(), 100u * 150u * 3u);
  EXPECT_EQ(m_dir.List(), (std::vector<std::string>{"A.ini"}));  // no temporary left behind
}

TEST_F(PrivateProfileTest, RandomOperationsAgreeWithAModel) {
  const std::wstring file = FilePath();
  const std::wstring alphabet = L"aAbB \u00F6\u00D6[]=;\\u\r\n\U0001F3B8x";
  std::mt19937 rng(77);
  auto randomText = [&](int maxLength) {
    std::wstring t;
    for (int k = static_cast<int>(rng() % (maxLength + 1)); k > 0; --k) t += alphabet[rng() % alphabet.size()];
    return t;
  };
  // Distinct numbers keep any two names apart under case folding.
  std::vector<std::wstring> names;
  for (int k = 0; k < 120; ++k) names.push_back(randomText(3) + std::to_wstring(k) + L"#" + randomText(4));
  std::map<size_t, std::wstring> model;
  std::vector<std::wstring> order;
  for (int op = 0; op < 1500; ++op) {
    const size_t k = rng() % names.size();
    const std::wstring value = randomText(12);
    if (model.find(k) == model.end()) order.push_back(names[k]);
    model[k] = value;
    ASSERT_TRUE(Write(file, names[k], value));
  }
  EXPECT_EQ(SectionNames(file), order);
  for (const auto& entry : model) EXPECT_EQ(ReadValue(file, names[entry.first]), entry.second);
  const ParsedFile parsed = ParseStrict(Bytes(), false);
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.order, order);
  for (const auto& entry : model) EXPECT_EQ(parsed.values.at(names[entry.first]).at(L"ArtistUrl"), entry.second);
}

TEST_F(PrivateProfileTest, RewriteWithTheSameInodeSizeAndTimeIsStillSeen) {
  // Inode numbers are reused and modification times move in coarse ticks, so
  // a different text can carry the same file stamp; the generation line
  // tells the two apart.
  const std::wstring file = FilePath();
  ASSERT_TRUE(Write(file, L"Abba", L"/abba1"));
  EXPECT_EQ(ReadValue(file, L"Abba"), L"/abba1");
  const std::string path = m_dir.File("A.ini");
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  std::string bytes = ReadFileBytes(path);
  const std::string from = Utf16(L"/abba1"), to = Utf16(L"/abba2");
  const size_t at = bytes.find(from);
  ASSERT_NE(at, std::string::npos);
  bytes.replace(at, from.size(), to);
  // Another writer's rewrite: a fresh generation line, same length.
  const size_t gen = bytes.find(Utf16(L"; generation "));
  ASSERT_EQ(gen, 2u);
  bytes[gen + 2 * 13] = bytes[gen + 2 * 13] == '0' ? '1' : '0';
  {
    std::FILE* f = std::fopen(path.c_str(), "r+b");  // same inode
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
  }
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  ASSERT_EQ(after.st_ino, before.st_ino);
  ASSERT_EQ(after.st_size, before.st_size);
  EXPECT_EQ(ReadValue(file, L"Abba"), L"/abba2");
}

// A batch must give what the same writes made one by one give: the same
// section list (order and first spelling), the same values (the later of
// two writes to one key wins, also within a batch), names and values that
// look like INI syntax kept apart, unchanged values skipped, and a
// malformed entry failing alone.
TEST_F(PrivateProfileTest, BatchAgreesWithTheSameWritesMadeOneByOne) {
  const std::wstring batched = FilePath("A.ini"), single = FilePath("B.ini");
  const std::wstring alphabet = L"aAbB \u00F6\u00D6[]=;\\u\r\n\U0001F3B8x";
  std::mt19937 rng(2024);
  auto randomText = [&](int maxLength) {
    std::wstring t;
    for (int k = static_cast<int>(rng() % (maxLength + 1)); k > 0; --k) t += alphabet[rng() % alphabet.size()];
    return t;
  };
  std::vector<std::wstring> names;
  for (int k = 0; k < 60; ++k) names.push_back(randomText(3) + std::to_wstring(k) + L"#" + randomText(4));
  names.push_back(L"X]\r\n[Abba]\r\nArtistUrl=/evil");
  names.push_back(L"Abba");
  names.push_back(L"ABBA");  // the same section as "Abba", spelt otherwise
  const std::wstring pad(30, L'p');
  for (int round = 0; round < 40; ++round) {
    std::vector<std::wstring> sections, keys, values;
    const int size = static_cast<int>(rng() % 40);
    for (int k = 0; k < size; ++k) {
      sections.push_back(names[rng() % names.size()]);
      keys.push_back(rng() % 4 == 0 ? L"Other" : L"ArtistUrl");
      values.push_back(rng() % 3 == 0 ? L"/same" : L"/" + randomText(6) + pad);
    }
    std::vector<platform::CProfileWrite> batch(sections.size());
    for (size_t k = 0; k < batch.size(); ++k) {
      batch[k].section = sections[k].c_str();
      batch[k].key = keys[k].c_str();
      batch[k].value = values[k].c_str();
      ASSERT_TRUE(Write(single, sections[k], values[k], keys[k].c_str()));
    }
    ASSERT_TRUE(platform::WritePrivateProfileStrings(batch.data(), batch.size(), batched.c_str()));
    for (const platform::CProfileWrite& w : batch) EXPECT_TRUE(w.written);
  }
  const std::vector<std::wstring> order = SectionNames(single);
  ASSERT_EQ(SectionNames(batched), order);
  for (const std::wstring& name : order) {
    EXPECT_EQ(ReadValue(batched, name), ReadValue(single, name));
    EXPECT_EQ(ReadValue(batched, name, L"Other"), ReadValue(single, name, L"Other"));
  }
  const ParsedFile a = ParseStrict(Bytes("A.ini"), false), b = ParseStrict(Bytes("B.ini"), false);
  ASSERT_TRUE(a.ok) << a.error;
  EXPECT_EQ(a.order, b.order);
  EXPECT_EQ(a.values, b.values);

  // A batch of values already stored writes nothing.
  const std::string before = Bytes("A.ini");
  platform::CProfileWrite again;
  again.section = L"abba";
  again.key = L"ArtistUrl";
  const std::wstring stored = ReadValue(batched, L"Abba");
  again.value = stored.c_str();
  ASSERT_TRUE(platform::WritePrivateProfileStrings(&again, 1, batched.c_str()));
  EXPECT_EQ(Bytes("A.ini"), before);

  // A malformed entry fails alone; the others are written.
  platform::CProfileWrite mixed[3];
  mixed[0].section = L"First";
  mixed[0].key = L"ArtistUrl";
  mixed[0].value = L"/1";
  mixed[1].section = L"Broken";
  mixed[1].key = L"ArtistUrl";
  mixed[2].section = L"Last";
  mixed[2].key = L"ArtistUrl";
  mixed[2].value = L"/3";
  EXPECT_FALSE(platform::WritePrivateProfileStrings(mixed, 3, batched.c_str()));
  EXPECT_TRUE(mixed[0].written);
  EXPECT_FALSE(mixed[1].written);
  EXPECT_TRUE(mixed[2].written);
  EXPECT_EQ(ReadValue(batched, L"First"), L"/1");
  EXPECT_EQ(ReadValue(batched, L"Broken"), L"<none>");
  EXPECT_EQ(ReadValue(batched, L"Last"), L"/3");
}

TEST_F(PrivateProfileTest, BatchIntoAForeignUtf8FileRewritesItOnceInOurEncoding) {
  const std::wstring file = FilePath();
  WriteFileBytes(m_dir.File("A.ini"), "[Bj\xC3\xB6rk]\nArtistUrl=/bjork\n");
  platform::CProfileWrite batch[3];
  const wchar_t* sections[3] = {L"Cher", L"BJ\u00D6RK", L"Cher"};
  const wchar_t* values[3] = {L"/cher1", L"/bjork2", L"/cher2"};
  for (int k = 0; k < 3; ++k) {
    batch[k].section = sections[k];
    batch[k].key = L"ArtistUrl";
    batch[k].value = values[k];
  }
  ASSERT_TRUE(platform::WritePrivateProfileStrings(batch, 3, file.c_str()));
  const ParsedFile parsed = ParseStrict(Bytes(), false);
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.order, (std::vector<std::wstring>{L"Bj\u00F6rk", L"Cher"}));
  EXPECT_EQ(parsed.values.at(L"Bj\u00F6rk").at(L"ArtistUrl"), L"/bjork2");
  EXPECT_EQ(parsed.values.at(L"Cher").at(L"ArtistUrl"), L"/cher2");
}
