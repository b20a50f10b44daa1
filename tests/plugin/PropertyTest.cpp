#include <gtest/gtest.h>

#include <memory>

#include "diag/TraceLog.h"
#include "plugin/Versewell.h"
#include "support/TraceCapture.h"

namespace {

std::unique_ptr<CLyricsDllInterface> NewPlugin() { return std::unique_ptr<CLyricsDllInterface>(new CVersewell()); }

}  // namespace

TEST(Properties, ReadableIdentityAndZeroStatistics) {
  auto p = NewPlugin();
  CString name, id;
  EXPECT_EQ(p->GetProperty(L"SourceName", &name), 1);
  EXPECT_EQ(name, L"Versewell");
  EXPECT_EQ(p->GetProperty(L"SourceId", &id), 1);
  for (const wchar_t* stat : {L"StatisticDownloadCounter", L"StatisticSuccessfulDownloads", L"StatisticTotalDownloadTime"}) {
    uint32_t v = 99;
    EXPECT_EQ(p->GetProperty(stat, &v), 1) << stat;
    EXPECT_EQ(v, 0u) << stat;
  }
  for (const wchar_t* constant : {L"SupportedSearch", L"AlbumsItearationConstant", L"TitlesItearationConstant"}) {
    int32_t v = 99;
    EXPECT_EQ(p->GetProperty(constant, &v), 1) << constant;
    EXPECT_EQ(v, 0) << constant;
  }
}

TEST(Properties, UnknownMisspelledOrNullReadsAreRefused) {
  CTraceCapture capture(TRACE_DEBUG);
  auto p = NewPlugin();
  int32_t v = 5;
  EXPECT_EQ(p->GetProperty(L"AlbumsIterationConstant", &v), 0);
  EXPECT_EQ(p->GetProperty(L"TitlesIterationConstant", &v), 0);  // the correct spelling is not the name
  EXPECT_EQ(p->GetProperty(L"sourcename", &v), 0);
  EXPECT_EQ(p->GetProperty(L"LogFolder", &v), 0);
  EXPECT_EQ(p->GetProperty(L"SourceName", nullptr), 0);
  EXPECT_EQ(v, 5);
  EXPECT_EQ(capture.Count(L"CCommonDllInterface::Property not found: AlbumsIterationConstant", TRACE_ERROR), 1);
  EXPECT_EQ(capture.Count(L"CCommonDllInterface::Property not found: TitlesIterationConstant", TRACE_ERROR), 1);
  EXPECT_EQ(capture.Count(L"CCommonDllInterface::Property not found: sourcename", TRACE_ERROR), 1);
  EXPECT_EQ(capture.Count(L"CCommonDllInterface::Property not found: LogFolder", TRACE_ERROR), 1);
  EXPECT_EQ(capture.Count(L"CCommonDllInterface::Property not found: SourceName", TRACE_ERROR), 1);
}

TEST(Properties, RefusedSettingsHaveTwoBlanksBeforeTheDash) {
  CTraceCapture capture(TRACE_DEBUG);
  auto p = NewPlugin();
  CString value = L"x";
  EXPECT_EQ(p->SetProperty(L"SourceName", &value), 0);
  EXPECT_EQ(p->SetProperty(L"tracelevel", &value), 0);
  EXPECT_EQ(p->SetProperty(L"TraceLevel", nullptr), 0);
  EXPECT_EQ(capture.Count(L"CCommonDllInterface::Set Property SourceName:  - Can not be set.", TRACE_WARNING), 1);
  EXPECT_EQ(capture.Count(L"CCommonDllInterface::Set Property tracelevel:  - Can not be set.", TRACE_WARNING), 1);
  EXPECT_EQ(capture.Count(L"CCommonDllInterface::Set Property TraceLevel:  - Can not be set.", TRACE_WARNING), 1);
}

TEST(Properties, LocalCacheFolderOnlyOnceAndNotEmpty) {
  CTraceCapture capture(TRACE_DEBUG);
  CTempDir cacheDir;
  auto p = NewPlugin();
  CString empty, folder = cacheDir.WPath().c_str();
  EXPECT_EQ(p->SetProperty(L"LocalCacheFolder", &empty), 0);
  EXPECT_EQ(capture.Count(L"CCommonDllInterface::Set Property LocalCacheFolder: Path not specified", TRACE_WARNING), 1);
  EXPECT_EQ(p->SetProperty(L"LocalCacheFolder", &folder), 1);
  EXPECT_EQ(capture.Count(L"CCommonDllInterface::Set Property LocalCacheFolder: " + std::wstring(folder.GetString()),
                          TRACE_DEBUG),
            1);
  EXPECT_EQ(p->SetProperty(L"LocalCacheFolder", &folder), 0);
  EXPECT_EQ(p->SetProperty(L"LocalCacheFolder", &empty), 0);
  EXPECT_EQ(capture.Count(L"CCommonDllInterface::Set Property LocalCacheFolder: already ini.lized", TRACE_INFO), 2);
}

TEST(Properties, TraceLevelMustFollowLogFolder) {
  CTempDir dir;
  auto p = NewPlugin();
  g_TraceLog.Close();
  CString debug = L"Debug", folder = dir.WPath().c_str();
  EXPECT_EQ(p->SetProperty(L"TraceLevel", &debug), 1);
  EXPECT_EQ(p->SetProperty(L"LogFolder", &folder), 1);
  g_TraceLog.Log(TRACE_DEBUG, L"level 40 after LogFolder");
  EXPECT_TRUE(g_TraceLog.GetTraceFilePath().IsEmpty() || dir.List().empty());
  EXPECT_EQ(p->SetProperty(L"TraceLevel", &debug), 1);
  g_TraceLog.Log(TRACE_DEBUG, L"now visible");
  std::vector<std::string> files = dir.List();
  ASSERT_EQ(files.size(), 1u);
  std::wstring text = DecodeUtf16Le(ReadFileBytes(dir.File(files[0])).substr(2));
  EXPECT_EQ(text.find(L"level 40 after LogFolder"), std::wstring::npos);
  EXPECT_NE(text.find(L"DBG: CCommonDllInterface::Set Property TraceLevel: Debug\r\n"), std::wstring::npos);
  EXPECT_NE(text.find(L"now visible"), std::wstring::npos);
  EXPECT_EQ(files[0].rfind("Versewell_", 0), 0u);
  g_TraceLog.Close();
}

TEST(Properties, ParentLogfilePathIsStored) {
  CTraceCapture capture(TRACE_DEBUG);
  auto p = NewPlugin();
  CString path = L"/var/log/host.log";
  EXPECT_EQ(p->SetProperty(L"ParentLogfilePath", &path), 1);
  EXPECT_EQ(g_TraceLog.GetParentLogPath(), path);
  EXPECT_EQ(capture.Count(L"CCommonDllInterface::Set Property ParentLogfilePath: /var/log/host.log", TRACE_DEBUG), 1);
}

TEST(Properties, UnknownMethodIsRefused) {
  CTraceCapture capture(TRACE_DEBUG);
  auto p = NewPlugin();
  EXPECT_EQ(p->CallMethod(L"closeAndMergeLog", nullptr), 0);
  EXPECT_EQ(capture.Count(L"CCommonDllInterface::CallMethod - Method not found: closeAndMergeLog", TRACE_ERROR), 1);
}
