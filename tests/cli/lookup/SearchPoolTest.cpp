// The batch worker pool against the loopback sample wiki, through the
// plug-in library loaded as a host loads it: every worker has its own
// plug-in object, an artist's address and song list are fetched once per
// run, and the downloads add up to artist lookups + song lists + lyrics
// pages. Built to run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "cli/host/PluginLibrary.h"
#include "cli/lookup/SearchPool.h"
#include "cli/sys/TextConvert.h"
#include "support/WikiServer.h"

namespace {

class SearchPoolTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { s_pServer = new CWikiServer(std::string(VERSEWELL_SOURCE_DIR) + "/wiki/sample"); }
  static void TearDownTestSuite() {
    delete s_pServer;
    s_pServer = nullptr;
  }

  void SetUp() override {
    std::string error;
    ASSERT_TRUE(m_library.Load(VERSEWELL_PLUGIN_PATH, error)) << error;
  }

  cli::SPoolConfig Config(unsigned jobs) {
    cli::SPoolConfig config;
    config.nJobs = jobs;
    config.lookup.nRetries = 0;
    config.strProxy = s_pServer->WProxy();
    return config;
  }

  // Runs the pool; returns the outcomes by job index and the thread each
  // found song was delivered on.
  std::map<size_t, cli::SSongOutcome> Run(cli::CSearchPool& pool, const std::vector<cli::SSongJob>& jobs,
                                          std::set<std::thread::id>* deliveryThreads = nullptr) {
    std::map<size_t, cli::SSongOutcome> outcomes;
    std::mutex mutex;
    std::string error;
    const std::thread::id caller = std::this_thread::get_id();
    bool ran = pool.Run(
        jobs, nullptr,
        [&](size_t, const cli::SSongResult&) {
          std::lock_guard<std::mutex> lock(mutex);
          if (deliveryThreads != nullptr) deliveryThreads->insert(std::this_thread::get_id());
          cli::SDelivery delivery;
          delivery.bWritten = true;
          return delivery;
        },
        [&](const cli::SSongOutcome& outcome) {
          EXPECT_EQ(std::this_thread::get_id(), caller) << "reports arrive on the calling thread";
          EXPECT_EQ(outcomes.count(outcome.nIndex), 0u) << "each song is reported once";
          outcomes[outcome.nIndex] = outcome;
        },
        nullptr, error);
    EXPECT_TRUE(ran) << error;
    return outcomes;
  }

  static CWikiServer* s_pServer;
  cli::CPluginLibrary m_library;
};

CWikiServer* SearchPoolTest::s_pServer = nullptr;

std::vector<cli::SSongJob> Jobs(const std::vector<std::pair<const wchar_t*, const wchar_t*>>& songs) {
  std::vector<cli::SSongJob> jobs;
  for (const auto& [artist, title] : songs) jobs.push_back({artist, title});
  return jobs;
}

