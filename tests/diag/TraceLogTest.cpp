#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <thread>
#include <vector>

#include "diag/TraceFileWriter.h"
#include "diag/TraceLog.h"
#include "platform/ErrorText.h"
#include "platform/Path.h"
#include "platform/Process.h"
#include "support/FailingFileSystem.h"
#include "support/FakeClock.h"
#include "support/TraceCapture.h"

namespace {

// Paths the log builds use the platform's separator.
const std::wstring SEP(platform::PATH_SEPARATOR_STRING);

std::wstring Hex(DWORD v) {
  wchar_t buf[16];
  swprintf(buf, 16, L"%X", v);
  return buf;
}

}  // namespace

TEST(TraceLog, NothingIsWrittenBeforeAFolderIsSet) {
  g_TraceLog.Close();
  g_TraceLog.SetLevel(TRACE_DEBUG);
  CFailingFileSystem fs;
  ScopedFileSystem scoped(fs);
  g_TraceLog.Log(TRACE_ERROR, L"dropped");
  EXPECT_EQ(fs.createFileCalls.load(), 0);
}

TEST(TraceLog, FileNameLineFormatAndEncoding) {
  CFakeClock clock;
  ScopedFakeClock scopedClock(clock);
  clock.SetLocalTime(2024, 1, 31, 23, 59, 58, 42);
  CTraceCapture capture(TRACE_DEBUG, L"Src");
  g_TraceLog.Log(TRACE_WARNING, L"first \x00E9\U0001F3B5");

  const std::wstring pid = Hex(platform::GetCurrentProcessId());
  EXPECT_EQ(capture.TraceFilePath(), capture.Dir().WPath() + SEP + L"Src_20240131_235958_" + pid + L".txt");
  std::string bytes = ReadFileBytes(ToUtf8(capture.TraceFilePath()));
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0xFE);
  const std::wstring expected =
      L"23:59:58.042 " + Hex(platform::GetCurrentThreadId()) + L" WRN: first \x00E9\U0001F3B5\r\n";
  EXPECT_EQ(DecodeUtf16Le(bytes.substr(2)), expected);
  // The character above U+FFFF is a surrogate pair on disk.
  EXPECT_NE(bytes.find(std::string("\x3C\xD8\xB5\xDF", 4)), std::string::npos);
}

TEST(TraceLog, LevelFilterAndTags) {
  CTraceCapture capture(TRACE_WARNING);
  g_TraceLog.Log(TRACE_ERROR, L"e");
  g_TraceLog.Log(TRACE_WARNING, L"w");
  g_TraceLog.Log(TRACE_INFO, L"i");
  g_TraceLog.Log(TRACE_DEBUG, L"d");
  g_TraceLog.Log(-5, L"negative");
  g_TraceLog.Log(15, L"fifteen");
  auto lines = capture.Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_NE(lines[0].find(L" ERR: e"), std::wstring::npos);
  EXPECT_NE(lines[1].find(L" WRN: w"), std::wstring::npos);
  EXPECT_NE(lines[2].find(L" : negative"), std::wstring::npos);
  EXPECT_NE(lines[3].find(L" ERR: fifteen"), std::wstring::npos);
  EXPECT_STREQ(CTraceFileWriter::LevelTag(55), L"-->");
  EXPECT_STREQ(CTraceFileWriter::LevelTag(65), L"---");
  EXPECT_STREQ(CTraceFileWriter::LevelTag(75), L"");
}

TEST(TraceLog, WillWriteAnswersAsTheFilterDecides) {
  EXPECT_FALSE(g_TraceLog.WillWrite(TRACE_ERROR));  // closed
  {
    CTraceCapture capture(TRACE_WARNING);
    EXPECT_TRUE(g_TraceLog.WillWrite(TRACE_ERROR));
    EXPECT_TRUE(g_TraceLog.WillWrite(TRACE_WARNING));
    EXPECT_TRUE(g_TraceLog.WillWrite(-5));
    EXPECT_FALSE(g_TraceLog.WillWrite(TRACE_INFO));
    g_TraceLog.SetLevel(0);  // nothing passes
    EXPECT_FALSE(g_TraceLog.WillWrite(TRACE_ERROR));
    g_TraceLog.SetLevel(TRACE_DEBUG);
    EXPECT_TRUE(g_TraceLog.WillWrite(TRACE_DEBUG));
    g_TraceLog.Close();
    EXPECT_FALSE(g_TraceLog.WillWrite(TRACE_ERROR));
  }
}

