// Closing the trace log and appending it to the host's parent log.
#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Path.h"
#include "diag/TraceLog.h"
#include "platform/File.h"
#include "support/FailingFileIo.h"
#include "support/TempDir.h"

namespace {

const std::string MARK("\xFF\xFE", 2);

std::string Utf16(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>((c >> 8) & 0xFF);
  }
  return out;
}

std::string BaseName(const std::wstring& path) {
  std::string p = ToUtf8(path);
  return p.substr(p.rfind(static_cast<char>(platform::PATH_SEPARATOR)) + 1);
}

class LogMergeTest : public ::testing::Test {
 protected:
  void SetUp() override { g_TraceLog.Close(); }
  void TearDown() override {
    g_TraceLog.Close();
    g_TraceLog.SetParentLogPath(L"");
  }

  // Opens the log in the test folder and writes three lines; returns the
  // trace file's bytes after its mark.
  std::string OpenAndLog() {
    g_TraceLog.Open(m_dir.WPath().c_str(), L"Src", TRACE_DEBUG);
    g_TraceLog.Log(TRACE_ERROR, L"first %s line");
    g_TraceLog.Log(TRACE_DEBUG, L"second \x1F3B5 line");
    g_TraceLog.Log(TRACE_WARNING, L"");
    m_tracePath = g_TraceLog.GetTraceFilePath().Str();
    std::string bytes = ReadFileBytes(ToUtf8(m_tracePath));
    EXPECT_EQ(bytes.substr(0, 2), MARK);
    return bytes.substr(2);
  }
  std::string Block(const std::string& traceLines) const {
    return Utf16(L"\r\n" + FromUtf8(BaseName(m_tracePath)) + L"\r\n") + traceLines;
  }

  CTempDir m_dir;
  std::wstring m_tracePath;
};

}  // namespace

TEST_F(LogMergeTest, DefaultParentLogReceivesMarkNameAndLinesAndTraceFileGoes) {
  std::string lines = OpenAndLog();
  std::string parent = ToUtf8(g_TraceLog.GetParentLogPath().Str());
  g_TraceLog.CloseAndMerge();

  std::vector<std::string> files = m_dir.List();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(std::regex_match(files[0], std::regex("\\d{8}_\\d{6}_[0-9A-F]+\\.txt"))) << files[0];
  EXPECT_EQ(m_dir.File(files[0]), parent);
  EXPECT_EQ(ReadFileBytes(parent), MARK + Block(lines));
  EXPECT_FALSE(FileExists(ToUtf8(m_tracePath)));
  // The log is closed: later lines go nowhere.
  EXPECT_FALSE(g_TraceLog.IsOpen());
  g_TraceLog.Log(TRACE_ERROR, L"after");
  EXPECT_EQ(m_dir.List().size(), 1u);
}

TEST_F(LogMergeTest, ExistingParentLogGetsTheBlockAppendedWithoutASecondMark) {
  std::string lines = OpenAndLog();
  std::string wide = m_dir.File("host.log");
  std::string ansi = m_dir.File("host-ansi.log");
  WriteFileBytes(wide, MARK + Utf16(L"host line\r\n"));
  WriteFileBytes(ansi, "host ansi line\r\n");
  g_TraceLog.SetParentLogPath(FromUtf8(wide));
  g_TraceLog.CloseAndMerge();
  EXPECT_EQ(ReadFileBytes(wide), MARK + Utf16(L"host line\r\n") + Block(lines));
  EXPECT_FALSE(FileExists(ToUtf8(m_tracePath)));

  // A parent log in another encoding is not examined.
  lines = OpenAndLog();
  g_TraceLog.SetParentLogPath(FromUtf8(ansi));
  g_TraceLog.CloseAndMerge();
  EXPECT_EQ(ReadFileBytes(ansi), "host ansi line\r\n" + Block(lines));
}

TEST_F(LogMergeTest, UnopenableParentLogKeepsTheTraceFileForALaterMerge) {
  std::string lines = OpenAndLog();
  std::string traceBytes = ReadFileBytes(ToUtf8(m_tracePath));
  g_TraceLog.SetParentLogPath(m_dir.WPath() + L"/no-such-folder/host.log");
  g_TraceLog.CloseAndMerge();
  EXPECT_FALSE(FileExists(m_dir.File("no-such-folder")));
  ASSERT_TRUE(FileExists(ToUtf8(m_tracePath)));
  EXPECT_EQ(ReadFileBytes(ToUtf8(m_tracePath)), traceBytes);

  // A parent log held by another writer is refused the same way.
  std::string held = m_dir.File("held.log");
  g_TraceLog.SetParentLogPath(FromUtf8(held));
  {
    CFile other(FromUtf8(held).c_str(), CFile::modeCreate | CFile::modeWrite | CFile::shareDenyWrite);
    g_TraceLog.CloseAndMerge();
  }
  EXPECT_EQ(ReadFileBytes(held), "");
  ASSERT_TRUE(FileExists(ToUtf8(m_tracePath)));

  // Nothing was lost: the next merge into a usable parent copies it all.
  g_TraceLog.CloseAndMerge();
  EXPECT_EQ(ReadFileBytes(held), MARK + Block(lines));
  EXPECT_FALSE(FileExists(ToUtf8(m_tracePath)));
}