TEST_F(SearchPoolTest, EachArtistIsLookedUpOnceAndDownloadsAddUp) {
  // Three artists, nine songs, one title that is not on the wiki.
  std::vector<cli::SSongJob> jobs = Jobs({{L"Quillfeather", L"Salt Road"},
                                          {L"Corrie Fen", L"Loch Lomond"},
                                          {L"quillfeather", L"greensleeves"},
                                          {L"Quillfeather", L"Salt Road (1998)"},
                                          {L"Corrie Fen", L"The Parting Glass"},
                                          {L"Quillfeather", L"Quill and Ink"},
                                          {L"Juniper Row", L"Amazing Grace"},
                                          {L"Juniper Row", L"Auld Lang Syne"},
                                          {L"Quillfeather", L"No Such Song"}});
  cli::CSearchPool pool(m_library, Config(4));
  std::set<std::thread::id> threads;
  std::map<size_t, cli::SSongOutcome> outcomes = Run(pool, jobs, &threads);
  ASSERT_EQ(outcomes.size(), jobs.size());
  for (size_t i = 0; i + 1 < jobs.size(); ++i) {
    EXPECT_EQ(outcomes[i].result.eOutcome, cli::EOutcome::Found) << i << ": " << outcomes[i].result.failure.strMessage;
    EXPECT_FALSE(outcomes[i].result.song.strLyrics.empty());
    EXPECT_TRUE(outcomes[i].delivery.bWritten);
  }
  EXPECT_EQ(outcomes[8].result.eOutcome, cli::EOutcome::NotFound);
  EXPECT_NE(outcomes[8].result.failure.strMessage.find("No Such Song"), std::string::npos);
  EXPECT_EQ(cli::WideToUtf8(outcomes[3].result.song.strUrl), "lyrics.wiki.example/wiki/Quillfeather:Salt_Road_(1998)");
  EXPECT_EQ(cli::WideToUtf8(outcomes[2].result.song.strArtist), "Quillfeather");
  EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u) << "files are written on the workers";

  const cli::SDownloadCounts& counts = pool.Counts();
  EXPECT_EQ(counts.nLists, 3u) << "one song list per artist";
  EXPECT_EQ(counts.nLyrics, 8u) << "one lyrics page per found song";
  EXPECT_EQ(counts.nFailed, 0u);
  // Each lookup reads one or two index pages; never more than two per artist.
  unsigned lookups = counts.nLookupsAndLists - counts.nLists;
  EXPECT_GE(lookups, 3u);
  EXPECT_LE(lookups, 6u);
  EXPECT_EQ(outcomes[3].result.song.strMatch, "exact");
}

TEST_F(SearchPoolTest, OneWorkerAndFourWorkersDownloadTheSameAmount) {
  std::vector<cli::SSongJob> jobs = Jobs({{L"Corrie Fen", L"Loch Lomond"},
                                          {L"Corrie Fen", L"The Parting Glass"},
                                          {L"Juniper Row", L"Amazing Grace"},
                                          {L"Juniper Row", L"Auld Lang Syne"},
                                          {L"Nobody At All Here", L"Song"}});
  cli::CSearchPool one(m_library, Config(1));
  Run(one, jobs);
  cli::CSearchPool four(m_library, Config(4));
  std::map<size_t, cli::SSongOutcome> outcomes = Run(four, jobs);
  EXPECT_EQ(outcomes[4].result.eOutcome, cli::EOutcome::NotFound);
  EXPECT_EQ(one.Counts().nLookupsAndLists, four.Counts().nLookupsAndLists);
  EXPECT_EQ(one.Counts().nLyrics, four.Counts().nLyrics);
  EXPECT_EQ(four.Counts().nLists, 2u);
}

TEST_F(SearchPoolTest, AFarTitleIsTakenOnlyWithClosest) {
  std::vector<cli::SSongJob> jobs = Jobs({{L"Quillfeather", L"Zzzzzzzz Qqqqqq"}, {L"Quillfeather", L"Salt Rod"}});
  cli::CSearchPool strict(m_library, Config(2));
  std::map<size_t, cli::SSongOutcome> outcomes = Run(strict, jobs);
  EXPECT_EQ(outcomes[0].result.eOutcome, cli::EOutcome::NotFound);
  EXPECT_FALSE(outcomes[0].result.failure.vecSuggestions.empty());
  EXPECT_EQ(outcomes[1].result.eOutcome, cli::EOutcome::Found);
  EXPECT_EQ(outcomes[1].result.song.strMatch, "close");
  EXPECT_EQ(strict.Counts().nLyrics, 1u) << "no lyrics page for a title that was not taken";

  cli::SPoolConfig config = Config(2);
  config.lookup.bClosest = true;
  cli::CSearchPool closest(m_library, config);
  cli::SSongOutcome outcome = Run(closest, jobs)[0];
  EXPECT_EQ(outcome.result.eOutcome, cli::EOutcome::Found);
  EXPECT_EQ(outcome.result.song.strMatch, "closest");
}

