// The private-profile (INI) contract every backend keeps (the posix module
// of our own and Kernel32 behind the Windows backend): Windows buffer
// conventions, case folding, exact round-trips of every name, safety
// against names and values that look like INI syntax, changes made by
// others, and batches that agree with single writes. The same file is built
// into the Linux and the Windows test programs.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "platform/PrivateProfile.h"
#include "platform/PrivateProfileTestSupport.h"
#include "support/TempDir.h"

using namespace profile_test;

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
  std::error_code error;
  std::filesystem::rename(std::filesystem::u8path(m_dir.File("B.ini")), std::filesystem::u8path(m_dir.File("A.ini")),
                          error);
  ASSERT_FALSE(error) << error.message();
  EXPECT_EQ(SectionNames(file), (std::vector<std::wstring>{L"Queen"}));

  // Deleted.
  ASSERT_TRUE(std::filesystem::remove(std::filesystem::u8path(m_dir.File("A.ini"))));
  EXPECT_TRUE(SectionNames(file).empty());
  ASSERT_TRUE(Write(file, L"New", L"/new"));
  EXPECT_EQ(SectionNames(file), (std::vector<std::wstring>{L"New"}));
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