TEST(TraceLog, TextIsWrittenLiterallyAndNullIsIgnored) {
  CTraceCapture capture(TRACE_DEBUG);
  g_TraceLog.Log(TRACE_ERROR, L"100% %s %d %n");
  g_TraceLog.Log(TRACE_ERROR, nullptr);
  TraceFormat(TRACE_ERROR, L"error=[%d] %s", 12002, L"x");
  TraceFormat(TRACE_ERROR, nullptr);
  auto messages = capture.Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], L"100% %s %d %n");
  EXPECT_EQ(messages[1], L"error=[12002] x");
}

TEST(TraceLog, LogLastErrorAppendsCodeAndSystemText) {
  CTraceCapture capture(TRACE_DEBUG);
  g_TraceLog.LogLastError(TRACE_ERROR, L"GetCacheFileName():Can not create directory: /x/, ", 3);
  g_TraceLog.LogLastError(TRACE_ERROR, L"odd", 0xDEADBEEF);
  auto lines = capture.Lines();
  // The system text carries its own CR LF, so the first message spans a
  // line break and is followed by an empty line. The text is the system's
  // own (its English wording is checked with the platform tests; Wine words
  // its table differently, "Path not found." for 3).
  const std::wstring text = platform::FormatSystemMessage(3);
  ASSERT_GT(text.size(), 2u);
  ASSERT_EQ(text.substr(text.size() - 2), L"\r\n");
  ASSERT_GE(lines.size(), 3u);
  EXPECT_NE(lines[0].find(L"ERR: GetCacheFileName():Can not create directory: /x/,  GetLastError():3, " +
                          text.substr(0, text.size() - 2)),
            std::wstring::npos);
  EXPECT_EQ(lines[1], L"");
  EXPECT_NE(lines[2].find(L"ERR: odd GetLastError():-559038737, "), std::wstring::npos);
}

TEST(TraceLog, LevelNamesAreCaseSensitive) {
  EXPECT_EQ(CTraceLog::LevelFromName(L"Error"), 10);
  EXPECT_EQ(CTraceLog::LevelFromName(L"Warning"), 20);
  EXPECT_EQ(CTraceLog::LevelFromName(L"Info"), 30);
  EXPECT_EQ(CTraceLog::LevelFromName(L"Debug"), 40);
  EXPECT_EQ(CTraceLog::LevelFromName(L"Detail"), 40);
  EXPECT_EQ(CTraceLog::LevelFromName(L"Verbose"), 40);
  EXPECT_EQ(CTraceLog::LevelFromName(L"warning"), 10);
  EXPECT_EQ(CTraceLog::LevelFromName(L"None"), 10);
  EXPECT_EQ(CTraceLog::LevelFromName(L""), 10);
}

TEST(TraceLog, OpeningSetsLevelTenAndIgnoresASecondOpen) {
  g_TraceLog.Close();
  g_TraceLog.SetLevelName(L"Verbose");
  CTraceCapture capture(TRACE_ERROR);
  g_TraceLog.Log(TRACE_DEBUG, L"hidden");
  CTempDir other;
  g_TraceLog.Open(other.WPath().c_str(), L"Other", TRACE_DEBUG);  // already open: no effect
  g_TraceLog.Log(TRACE_DEBUG, L"still hidden");
  g_TraceLog.SetLevelName(L"Verbose");
  g_TraceLog.Log(TRACE_DEBUG, L"shown");
  EXPECT_EQ(capture.Messages(), std::vector<std::wstring>{L"shown"});
  EXPECT_TRUE(other.List().empty());
}

TEST(TraceLog, TrailingSeparatorGivesTheSameNames) {
  CFakeClock clock;
  ScopedFakeClock scopedClock(clock);
  CTempDir dir;
  g_TraceLog.Close();
  g_TraceLog.Open((dir.WPath() + SEP).c_str(), L"S", TRACE_ERROR);
  std::wstring parentWithSlash = g_TraceLog.GetParentLogPath().GetString();
  g_TraceLog.Log(TRACE_ERROR, L"x");
  std::wstring withSlash = g_TraceLog.GetTraceFilePath().GetString();
  g_TraceLog.Close();
  g_TraceLog.Open(dir.WPath().c_str(), L"S", TRACE_ERROR);
  g_TraceLog.Log(TRACE_ERROR, L"x");
  EXPECT_EQ(g_TraceLog.GetTraceFilePath(), CString(withSlash));
  EXPECT_EQ(g_TraceLog.GetParentLogPath(), CString(parentWithSlash));
  EXPECT_EQ(parentWithSlash, dir.WPath() + SEP + L"20240131_120000_" + Hex(platform::GetCurrentProcessId()) + L".txt");
  g_TraceLog.Close();
}