TEST_F(SearchPoolTest, ANetworkFailureIsReportedAsSuchAndRetried) {
  cli::SPoolConfig config = Config(1);
  config.strProxy = L"127.0.0.1:1";  // nothing listens there
  config.lookup.nRetries = 1;
  cli::CSearchPool pool(m_library, config);
  cli::SSongOutcome outcome = Run(pool, Jobs({{L"Quillfeather", L"Salt Road"}}))[0];
  EXPECT_EQ(outcome.result.eOutcome, cli::EOutcome::Network);
  EXPECT_EQ(pool.Counts().nFailed, 2u) << "one try and one retry";
}

// A list naming the same pages several times (the same line again, other
// spellings of artist and title), run with more workers than pages, many
// times over so that the workers meet on a page in every possible order:
// each page is downloaded once per run, and every line gets its lyrics.
TEST_F(SearchPoolTest, APageNamedByManyLinesIsFetchedOncePerRunWithManyWorkers) {
  std::vector<cli::SSongJob> jobs;
  for (int copy = 0; copy < 4; ++copy) {
    jobs.push_back({L"Quillfeather", L"Salt Road"});
    jobs.push_back({L"quillfeather", L"salt road"});
    jobs.push_back({L"Corrie Fen", L"Loch Lomond"});
    jobs.push_back({L" CORRIE FEN ", L"loch lomond"});
    jobs.push_back({L"Corrie Fen", L"The Parting Glass"});
  }
  for (int round = 0; round < 15; ++round) {
    cli::CSearchPool pool(m_library, Config(8));
    std::map<size_t, cli::SSongOutcome> outcomes = Run(pool, jobs);
    ASSERT_EQ(outcomes.size(), jobs.size());
    std::map<std::wstring, std::wstring> lyricsByPage;
    for (const auto& [index, outcome] : outcomes) {
      ASSERT_EQ(outcome.result.eOutcome, cli::EOutcome::Found) << index << ": " << outcome.result.failure.strMessage;
      EXPECT_TRUE(outcome.delivery.bWritten) << index;
      auto [it, first] = lyricsByPage.emplace(outcome.result.song.strUrl, outcome.result.song.strLyrics);
      EXPECT_FALSE(it->second.empty());
      EXPECT_EQ(it->second, outcome.result.song.strLyrics) << "every line of a page gets the page's lyrics";
    }
    EXPECT_EQ(lyricsByPage.size(), 3u);
    EXPECT_EQ(pool.Counts().nLyrics, 3u) << "round " << round << ": one download per page";
    EXPECT_EQ(pool.Counts().nLists, 2u) << "round " << round;
    EXPECT_EQ(pool.Counts().nFailed, 0u);
  }
}

// Lines that share an artist entry get the same answer whichever comes
// first: the entry is fetched under the name without the blanks around it
// (a name that begins with a blank is no artist the wiki knows).
TEST_F(SearchPoolTest, LinesSharingAnArtistGetOneAnswerWhicheverComesFirst) {
  cli::CSearchPool pool(m_library, Config(1));
  std::map<size_t, cli::SSongOutcome> outcomes =
      Run(pool, Jobs({{L" CORRIE FEN ", L"loch lomond"}, {L"Corrie Fen", L"The Parting Glass"}}));
  ASSERT_EQ(outcomes.size(), 2u);
  EXPECT_EQ(outcomes[0].result.eOutcome, cli::EOutcome::Found) << outcomes[0].result.failure.strMessage;
  EXPECT_EQ(outcomes[1].result.eOutcome, cli::EOutcome::Found) << outcomes[1].result.failure.strMessage;
  EXPECT_EQ(pool.Counts().nLists, 1u);
}