TEST_F(LogMergeTest, WriteErrorKeepsWhatWasWrittenAndTheTraceFile) {
  std::string lines = OpenAndLog();
  std::string traceBytes = ReadFileBytes(ToUtf8(m_tracePath));
  std::string parent = m_dir.File("host.log");
  g_TraceLog.SetParentLogPath(FromUtf8(parent));
  {
    CFailingFileIo io;
    ScopedFileIo scoped(io);
    io.writeBudget = 40;
    g_TraceLog.CloseAndMerge();
  }
  EXPECT_EQ(ReadFileBytes(parent), (MARK + Block(lines)).substr(0, 40));
  ASSERT_TRUE(FileExists(ToUtf8(m_tracePath)));
  EXPECT_EQ(ReadFileBytes(ToUtf8(m_tracePath)), traceBytes);
}

TEST_F(LogMergeTest, SecondMergeWithoutANewFileChangesNothing) {
  OpenAndLog();
  std::string parent = ToUtf8(g_TraceLog.GetParentLogPath().Str());
  g_TraceLog.CloseAndMerge();
  std::string merged = ReadFileBytes(parent);
  std::vector<std::string> files = m_dir.List();
  g_TraceLog.CloseAndMerge();
  EXPECT_EQ(ReadFileBytes(parent), merged);
  EXPECT_EQ(m_dir.List(), files);
}

TEST_F(LogMergeTest, ParentLogThatIsTheTraceFileItselfIsLeftAlone) {
  OpenAndLog();
  std::string traceBytes = ReadFileBytes(ToUtf8(m_tracePath));
  g_TraceLog.SetParentLogPath(m_tracePath);
  g_TraceLog.CloseAndMerge();  // must end, not copy the file into itself
  ASSERT_TRUE(FileExists(ToUtf8(m_tracePath)));
  EXPECT_EQ(ReadFileBytes(ToUtf8(m_tracePath)), traceBytes);
}

TEST_F(LogMergeTest, LinesLoggedByOtherThreadsDuringTheMergeAreWholeOrDropped) {
  g_TraceLog.Open(m_dir.WPath().c_str(), L"Src", TRACE_DEBUG);
  std::string parent = ToUtf8(g_TraceLog.GetParentLogPath().Str());
  std::atomic<int> logged{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &logged, &stop] {
      for (int i = 0; !stop; ++i) {
        g_TraceLog.Log(TRACE_ERROR, (L"thread " + std::to_wstring(t) + L" line " + std::to_wstring(i)).c_str());
        ++logged;
      }
    });
  }
  while (logged < 400) std::this_thread::yield();
  g_TraceLog.CloseAndMerge();
  int atMerge = logged;
  while (logged < atMerge + 400) std::this_thread::yield();
  stop = true;
  for (std::thread& t : threads) t.join();

  // Only the parent log remains; lines logged after the merge found the log
  // closed and created no new trace file.
  std::vector<std::string> files = m_dir.List();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(m_dir.File(files[0]), parent);
  std::string bytes = ReadFileBytes(parent);
  ASSERT_EQ(bytes.substr(0, 2), MARK);
  std::wstring text = DecodeUtf16Le(bytes.substr(2));
  std::wregex line(L"\\d\\d:\\d\\d:\\d\\d\\.\\d{3} [0-9A-F]+ ERR: thread [0-3] line \\d+");
  size_t pos = text.find(L"\r\n", 2) + 2;  // after the empty line and the name
  int count = 0;
  for (size_t hit; (hit = text.find(L"\r\n", pos)) != std::wstring::npos; pos = hit + 2, ++count)
    ASSERT_TRUE(std::regex_match(text.substr(pos, hit - pos), line)) << ToUtf8(text.substr(pos, hit - pos));
  EXPECT_EQ(pos, text.size());
  EXPECT_GE(count, 400);
  EXPECT_LE(count, atMerge + 4);  // at most one line in flight per thread
}