TEST(TraceLog, MidnightStartsANewFileAndKeepsTheOldOne) {
  CFakeClock clock;
  ScopedFakeClock scopedClock(clock);
  clock.SetLocalTime(2024, 1, 31, 23, 59, 59, 900);
  CTraceCapture capture(TRACE_DEBUG, L"Src");
  g_TraceLog.Log(TRACE_ERROR, L"before");
  std::wstring first = capture.TraceFilePath();
  clock.SetLocalTime(2024, 1, 31, 23, 59, 59, 999);
  g_TraceLog.Log(TRACE_ERROR, L"same day");
  EXPECT_EQ(capture.TraceFilePath(), first);
  clock.SetLocalTime(2024, 2, 1, 0, 0, 1, 5);
  g_TraceLog.Log(TRACE_ERROR, L"after");
  std::wstring second = capture.TraceFilePath();
  EXPECT_NE(second, first);
  EXPECT_NE(second.find(L"Src_20240201_000001_"), std::wstring::npos);
  EXPECT_TRUE(FileExists(ToUtf8(first)));
  EXPECT_EQ(capture.Messages(), std::vector<std::wstring>{L"after"});
}

TEST(TraceLog, UncreatableFileIsRetriedAtTheNextLine) {
  CFailingFileSystem fs;
  ScopedFileSystem scoped(fs);
  fs.failCreateFile = true;
  CTraceCapture capture(TRACE_DEBUG);
  g_TraceLog.Log(TRACE_ERROR, L"lost");
  g_TraceLog.Log(TRACE_ERROR, L"lost too");
  EXPECT_EQ(fs.createFileCalls.load(), 2);
  fs.failCreateFile = false;
  g_TraceLog.Log(TRACE_ERROR, L"kept");
  EXPECT_EQ(capture.Messages(), std::vector<std::wstring>{L"kept"});
}

// A host running without standard input (a daemon) leaves descriptor 0 free;
// the trace file must not be taken for "no file" when it lands there.
TEST(TraceLog, FirstLineIsKeptWhenStandardInputIsClosed) {
  const int savedStdin = ::dup(0);
  ASSERT_GE(savedStdin, 0);
  ::close(0);
  std::vector<std::wstring> messages;
  {
    CTraceCapture capture(TRACE_DEBUG);
    g_TraceLog.Log(TRACE_ERROR, L"first");
    g_TraceLog.Log(TRACE_ERROR, L"second");
    messages = capture.Messages();
  }
  ASSERT_EQ(::dup2(savedStdin, 0), 0);
  ::close(savedStdin);
  EXPECT_EQ(messages, (std::vector<std::wstring>{L"first", L"second"}));
}

TEST(TraceLog, MissingFolderNeitherThrowsNorCreatesAnything) {
  CTempDir dir;
  g_TraceLog.Close();
  g_TraceLog.Open((dir.WPath() + SEP + L"does" + SEP + L"not" + SEP + L"exist").c_str(), L"S", TRACE_DEBUG);
  EXPECT_NO_THROW(g_TraceLog.Log(TRACE_ERROR, L"x"));
  EXPECT_TRUE(dir.List().empty());
  g_TraceLog.Close();
}

TEST(TraceLog, OverlongPathIsNeitherCutNorOverflowed) {
  CFailingFileSystem fs;
  ScopedFileSystem scoped(fs);
  g_TraceLog.Close();
  std::wstring folder = L"/tmp/" + std::wstring(1100, L'd');
  g_TraceLog.Open(folder.c_str(), L"S", TRACE_DEBUG);
  g_TraceLog.Log(TRACE_ERROR, L"x");
  EXPECT_EQ(fs.createFileCalls.load(), 0);
  EXPECT_TRUE(g_TraceLog.GetTraceFilePath().IsEmpty());
  g_TraceLog.Close();
}

TEST(TraceLog, GetTraceFilePathIsEmptyFrom261Characters) {
  CTempDir dir;
  g_TraceLog.Close();
  // base: dir + "/" + stem; the name adds "_YYYYMMDD_HHMMSS_<pid>.txt".
  std::wstring stem(260, L's');
  g_TraceLog.Open(dir.WPath().c_str(), stem.c_str(), TRACE_DEBUG);
  g_TraceLog.Log(TRACE_ERROR, L"x");
  EXPECT_TRUE(g_TraceLog.GetTraceFilePath().IsEmpty());
  g_TraceLog.Close();
}

