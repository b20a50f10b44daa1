// The framework file classes: creation and truncation, sharing denials,
// position and length through the stream buffer, and the file exception's
// cause and text.
#include <gtest/gtest.h>

#include <string>

#include "platform/File.h"
#include "support/TempDir.h"

namespace {

class FileTest : public ::testing::Test {
 protected:
  std::wstring Path(const std::string& name) const { return FromUtf8(m_dir.File(name)); }
  CTempDir m_dir;
};

std::string ReadAllBytes(CFile& file) {
  std::string out;
  char chunk[7];
  while (UINT n = file.Read(chunk, sizeof chunk)) out.append(chunk, n);
  return out;
}

}  // namespace

TEST_F(FileTest, CreateTruncatesButNoTruncateKeepsAndOpenExistingNeedsTheFile) {
  WriteFileBytes(m_dir.File("f.bin"), "0123456789");
  {
    CFile file(Path("f.bin").c_str(), CFile::modeWrite | CFile::modeCreate | CFile::modeNoTruncate);
    EXPECT_EQ(file.GetLength(), 10u);
    EXPECT_EQ(file.GetPosition(), 0u);
    file.Write("ab", 2);
  }
  EXPECT_EQ(ReadFileBytes(m_dir.File("f.bin")), "ab23456789");
  {
    CFile file(Path("f.bin").c_str(), CFile::modeWrite | CFile::modeCreate);
    EXPECT_EQ(file.GetLength(), 0u);
  }
  EXPECT_EQ(ReadFileBytes(m_dir.File("f.bin")), "");

  CFile file;
  CFileException error;
  EXPECT_FALSE(file.Open(Path("none.bin").c_str(), CFile::modeRead, &error));
  EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
  EXPECT_FALSE(FileExists(m_dir.File("none.bin")));
  EXPECT_FALSE(file.Open(Path("no/dir.bin").c_str(), CFile::modeWrite | CFile::modeCreate, &error));
  EXPECT_EQ(error.m_cause, CFileException::badPath);
  EXPECT_EQ(error.m_lOsError, 3);
  // A folder is not a file.
  EXPECT_FALSE(file.Open(m_dir.WPath().c_str(), CFile::modeRead, &error));
  EXPECT_EQ(error.m_cause, CFileException::accessDenied);
}

TEST_F(FileTest, ErrorTextNamesTheFileAndTheCause) {
  std::wstring missing = Path("missing.bin");
  try {
    CFile file(missing.c_str(), CFile::modeRead | CFile::shareDenyWrite);
    ADD_FAILURE() << "no exception";
  } catch (const CFileException& e) {
    EXPECT_EQ(e.GetErrorMessage(), CString(missing + L" was not found."));
    wchar_t small[8];
    EXPECT_TRUE(e.GetErrorMessage(small, 8));
    EXPECT_EQ(std::wstring(small), (missing + L" was").substr(0, 7));
    EXPECT_FALSE(e.GetErrorMessage(nullptr, 8));
  }
  EXPECT_EQ(CFileException(CFileException::accessDenied, 5).GetErrorMessage(),
            L"Access to an unnamed file was denied.");
  EXPECT_EQ(CFileException(CFileException::sharingViolation, 32, L"x").GetErrorMessage(),
            L"A sharing violation occurred while accessing x.");
  EXPECT_EQ(CFileException::OsErrorToException(112), CFileException::diskFull);
  EXPECT_EQ(CFileException::OsErrorToException(9999), CFileException::genericException);
}

TEST_F(FileTest, DenyWriteExcludesWritersThatDenyAndLetsReadersShare) {
  WriteFileBytes(m_dir.File("s.txt"), "keep me");
  const std::wstring path = Path("s.txt");
  CFileException error;
  {
    CFile reader1(path.c_str(), CFile::modeRead | CFile::shareDenyWrite);
    CFile reader2(path.c_str(), CFile::modeRead | CFile::shareDenyWrite);
    CFile writer;
    EXPECT_FALSE(writer.Open(path.c_str(), CFile::modeWrite | CFile::shareDenyWrite, &error));
    EXPECT_EQ(error.m_cause, CFileException::sharingViolation);
    // A refused creating open must not have truncated the file.
    EXPECT_FALSE(writer.Open(path.c_str(), CFile::modeWrite | CFile::modeCreate | CFile::shareExclusive, &error));
    EXPECT_EQ(ReadFileBytes(m_dir.File("s.txt")), "keep me");
    // Openers that deny nothing are not held off.
    CFile compat(path.c_str(), CFile::modeRead);
  }
  CFile writer(path.c_str(), CFile::modeWrite | CFile::shareDenyWrite);
  CFile reader;
  EXPECT_FALSE(reader.Open(path.c_str(), CFile::modeRead | CFile::shareDenyWrite, &error));
  writer.Close();
  EXPECT_TRUE(reader.Open(path.c_str(), CFile::modeRead | CFile::shareDenyWrite, &error));
}

TEST_F(FileTest, StreamPositionFollowsBufferedReadsSeeksAndWrites) {
  std::string content;
  for (int i = 0; i < 3000; ++i) content += "line " + std::to_string(i) + "\n";
  WriteFileBytes(m_dir.File("s.txt"), content);
  CStdioFile file(Path("s.txt").c_str(), CFile::modeReadWrite | CFile::typeBinary);
  EXPECT_EQ(file.GetLength(), content.size());
  char head[5];
  ASSERT_EQ(file.Read(head, 5), 5u);
  EXPECT_EQ(std::string(head, 5), "line ");
  EXPECT_EQ(file.GetPosition(), 5u);
  EXPECT_EQ(file.Seek(3, CFile::current), 8u);
  std::string rest = ReadAllBytes(file);
  EXPECT_EQ(rest, content.substr(8));
  EXPECT_EQ(file.GetPosition(), content.size());
  EXPECT_EQ(file.Read(head, 5), 0u);

  // A write after a buffered read lands at the logical position.
  file.Seek(0, CFile::begin);
  ASSERT_EQ(file.Read(head, 2), 2u);
  file.Write("XY", 2);
  EXPECT_EQ(file.GetPosition(), 4u);
  ASSERT_EQ(file.Read(head, 3), 3u);
  EXPECT_EQ(std::string(head, 3), " 0\n");
  EXPECT_EQ(file.SeekToEnd(), content.size());
  EXPECT_THROW(file.Seek(-1, CFile::begin), CFileException);
  file.Close();
  EXPECT_EQ(ReadFileBytes(m_dir.File("s.txt")).substr(0, 8), "liXY 0\nl");
}

TEST_F(FileTest, StdioLinesAreUtf16AndFileNameIsTheLastPathPart) {
  CStdioFile file(Path("w.txt").c_str(), CFile::modeCreate | CFile::modeReadWrite);
  EXPECT_EQ(file.GetFileName(), L"w.txt");
  EXPECT_EQ(file.GetFilePath(), CString(Path("w.txt")));
  file.WriteString(L"ab\U0001F3B5\ncd");
  EXPECT_EQ(file.GetLength(), 14u);
  file.SeekToBegin();
  wchar_t buffer[3];
  ASSERT_NE(file.ReadString(buffer, 3), nullptr);
  EXPECT_EQ(std::wstring(buffer), L"ab");
  CString line;
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_EQ(line, L"\U0001F3B5");
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_EQ(line, L"cd");
  EXPECT_FALSE(file.ReadString(line));
  EXPECT_EQ(file.ReadString(buffer, 3), nullptr);
}
