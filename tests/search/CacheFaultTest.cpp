// Fault loops over the artist cache on the posix INI module: a run of cache
// writes (one by one, and in queued pages written as batches) that
// appends, replaces and compacts, once without faults to count
// the module's file calls, then once for every k up to that count with the
// k-th open, lock, write, flush (fsync) or rename failing, once or from then
// on, or the k-th write cut short.
//
// After every write the file, read by a parser of this test's own, holds
// either the entries before the write or those after it, and a write
// reported done is never lost; every failed write is one trace line; and
// once a later write succeeds no temporary file is left.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "diag/TraceLevels.h"
#include "search/LocalCache.h"
#include "support/FailingProfileFileCalls.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

namespace {

typedef std::map<std::wstring, std::wstring> CEntries;

// The sections and "ArtistUrl" values of a cache file this test wrote
// (plain names, no escapes); a last line without its line break is ignored,
// as is a section without the key.
CEntries ParseCacheFile(const std::string& path) {
  CEntries entries;
  if (!FileExists(path)) return entries;
  const std::string bytes = ReadFileBytes(path);
  if (bytes.size() < 2 || bytes.compare(0, 2, "\xFF\xFE") != 0) return entries;
  const std::wstring text = DecodeUtf16Le(bytes.substr(2, (bytes.size() - 2) & ~size_t(1)));
  std::wstring section;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(L"\r\n", start);
    if (end == std::wstring::npos) break;
    const std::wstring line = text.substr(start, end - start);
    start = end + 2;
    if (line.size() >= 2 && line.front() == L'[' && line.back() == L']')
      section = line.substr(1, line.size() - 2);
    else if (line.compare(0, 10, L"ArtistUrl=") == 0 && !section.empty())
      entries[section] = line.substr(10);
  }
  return entries;
}

class CacheFaults : public ::testing::Test {
 protected:
  static const int WRITES = 60;

  // Ten names written six times each with long addresses: the file passes
  // the compaction size while replaced values outnumber live ones.
  static std::wstring Name(int i) { return L"Artist " + std::to_wstring(i % 10); }
  static std::wstring Url(int i) {
    return L"lyrics.wiki.example/wiki/Artist_" + std::to_wstring(i % 10) + L"_take_" + std::to_wstring(i) + L"/" +
           std::wstring(200, L'x');
  }

  // What one run writes into: a fresh cache folder, its log and the file.
  struct CRun {
    CTempDir dir;
    CTraceCapture trace{TRACE_DEBUG};
    CLocalCache cache{CString(dir.WPath().c_str()), L"Src", L"id"};
    std::string folder = dir.File("Src/id");
    std::string file = folder + "/A.ARTISTCACHE";
  };

  static int FailLines(const CTraceCapture& trace) {
    int failLines = 0;
    for (const std::wstring& m : trace.Messages())
      if (m.compare(0, 40, L"WriteArtistUrl to LocalCache fails for: ") == 0) ++failLines;
    return failLines;
  }

  // After the faults: once the last entry is added, the file holds `model`
  // and no temporary file, and the module reads every entry as the file
  // holds it.
  void CheckFinal(CLocalCache& cache, const std::string& folder, const std::string& file, CEntries& model) {
    model[L"Artist final"] = L"lyrics.wiki.example/wiki/Artist_final";
    EXPECT_EQ(ParseCacheFile(file), model);
    for (const std::string& name : CTempDirListing(folder)) EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
    for (const auto& entry : model) {
      CString url;
      EXPECT_TRUE(cache.ReadArtistUrl(CString(entry.first.c_str()), url, 0.0f)) << ToUtf8(entry.first);
      EXPECT_EQ(url.Str(), entry.second);
    }
  }

  // One run of the scenario; returns false when something failed fatally.
  void RunWrites() {
    CRun run;
    CEntries model;
    int failures = 0;
    for (int i = 0; i < WRITES; ++i) {
      const CEntries before = model;
      CEntries after = model;
      after[Name(i)] = Url(i);
      const std::wstring failLine = L"WriteArtistUrl to LocalCache fails for: " + Name(i);
      const int failLinesBefore = run.trace.Count(failLine, TRACE_DEBUG);
      const bool ok = run.cache.WriteArtistUrl(CString(Name(i).c_str()), CString(Url(i).c_str()));
      const CEntries onDisk = ParseCacheFile(run.file);
      if (ok) {
        ASSERT_EQ(onDisk, after) << "write " << i << " reported done but not on disk";
        model = after;
      } else {
        ++failures;
        ASSERT_TRUE(onDisk == before || onDisk == after) << "write " << i << " left a mixed file";
        EXPECT_EQ(run.trace.Count(failLine, TRACE_DEBUG), failLinesBefore + 1);
        if (onDisk == after) model = after;
      }
    }
    EXPECT_EQ(FailLines(run.trace), failures);

    // Faults over: the next write succeeds, leaves no temporary file, and
    // the module itself reads every entry as the file holds it.
    plan.Stop();
    calls.failTruncate = false;
    calls.failUnlink = false;
    // First a write that finds its value already there (it writes nothing
    // and compacts nothing), then a new entry.
    const int last = WRITES - 1;
    if (model.count(Name(last)) != 0 && model[Name(last)] == Url(last)) {
      ASSERT_TRUE(run.cache.WriteArtistUrl(CString(Name(last).c_str()), CString(Url(last).c_str())));
      for (const std::string& name : CTempDirListing(run.folder)) EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
    }
    ASSERT_TRUE(run.cache.WriteArtistUrl(L"Artist final", L"lyrics.wiki.example/wiki/Artist_final"));
    CheckFinal(run.cache, run.folder, run.file, model);
  }

