// The text file reader: UTF-16LE and ANSI line reading, long lines, carriage
// returns, the byte-order mark on reading, seeking and writing, and failures.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "diag/StdioFileEx.h"
#include "support/FailingFileIo.h"
#include "support/FakeAnsiCodePage.h"
#include "support/TempDir.h"

namespace {

std::string Utf16Le(const std::u16string& units, bool withMark) {
  std::string bytes = withMark ? std::string("\xFF\xFE", 2) : std::string();
  for (char16_t u : units) {
    bytes += static_cast<char>(u & 0xFF);
    bytes += static_cast<char>(u >> 8);
  }
  return bytes;
}

std::u16string U16(const std::wstring& text) {
  std::u16string out;
  for (wchar_t c : text) {
    uint32_t v = static_cast<uint32_t>(c);
    if (v > 0xFFFF) {
      v -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (v >> 10));
      out += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    } else {
      out += static_cast<char16_t>(v);
    }
  }
  return out;
}

std::vector<std::wstring> ReadAll(CStdioFileEx& file) {
  std::vector<std::wstring> lines;
  CString line;
  while (file.ReadString(line)) lines.push_back(line.Str());
  EXPECT_TRUE(line.IsEmpty()) << "the end of the file empties the out string";
  return lines;
}

std::vector<std::wstring> ReadFile(const std::string& path) {
  CStdioFileEx file;
  EXPECT_TRUE(file.Open(FromUtf8(path).c_str(), CFile::typeText));
  return ReadAll(file);
}

class StdioFileExTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    std::string path = m_dir.File(name);
    WriteFileBytes(path, bytes);
    return path;
  }
  CTempDir m_dir;
};

}  // namespace

TEST_F(StdioFileExTest, Utf16FileWithMarkReadsLinesWithoutMarkOrLineBreaks) {
  std::string path = Write("u.txt", Utf16Le(U16(L"first\r\nsecond \x1F3B5 \x00E9\r\n\r\nlast"), true));
  CStdioFileEx file;
  ASSERT_TRUE(file.Open(FromUtf8(path).c_str(), CFile::typeText));
  EXPECT_TRUE(file.IsFileUnicodeText());
  // The surrogate pair on disk becomes one character.
  std::vector<std::wstring> expected = {L"first", L"second \x1F3B5 \x00E9", L"", L"last"};
  EXPECT_EQ(ReadAll(file), expected);
  CString again(L"stale");
  EXPECT_FALSE(file.ReadString(again));
  EXPECT_TRUE(again.IsEmpty());
}

TEST_F(StdioFileExTest, FileWithoutMarkIsReadInTheSystemAnsiCodePage) {
  std::string path = Write("a.txt", std::string("alpha\r\nbeta\ncaf\xE9\n"));
  {
    ScopedFakeAnsiCodePage ansi(1252, 1252);
    CStdioFileEx file;
    ASSERT_TRUE(file.Open(FromUtf8(path).c_str(), CFile::typeText));
    EXPECT_FALSE(file.IsFileUnicodeText());
    std::vector<std::wstring> expected = {L"alpha", L"beta", L"caf\x00E9"};
    EXPECT_EQ(ReadAll(file), expected);
  }
  {
    // The same byte in another system code page is another character.
    ScopedFakeAnsiCodePage ansi(1251, 1252);
    EXPECT_EQ(ReadFile(path).back(), L"caf\x0439");
  }
}

TEST_F(StdioFileExTest, LastLineWithoutLineFeedIsReturnedThenTheEnd) {
  std::string wide = Write("w.txt", Utf16Le(U16(L"one\r\ntwo"), true));
  std::string narrow = Write("n.txt", "one\r\ntwo");
  std::vector<std::wstring> expected = {L"one", L"two"};
  EXPECT_EQ(ReadFile(wide), expected);
  EXPECT_EQ(ReadFile(narrow), expected);
}

TEST_F(StdioFileExTest, LongLinesAreReturnedWholeAcrossBufferBoundaries) {
  for (size_t length : {4094u, 4095u, 4096u, 4097u, 4224u, 10000u, 70000u}) {
    std::wstring line;
    for (size_t i = 0; i < length; ++i) line += static_cast<wchar_t>(L'a' + i % 26);
    std::wstring text = line + L"\r\nshort\r\n" + line;
    std::vector<std::wstring> expected = {line, L"short", line};
    EXPECT_EQ(ReadFile(Write("w.txt", Utf16Le(U16(text), true))), expected) << length;
    EXPECT_EQ(ReadFile(Write("n.txt", ToUtf8(text))), expected) << length;
  }
  // A line of characters outside the basic plane: two code units each.
  std::wstring pairs(5000, L'\x1F3B5');
  EXPECT_EQ(ReadFile(Write("p.txt", Utf16Le(U16(pairs + L"\r\n"), true))), std::vector<std::wstring>{pairs});
}