// With a check that skips what was saved before (as `batch --out` does), a
// page named twice is saved by one worker and skipped by the other, never
// fetched or saved twice, however the workers meet.
TEST_F(SearchPoolTest, ASavedPageIsSkippedByTheOtherLinesThatNameIt) {
  std::vector<cli::SSongJob> jobs;
  for (int copy = 0; copy < 6; ++copy) {
    jobs.push_back({L"Juniper Row", L"Amazing Grace"});
    jobs.push_back({L"Juniper Row", L"Auld Lang Syne"});
  }
  for (int round = 0; round < 15; ++round) {
    std::mutex mutex;
    std::map<std::wstring, int> saves;
    std::string error;
    unsigned skipped = 0, written = 0;
    cli::CSearchPool pool(m_library, Config(8));
    ASSERT_TRUE(pool.Run(
        jobs,
        [&](size_t, const cli::SSongResult& r) {
          std::lock_guard<std::mutex> lock(mutex);
          return saves.count(r.song.strUrl) != 0 ? std::string("already saved") : std::string();
        },
        [&](size_t, const cli::SSongResult& r) {
          std::lock_guard<std::mutex> lock(mutex);
          ++saves[r.song.strUrl];
          cli::SDelivery delivery;
          delivery.bWritten = true;
          return delivery;
        },
        [&](const cli::SSongOutcome& outcome) {
          skipped += outcome.result.bSkipped ? 1 : 0;
          written += outcome.delivery.bWritten ? 1 : 0;
        },
        nullptr, error))
        << error;
    EXPECT_EQ(saves, (std::map<std::wstring, int>{{L"lyrics.wiki.example/wiki/Juniper_Row:Amazing_Grace", 1},
                                                  {L"lyrics.wiki.example/wiki/Juniper_Row:Auld_Lang_Syne", 1}}))
        << "round " << round;
    EXPECT_EQ(written, 2u);
    EXPECT_EQ(skipped, jobs.size() - 2);
    EXPECT_EQ(pool.Counts().nLyrics, 2u) << "round " << round;
  }
}

TEST(SearchPoolOrder, SongsStartArtistByArtistInTurn) {
  std::vector<cli::SSongJob> jobs =
      Jobs({{L"A", L"1"}, {L"A", L"2"}, {L"A", L"3"}, {L"b", L"1"}, {L" B ", L"2"}, {L"C", L"1"}});
  EXPECT_EQ(cli::CSearchPool::StartOrder(jobs), (std::vector<size_t>{0, 3, 5, 1, 4, 2}));
  EXPECT_TRUE(cli::CSearchPool::StartOrder({}).empty());
}

}  // namespace

// The run's page memo keeps found lyrics only within its budget of
// characters: a page over it is forgotten (the next line naming it fetches
// it again), and a page without lyrics costs nothing.
TEST(SongPageMemo, KeepsLyricsWithinItsBudgetAndForgetsWhatGoesOver) {
  using cli::EOutcome;
  cli::CSongPageMemo memo(10);
  {
    auto hold = memo.Hold(L"a");
    EXPECT_EQ(hold.Kept(), nullptr);
    hold.Keep({EOutcome::Found, L"123456", {}});
  }
  {
    auto hold = memo.Hold(L"a");
    ASSERT_NE(hold.Kept(), nullptr);
    EXPECT_EQ(hold.Kept()->strLyrics, L"123456");
  }
  memo.Hold(L"b").Keep({EOutcome::Found, L"12345", {}});  // 6 + 5 is over 10
  {
    auto hold = memo.Hold(L"b");
    EXPECT_EQ(hold.Kept(), nullptr) << "a page over the budget is fetched again";
    hold.Keep({EOutcome::Found, L"1234", {}});  // 6 + 4 fits exactly
  }
  {
    auto hold = memo.Hold(L"b");
    ASSERT_NE(hold.Kept(), nullptr);
    EXPECT_EQ(hold.Kept()->strLyrics, L"1234");
  }
  memo.Hold(L"c").Keep({EOutcome::NotFound, L"", {}});
  {
    auto hold = memo.Hold(L"c");
    ASSERT_NE(hold.Kept(), nullptr);
    EXPECT_EQ(hold.Kept()->eOutcome, EOutcome::NotFound);
  }
  memo.Hold(L"d").Keep({EOutcome::Found, L"12345678901", {}});  // longer than the whole budget
  EXPECT_EQ(memo.Hold(L"d").Kept(), nullptr);
}