TEST(TraceLog, ConcurrentWritersProduceWholeLines) {
  CTraceCapture capture(TRACE_DEBUG);
  const int kThreads = 6, kLines = 150;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) {
        CString text;
        text.Format(L"thread %d line %d %s", t, i, std::wstring(40, static_cast<wchar_t>(L'a' + t)).c_str());
        g_TraceLog.Log(TRACE_INFO, text.GetString());
      }
    });
  }
  for (auto& th : threads) th.join();
  auto lines = capture.Lines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  std::wregex shape(LR"(\d\d:\d\d:\d\d\.\d{3} [0-9A-F]+ INF: thread (\d) line \d+ ([a-z])\2{39})");
  for (const auto& line : lines) EXPECT_TRUE(std::regex_match(line, shape)) << ToUtf8(line);
}

TEST(TraceLog, WriterSpinLockAloneKeepsLinesWhole) {
  // Bypasses CTraceLog's critical section so that the writer's own spin lock
  // is what serialises the threads.
  CTraceCapture capture(TRACE_DEBUG);
  CTraceFileWriter& writer = CTraceFileWriter::Instance();
  const int kThreads = 4, kLines = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &writer] {
      for (int i = 0; i < kLines; ++i) writer.Write(TRACE_INFO, L"w%d %s", t, std::wstring(30, L'x').c_str());
    });
  }
  for (auto& th : threads) th.join();
  auto lines = capture.Lines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  std::wregex shape(LR"(\d\d:\d\d:\d\d\.\d{3} [0-9A-F]+ INF: w\d x{30})");
  for (const auto& line : lines) EXPECT_TRUE(std::regex_match(line, shape)) << ToUtf8(line);
  EXPECT_EQ(writer.dwOwnerThread.load(), 0u);
}

TEST(TraceLog, ReopenedWithinTheSameSecondReusesTheNameAndReplacesTheFile) {
  CFakeClock clock;
  ScopedFakeClock scopedClock(clock);
  clock.SetLocalTime(2024, 1, 31, 12, 0, 0, 100);
  CTempDir dir;
  const std::wstring pid = Hex(platform::GetCurrentProcessId());
  const std::wstring tid = Hex(platform::GetCurrentThreadId());
  g_TraceLog.Close();
  g_TraceLog.Open(dir.WPath().c_str(), L"S", TRACE_ERROR);
  g_TraceLog.Log(TRACE_ERROR, L"first");
  const std::wstring first = g_TraceLog.GetTraceFilePath().GetString();
  EXPECT_EQ(first, dir.WPath() + SEP + L"S_20240131_120000_" + pid + L".txt");
  g_TraceLog.Close();

  // Closed without a merge and opened again in the same second: same name,
  // and the new file replaces the old one.
  clock.SetLocalTime(2024, 1, 31, 12, 0, 0, 900);
  g_TraceLog.Open(dir.WPath().c_str(), L"S", TRACE_ERROR);
  g_TraceLog.Log(TRACE_ERROR, L"second");
  EXPECT_EQ(g_TraceLog.GetTraceFilePath(), CString(first.c_str()));
  EXPECT_EQ(dir.List(), std::vector<std::string>{"S_20240131_120000_" + ToUtf8(pid) + ".txt"});
  EXPECT_EQ(DecodeUtf16Le(ReadFileBytes(ToUtf8(first))), L"\xFEFF" L"12:00:00.900 " + tid + L" ERR: second\r\n");

  // Merged, reopened and merged again within that second: both blocks land
  // in the one parent log of that second, under one byte-order mark.
  g_TraceLog.CloseAndMerge();
  g_TraceLog.Open(dir.WPath().c_str(), L"S", TRACE_ERROR);
  g_TraceLog.Log(TRACE_ERROR, L"third");
  g_TraceLog.CloseAndMerge();
  const std::string parent = "20240131_120000_" + ToUtf8(pid) + ".txt";
  EXPECT_EQ(dir.List(), std::vector<std::string>{parent});
  const std::wstring name = L"S_20240131_120000_" + pid + L".txt";
  EXPECT_EQ(DecodeUtf16Le(ReadFileBytes(dir.File(parent))),
            L"\xFEFF\r\n" + name + L"\r\n12:00:00.900 " + tid + L" ERR: second\r\n\r\n" + name + L"\r\n12:00:00.900 " +
                tid + L" ERR: third\r\n");
}