  // The index lookup's way of writing: pages of queued titles, each page
  // flushed as one batch. Titles repeat within a page with other addresses
  // (the later one wins) and across pages, so that batches replace values
  // and the file is compacted on the way. After every flush the file holds
  // the entries before the page or after it, or, when the append could not
  // be taken back either (`partialAllowed`), those after some first part of
  // the page; a failed page gives one trace line per title.
  void RunPages(bool partialAllowed) {
    CRun run;
    CEntries model;
    int failedTitles = 0;
    for (int page = 0; page < PAGES; ++page) {
      std::vector<CEntries> states(1, model);  // after each first part of the page
      for (int t = 0; t < TITLES_PER_PAGE; ++t) {
        const int i = page * TITLES_PER_PAGE + t;
        ASSERT_TRUE(run.cache.QueueArtistUrl(CString(Name(i * 7 / 3).c_str()), CString(Url(i).c_str())));
        states.push_back(states.back());
        states.back()[Name(i * 7 / 3)] = Url(i);
      }
      const bool ok = run.cache.FlushArtistUrls();
      const CEntries onDisk = ParseCacheFile(run.file);
      if (ok) {
        ASSERT_EQ(onDisk, states.back()) << "page " << page << " reported done but not on disk";
      } else {
        failedTitles += TITLES_PER_PAGE;
        bool known = onDisk == states.front() || onDisk == states.back();
        for (size_t k = 1; partialAllowed && !known && k < states.size(); ++k) known = onDisk == states[k];
        ASSERT_TRUE(known) << "page " << page << " left a file that no first part of it explains";
      }
      model = onDisk;
    }
    EXPECT_EQ(FailLines(run.trace), failedTitles);

    plan.Stop();
    calls.failTruncate = false;
    calls.failUnlink = false;
    ASSERT_TRUE(run.cache.QueueArtistUrl(L"Artist final", L"lyrics.wiki.example/wiki/Artist_final"));
    ASSERT_TRUE(run.cache.FlushArtistUrls());
    CheckFinal(run.cache, run.folder, run.file, model);
  }
  static const int PAGES = 8;
  static const int TITLES_PER_PAGE = 9;

  static std::vector<std::string> CTempDirListing(const std::string& folder);

  CFaultPlan plan;
  CFailingProfileFileCalls calls{plan};
  ScopedProfileFileCalls scoped{calls};
};

}  // namespace

#include <dirent.h>

std::vector<std::string> CacheFaults::CTempDirListing(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d)) names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

TEST_F(CacheFaults, EveryFailedCallLeavesOldOrNewTextAndLosesNoCompletedEntry) {
  for (EFileCall kind : {EFileCall::OPEN, EFileCall::LOCK, EFileCall::WRITE, EFileCall::FLUSH, EFileCall::RENAME}) {
    SCOPED_TRACE(FileCallName(kind));
    ForEveryFault(plan, kind, [&] { RunWrites(); });
    if (HasFatalFailure()) return;
  }
}

// Two faults in one run: an append cut short whose rollback (truncate) also
// fails, and a compaction whose rename and clean-up both fail.
TEST_F(CacheFaults, SecondFaultInTheRecoveryStillLosesNothing) {
  plan.Disarm();
  RunWrites();
  const int writes = plan.Calls(EFileCall::WRITE);
  const int renames = plan.Calls(EFileCall::RENAME);
  for (int k = 1; k <= writes; ++k) {
    plan.Arm(EFileCall::WRITE, k, EFaultMode::SHORT_WRITE);
    calls.failTruncate = true;
    SCOPED_TRACE(plan.Describe() + ", every truncate failing");
    RunWrites();
    if (HasFatalFailure()) return;
  }
  ASSERT_GT(renames, 0);
  for (int k = 1; k <= renames; ++k) {
    plan.Arm(EFileCall::RENAME, k, EFaultMode::PERSISTENT);
    calls.failUnlink = true;
    SCOPED_TRACE(plan.Describe() + ", every unlink failing");
    RunWrites();  // checks that the final, successful write leaves no temporary file
    if (HasFatalFailure()) return;
  }
}

TEST_F(CacheFaults, EveryFailedCallInABatchLeavesThePageWholeOrAbsent) {
  for (EFileCall kind : {EFileCall::OPEN, EFileCall::LOCK, EFileCall::WRITE, EFileCall::FLUSH, EFileCall::RENAME}) {
    SCOPED_TRACE(FileCallName(kind));
    ForEveryFault(plan, kind, [&] { RunPages(false); });
    if (HasFatalFailure()) return;
  }
}

// A batch's append cut short whose rollback fails too: what stands is the
// page up to some title, never a torn or unparseable file, and the next
// flush repairs the tail.
TEST_F(CacheFaults, BatchCutShortWithoutRollbackKeepsAFirstPartOfThePage) {
  plan.Disarm();
  RunPages(false);
  const int writes = plan.Calls(EFileCall::WRITE);
  ASSERT_GT(writes, 0);
  for (int k = 1; k <= writes; ++k) {
    plan.Arm(EFileCall::WRITE, k, EFaultMode::SHORT_WRITE);
    calls.failTruncate = true;
    SCOPED_TRACE(plan.Describe() + ", every truncate failing");
    RunPages(true);
    if (HasFatalFailure()) return;
  }
}
