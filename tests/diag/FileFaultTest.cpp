// Fault loops over the trace log and the log merge: each scenario runs once
// without faults to count its file calls, then once for every k up to that
// count with the k-th open, write or flush failing (once, or from then on)
// or the k-th write cut short.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diag/TraceLog.h"
#include "platform/Path.h"
#include "platform/Process.h"
#include "support/FailingFileIo.h"
#include "support/FailingFileSystem.h"
#include "support/FakeClock.h"
#include "support/TempDir.h"

namespace {

std::wstring Hex(DWORD v) {
  wchar_t buf[16];
  swprintf(buf, 16, L"%X", v);
  return buf;
}

std::vector<std::wstring> SplitLines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L"\r\n", start);
    if (end == std::wstring::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

class FileFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    clock.SetLocalTime(2024, 1, 31, 12, 0, 0, 0);
    g_TraceLog.Close();
  }
  void TearDown() override { g_TraceLog.Close(); }

  std::wstring Line(const std::wstring& message) const { return L"12:00:00.000 " + m_tid + L" ERR: " + message; }

  CFakeClock clock;
  ScopedFakeClock scopedClock{clock};
  CFaultPlan plan;
  std::wstring m_tid = Hex(platform::GetCurrentThreadId());
};

}  // namespace

// Lines that meet a failed create or write are lost (a cut one is left
// torn), but the next line that can be written arrives whole, on a line of
// its own, in a file that stays readable as UTF-16 from its byte-order mark.
TEST_F(FileFaults, TraceLogKeepsWorkingAfterAFailedWrite) {
  CFailingFileSystem fs;
  fs.plan = &plan;
  ScopedFileSystem scoped(fs);
  const int LINES = 4;
  for (EFileCall kind : {EFileCall::OPEN, EFileCall::WRITE}) {
    SCOPED_TRACE(FileCallName(kind));
    ForEveryFault(plan, kind, [&] {
      CTempDir dir;
      g_TraceLog.Open(dir.WPath().c_str(), L"T", TRACE_ERROR);
      for (int i = 0; i < LINES; ++i) g_TraceLog.Log(TRACE_ERROR, (L"line " + std::to_wstring(i)).c_str());
      const int injected = plan.Injected();
      const bool persistent = plan.Describe().find("from then on") != std::string::npos;
      plan.Stop();  // from here on every call succeeds
      g_TraceLog.Log(TRACE_ERROR, L"after");
      const std::string path = ToUtf8(g_TraceLog.GetTraceFilePath().GetString());
      g_TraceLog.Close();

      const std::string bytes = ReadFileBytes(path);
      ASSERT_GE(bytes.size(), 2u);
      ASSERT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE"));
      ASSERT_EQ(bytes.size() % 2, 0u) << "a torn unit left the file out of step";
      const std::vector<std::wstring> lines = SplitLines(DecodeUtf16Le(bytes.substr(2)));
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(lines.back(), Line(L"after"));
      int whole = 0;
      for (size_t n = 0; n + 1 < lines.size(); ++n) {
        bool known = false;
        for (int i = 0; i < LINES && !known; ++i) known = lines[n] == Line(L"line " + std::to_wstring(i));
        if (known) {
          ++whole;
          continue;
        }
        // Torn: a prefix of a line, its last unit possibly completed by padding.
        for (int i = 0; i < LINES && !known; ++i) {
          const std::wstring full = Line(L"line " + std::to_wstring(i));
          known = !lines[n].empty() && full.compare(0, lines[n].size() - 1, lines[n], 0, lines[n].size() - 1) == 0;
        }
        EXPECT_TRUE(known) << ToUtf8(lines[n]);
      }
      // Only the lines that met the fault are missing.
      if (!persistent) {
        EXPECT_GE(whole, LINES - injected);
      }
    });
  }
}

// The merge deletes the trace file only when the whole block reached the
// parent log and was flushed; otherwise the trace file stays, and a later
// merge without faults (as at unload) brings every line over.
TEST_F(FileFaults, LogMergeKeepsTheTraceFileWhenTheCopyIsIncomplete) {
  CFailingFileIo io;
  io.plan = &plan;
  ScopedFileIo scoped(io);
  const std::wstring hostLine = L"host line";
  for (EFileCall kind : {EFileCall::OPEN, EFileCall::WRITE, EFileCall::FLUSH}) {
    SCOPED_TRACE(FileCallName(kind));
    ForEveryFault(plan, kind, [&] {
      CTempDir dir;
      const std::string parent = dir.File("host.txt");
      std::string hostBytes("\xFF\xFE", 2);
      for (wchar_t c : hostLine + L"\r\n") hostBytes += {static_cast<char>(c), '\0'};
      WriteFileBytes(parent, hostBytes);
      // Setting up the trace file goes through the file system layer, not
      // through this one: the calls counted here are the merge's alone.
      g_TraceLog.Open(dir.WPath().c_str(), L"T", TRACE_ERROR);
      g_TraceLog.SetParentLogPath(CString(platform::FromNativePath(parent).c_str()));
      for (int i = 0; i < 3; ++i) g_TraceLog.Log(TRACE_ERROR, (L"line " + std::to_wstring(i)).c_str());
      const std::string own = ToUtf8(g_TraceLog.GetTraceFilePath().GetString());
      const std::wstring name = platform::FromNativePath(own).substr(dir.WPath().size() + 1);
      const std::wstring block = L"\r\n" + name + L"\r\n" + Line(L"line 0") + L"\r\n" + Line(L"line 1") + L"\r\n" +
                                 Line(L"line 2") + L"\r\n";
      const std::wstring complete = L"\xFEFF" + hostLine + L"\r\n" + block;

      g_TraceLog.CloseAndMerge();
      const int injected = plan.Injected();
      EXPECT_FALSE(g_TraceLog.IsOpen());

      if (injected == 0) {
        EXPECT_FALSE(FileExists(own));
        EXPECT_EQ(DecodeUtf16Le(ReadFileBytes(parent)), complete);
        return;
      }
      ASSERT_TRUE(FileExists(own)) << "trace file deleted after an incomplete copy";
      // A later merge without faults (as at unload) brings every line over,
      // and what an earlier attempt left torn does not put it out of step.
      plan.Disarm();
      g_TraceLog.CloseAndMerge();
      EXPECT_FALSE(FileExists(own));
      const std::string bytes = ReadFileBytes(parent);
      EXPECT_EQ(bytes.size() % 2, 0u);
      const std::wstring text = DecodeUtf16Le(bytes);
      ASSERT_GE(text.size(), block.size());
      EXPECT_EQ(text.substr(text.size() - block.size()), block);
      EXPECT_EQ(text.compare(0, hostLine.size() + 3, L"\xFEFF" + hostLine + L"\r\n"), 0);
    });
  }
}