TEST_F(StdioFileExTest, OnlyOneCarriageReturnBeforeTheLineFeedIsDropped) {
  std::wstring text = L"two\r\r\ninner\rcr\r\n\r\nend\r";
  std::vector<std::wstring> expected = {L"two\r", L"inner\rcr", L"", L"end"};
  EXPECT_EQ(ReadFile(Write("w.txt", Utf16Le(U16(text), true))), expected);
  EXPECT_EQ(ReadFile(Write("n.txt", ToUtf8(text))), expected);
}

TEST_F(StdioFileExTest, SeekToStartReadsAgainAndSkipsTheMarkAgain) {
  std::string path = Write("u.txt", Utf16Le(U16(L"one\r\ntwo\r\n"), true));
  CStdioFileEx file;
  ASSERT_TRUE(file.Open(FromUtf8(path).c_str(), CFile::typeText));
  CString line;
  ASSERT_TRUE(file.ReadString(line));
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_EQ(file.Seek(0, CFile::begin), 0u);
  std::vector<std::wstring> expected = {L"one", L"two"};
  EXPECT_EQ(ReadAll(file), expected);
  // Seeking into the middle does not skip anything.
  file.Seek(2 + 2 * 5, CFile::begin);
  EXPECT_EQ(ReadAll(file), std::vector<std::wstring>{L"two"});
}

TEST_F(StdioFileExTest, ShortAndEmptyFiles) {
  EXPECT_TRUE(ReadFile(Write("empty.txt", "")).empty());
  EXPECT_TRUE(ReadFile(Write("mark.txt", "\xFF\xFE")).empty());
  // One byte is no mark: the file is ANSI text.
  EXPECT_EQ(ReadFile(Write("one.txt", "x")), std::vector<std::wstring>{L"x"});
  // A lone byte after the last whole code unit is no character.
  EXPECT_EQ(ReadFile(Write("odd.txt", Utf16Le(U16(L"ab"), true) + "c")), std::vector<std::wstring>{L"ab"});
}

TEST_F(StdioFileExTest, WritingStartsANewFileWithTheMarkButNotAnAppendedOne) {
  std::string path = m_dir.File("out.txt");
  const UINT flags = CFile::modeWrite | CFile::shareDenyWrite | CFile::modeCreate | CFile::modeNoTruncate |
                     CFile::typeText | CStdioFileEx::modeUnicode;
  {
    CStdioFileEx file;
    ASSERT_TRUE(file.Open(FromUtf8(path).c_str(), flags));
    file.WriteString(L"caf\x00E9 \x1F3B5\r\n");
    file.WriteString(L"second\n");
  }
  EXPECT_EQ(ReadFileBytes(path), Utf16Le(U16(L"caf\x00E9 \x1F3B5\r\nsecond\n"), true));
  {
    CStdioFileEx file;
    ASSERT_TRUE(file.Open(FromUtf8(path).c_str(), flags));
    file.SeekToEnd();
    file.WriteString(L"more\r\n");
  }
  EXPECT_EQ(ReadFileBytes(path), Utf16Le(U16(L"caf\x00E9 \x1F3B5\r\nsecond\nmore\r\n"), true));
  std::vector<std::wstring> expected = {L"caf\x00E9 \x1F3B5", L"second", L"more"};
  EXPECT_EQ(ReadFile(path), expected);
}

TEST_F(StdioFileExTest, OpenFailureIsReportedByResultOrErrorObject) {
  std::wstring missing = m_dir.WPath() + L"/missing.txt";
  CStdioFileEx file;
  EXPECT_FALSE(file.Open(missing.c_str(), CFile::typeText));
  EXPECT_FALSE(file.IsOpen());
  CFileException error;
  EXPECT_FALSE(file.Open(missing.c_str(), CFile::typeText, &error));
  EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
  EXPECT_EQ(error.m_lOsError, 2);
  EXPECT_THROW(CStdioFileEx(missing.c_str(), CFile::typeText), CFileException);
  EXPECT_THROW(file.SetFilePath(nullptr), CInvalidArgException);
}

