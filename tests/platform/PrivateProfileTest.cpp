// The posix private-profile (INI) module beyond the contract every backend
// keeps (tests/platform/PrivateProfileContractTest.cpp): names beyond 16
// bits, foreign and cut-off files, a section repeated later in the file (as
// appended records give it), compaction, and rewrites the file stamp cannot
// tell apart. Crash and multi-process safety are in
// PrivateProfileProcessTest.cpp.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/PrivateProfile.h"
#include "platform/PrivateProfileTestSupport.h"
#include "support/TempDir.h"

using namespace profile_test;

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

// The first read of a file reads one value without indexing the file; every
// later read uses the full image. Both must give the same answer on files
// with everything the parser has rules for: a section repeated under another
// case (keys merged, the later value wins), escapes in names and values,
// blanks around keys, a header without its ']' (its keys belong nowhere),
// keys before any section, a NUL, surrogate pairs and a cut-off last line.
TEST_F(PrivateProfileTest, FirstReadOfAFileAgreesWithTheFullImage) {
  static const wchar_t TEXT[] =
      L"; comment\r\norphan=/none\r\n[Abba]\r\nArtistUrl=/abba1\r\nOther=x\r\n"
      L"[Cher]\r\n  ArtistUrl  =/cher\r\n[ABBA]\r\nartisturl=/abba2\r\n"
      L"[Broken\r\nArtistUrl=/broken\r\n[Sl\\u005Cash]\r\nArtistUrl=/a\\u000D\\u000Ab\r\n"
      L"[Ni\0l]\r\nArtistUrl=/n\0il\r\n[\U0001F3B5 Note]\r\nArtistUrl=/note\r\n"
      L"[Dup]\r\nArtistUrl=/one\r\n[Tail]\r\nArtistUrl=/cut";
  const std::wstring body(TEXT, sizeof TEXT / sizeof TEXT[0] - 1);  // with its NULs
  const std::vector<std::pair<std::wstring, std::wstring>> queries = {
      {L"abba", L"/abba2"},     {L"Cher", L"/cher"},         {L"Broken", L"<none>"},
      {L"Sl\\ash", L"/a\r\nb"}, {L"Nil", L"/nil"},           {L"\U0001F3B5 note", L"/note"},
      {L"Dup", L"/one"},        {L"Tail", L"<none>"},        {L"Missing", L"<none>"},
  };
  std::wstring onDisk;
  for (wchar_t c : body) {
    const uint32_t u = static_cast<uint32_t>(c);
    if (u > 0xFFFF) {
      onDisk += static_cast<wchar_t>(0xD800 + ((u - 0x10000) >> 10));
      onDisk += static_cast<wchar_t>(0xDC00 + ((u - 0x10000) & 0x3FF));
    } else {
      onDisk += c;
    }
  }
  for (size_t i = 0; i < queries.size(); ++i) {
    const std::string name = "first" + std::to_string(i) + ".ini";
    WriteFileBytes(m_dir.File(name), std::string("\xFF\xFE", 2) + Utf16(onDisk));
    const std::wstring file = FilePath(name.c_str());
    EXPECT_EQ(ReadValue(file, queries[i].first), queries[i].second) << "first read, " << i;
    EXPECT_EQ(ReadValue(file, queries[i].first), queries[i].second) << "full image, " << i;
    EXPECT_EQ(ReadValue(file, L"Abba", L"Other"), L"x") << i;
  }
}