TEST_F(StdioFileExTest, WriteErrorRaisesFileExceptionAndReadErrorEndsTheLines) {
  CFailingFileIo io;
  ScopedFileIo scoped(io);
  std::string path = m_dir.File("out.txt");
  {
    CStdioFileEx file;
    ASSERT_TRUE(file.Open(FromUtf8(path).c_str(), CFile::modeCreate | CFile::modeWrite | CStdioFileEx::modeUnicode));
    io.writeBudget = 10;
    try {
      file.WriteString(std::wstring(3000, L'x').c_str());
      ADD_FAILURE() << "no exception";
    } catch (const CFileException& e) {
      EXPECT_EQ(e.m_cause, CFileException::diskFull);
    }
    io.writeBudget = -1;
  }
  EXPECT_EQ(ReadFileBytes(path).size(), 10u);

  // A stream error in the middle of a line ends it like the end of the file.
  std::string in = Write("in.txt", Utf16Le(U16(L"a\r\n" + std::wstring(9000, L'y') + L"\r\n"), true));
  CStdioFileEx file;
  ASSERT_TRUE(file.Open(FromUtf8(in).c_str(), CFile::typeText));
  CString line;
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_EQ(line, L"a");
  io.failReads = true;
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_GT(line.GetLength(), 0);
  EXPECT_LT(line.GetLength(), 9000);
  EXPECT_EQ(line.Str(), std::wstring(static_cast<size_t>(line.GetLength()), L'y'));
  EXPECT_FALSE(file.ReadString(line));
  // The mark itself is read with Read, whose errors raise.
  EXPECT_THROW(file.Seek(0, CFile::begin); file.ReadString(line), CFileException);
}

// ---------------------------------------------------------------------------
// The reader grows its buffer geometrically. This is the plain reading of
// the line algorithm, growing by 128 characters at a time and finding the
// old terminator by its length, kept as the oracle.
// ---------------------------------------------------------------------------
namespace {

struct CReferenceUtf16Stream {
  const std::string& bytes;
  size_t pos;
  // fgetws over UTF-16LE units: at most n - 1 units, stops after a line feed.
  bool Gets(std::u16string& buffer, size_t at, size_t n) {
    size_t k = 0;
    while (k + 1 < n && pos + 1 < bytes.size()) {
      char16_t u = static_cast<char16_t>(static_cast<unsigned char>(bytes[pos]) |
                                         (static_cast<unsigned char>(bytes[pos + 1]) << 8));
      pos += 2;
      buffer[at + k++] = u;
      if (u == u'\n') break;
    }
    buffer[at + k] = 0;
    return k > 0;
  }
};

std::vector<std::wstring> ReferenceReadLines(const std::string& bytes) {
  std::vector<std::wstring> lines;
  CReferenceUtf16Stream stream{bytes, 2};  // after the mark
  for (;;) {
    std::u16string buffer(4096, 0);
    if (!stream.Gets(buffer, 0, 4096)) break;
    auto length = [&buffer] { return buffer.find(char16_t(0)); };
    while (buffer.substr(0, length()).find(u'\n') == std::u16string::npos) {
      size_t old = length();
      std::u16string grown(buffer.size() + 128, 0);
      grown.replace(0, buffer.size(), buffer);
      buffer.swap(grown);
      if (!stream.Gets(buffer, old, 129)) break;
    }
    std::u16string line = buffer.substr(0, length());
    size_t lf = line.find(u'\n');
    if (lf != std::u16string::npos) line.erase(lf);
    if (!line.empty() && line.back() == u'\r') line.pop_back();
    std::wstring wide;
    for (size_t i = 0; i < line.size(); ++i) {
      char16_t u = line[i];
      // A pair becomes its code point where wchar_t is 4 bytes; a 2-byte
      // wchar_t keeps the two units.
      if (sizeof(wchar_t) == 4 && u >= 0xD800 && u <= 0xDBFF && i + 1 < line.size() && line[i + 1] >= 0xDC00 &&
          line[i + 1] <= 0xDFFF) {
        wide += static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (line[++i] - 0xDC00));
      } else {
        wide += static_cast<wchar_t>(u);
      }
    }
    lines.push_back(wide);
  }
  return lines;
}

}  // namespace

TEST_F(StdioFileExTest, LinesEqualThoseOfThePlainAlgorithm) {
  std::mt19937 random(20261208);
  const char16_t alphabet[] = {u'a', u'Z', u' ', u'\r', u'\n', u'\x00E9', 0xD83C, 0xDFB5, u'%'};
  for (int round = 0; round < 60; ++round) {
    std::u16string units;
    int lines = static_cast<int>(random() % 6);
    for (int l = 0; l < lines; ++l) {
      size_t length = random() % 3 == 0 ? random() % 9000 : random() % 50;
      for (size_t i = 0; i < length; ++i) {
        char16_t u = alphabet[random() % (sizeof alphabet / sizeof alphabet[0])];
        if (u == u'\n' && random() % 4 != 0) u = u'x';
        units += u;
      }
      if (random() % 5 != 0) units += u"\r\n";
    }
    std::string bytes = Utf16Le(units, true);
    EXPECT_EQ(ReadFile(Write("d.txt", bytes)), ReferenceReadLines(bytes)) << "round " << round;
  }
}
