// FindArtistSongList and GetLyrics end to end against the loopback wiki.
#include "search/SearchWikiFixture.h"
#include "support/FakeHttpTransport.h"

namespace {

const wchar_t SALT_ROAD[] =
    L"Down the salt road in the grey of the morning,\r\n"
    L"gulls on the wire and the tide running low,\r\n"
    L"I left my lantern to burn by the window\r\n"
    L"so you'd know the way when the north winds blow.\r\n"
    L"Salt on the doorstep & salt on the shutter,\r\n"
    L"salt in the bread that my grandmother made,\r\n"
    L"we'll walk the salt road when the season is turning\r\n"
    L"and sing till the last of the evening light fades.";

SongListEntry Filler() {
  SongListEntry e(SongEntry(L"Old", L"Old Artist", L"", true));
  e.Url = L"old.example/x";
  return e;
}

}  // namespace

TEST_F(SearchWiki, SongListBuildsEntriesFromBoldListLinks) {
  std::list<SongListEntry> songs = {Filler()};
  EXPECT_EQ(plugin.FindArtistSongList(L"quillfeather", songs), 8);
  ASSERT_EQ(songs.size(), 8u);

  CString sourceId;
  ASSERT_EQ(plugin.GetProperty(L"SourceId", &sourceId), 1);
  const std::vector<std::pair<std::wstring, std::wstring>> expected = {
      {L"Salt Road", L"/wiki/Quillfeather:Salt_Road"},
      {L"Rock & Roll Lantern", L"/wiki/Quillfeather:Rock_and_Roll_Lantern"},
      {L"Bells and Buoys", L"/wiki/Quillfeather:Bells_and_Buoys"},
      {L"Lyrics of the Lamp", L"/wiki/Quillfeather:Lyrics_of_the_Lamp"},
      {L"Harbour Hymn", L"/wiki/Quillfeather:Harbour_Hymn"},
      {L"Slack Water", L"/wiki/Quillfeather:Slack_Water"},
      {L"Broken Compass", L"/wiki/Quillfeather:Broken_Compass"},
      {L"Salt Road", L"/wiki/Quillfeather:Salt_Road_(Live)"},  // duplicates are kept
  };
  size_t i = 0;
  for (const SongListEntry& e : songs) {
    SCOPED_TRACE(i);
    EXPECT_EQ(e.Title, expected[i].first);
    EXPECT_EQ(e.Url, Site(expected[i].second));
    EXPECT_EQ(e.Artist, L"quillfeather");  // as the host passed it
    EXPECT_TRUE(e.Extra1.empty());
    EXPECT_TRUE(e.Extra2.empty());
    EXPECT_FALSE(e.Flag);
    EXPECT_EQ(e.SourceName, L"Versewell");
    EXPECT_EQ(e.SourceId, sourceId.GetString());
    ++i;
  }
  EXPECT_FALSE(trace.Contains(L"FindArtistSongList():"));
}

TEST_F(SearchWiki, SongListEarlyFailuresLeaveHostListAlone) {
  std::list<SongListEntry> songs = {Filler()};
  EXPECT_EQ(plugin.FindArtistSongList(L"Zachary Nobody", songs), 0);
  ASSERT_EQ(songs.size(), 1u);
  EXPECT_EQ(songs.front().Title, L"Old");
  EXPECT_EQ(trace.Count(L"FindArtistSongList():Can not find artistUrl for: Zachary Nobody", 20), 1);

  // Found in the index, but the artist page itself is missing.
  EXPECT_EQ(plugin.FindArtistSongList(L"Zinc Parade", songs), 0);
  ASSERT_EQ(songs.size(), 1u);
  EXPECT_TRUE(trace.Contains(L"Download fails: " + Site(L"/wiki/Zinc_Parade")));
  EXPECT_FALSE(trace.Contains(L"Can not find any Lyrics for: Zinc Parade"));
}

TEST_F(SearchWiki, SongListOfPageWithoutSongsIsEmptiedAndLogged) {
  std::list<SongListEntry> songs = {Filler()};
  EXPECT_EQ(plugin.FindArtistSongList(L"Quiet Harbour", songs), 0);
  EXPECT_TRUE(songs.empty());
  EXPECT_EQ(trace.Count(L"FindArtistSongList():Can not find any Lyrics for: Quiet Harbour", 20), 1);
}

TEST_F(SearchWiki, SongListStopKeepsEntriesAppendedSoFar) {
  // Queries: the index download, its first (exact) entry, the artist page
  // download, then one per song entry.
  host.stopAfterQueries = 3 + 3;
  std::list<SongListEntry> songs = {Filler()};
  EXPECT_EQ(plugin.FindArtistSongList(L"Quillfeather", songs), 0);
  ASSERT_EQ(songs.size(), 3u);
  EXPECT_EQ(songs.back().Title, L"Bells and Buoys");
}

TEST_F(SearchWiki, LyricsAreCleanedWithCrLfBreaks) {
  CString lyrics = L"stale";
  EXPECT_EQ(plugin.GetLyrics(Site(L"/wiki/Quillfeather:Salt_Road").c_str(), lyrics), 1);
  EXPECT_EQ(lyrics.Str(), SALT_ROAD);

  // UTF-8 text, upper-case break tags and references that look like markup.
  EXPECT_EQ(plugin.GetLyrics(Site(L"/wiki/Quillfeather:Rock_and_Roll_Lantern").c_str(), lyrics), 1);
  EXPECT_EQ(lyrics.Str(),
            L"Swing the lantern, Caf\x00E9 Mar\x00E9" L"e,\r\n"
            L"rock & roll on the quay,\r\n"
            L"\"one more round\" says the ferryman <Tom>,\r\n"
            L"and the night rolls out to sea.");

  EXPECT_EQ(plugin.GetLyrics(Site(L"/wiki/Quillfeather:Salt_Road_(Live)").c_str(), lyrics), 1);
  EXPECT_EQ(lyrics.Str(), L"(spoken) Thank you, good night!\r\nDown the salt road in the grey of the morning");
}

TEST_F(SearchWiki, LyricsRefusedPagesGiveEmptyText) {
  const wchar_t* refused[] = {
      L"/wiki/Quillfeather:Harbour_Hymn",    // carries the not-licensed notice
      L"/wiki/Quillfeather:Slack_Water",     // instrumental: only markup in the box
      L"/wiki/Quillfeather:Broken_Compass",  // bytes that are not UTF-8
      L"/wiki/Quillfeather:No_Such_Song",    // 404
      L"/wiki/Quillfeather",                 // no lyrics box
  };
  for (const wchar_t* path : refused) {
    CString lyrics = L"stale";
    EXPECT_EQ(plugin.GetLyrics(Site(path).c_str(), lyrics), 0) << path;
    EXPECT_TRUE(lyrics.IsEmpty()) << path;
  }
  EXPECT_EQ(Downloads(), 5u);

  plugin.SetHostCallback(nullptr);
  CString lyrics = L"stale";
  EXPECT_EQ(plugin.GetLyrics(Site(L"/wiki/Quillfeather:Salt_Road").c_str(), lyrics), 0);
  EXPECT_TRUE(lyrics.IsEmpty());
  EXPECT_EQ(Downloads(), 5u);
}

TEST_F(SearchWiki, StatisticsCountEveryDownloadOfAFullSearch) {
  std::list<SongListEntry> songs;
  ASSERT_EQ(plugin.FindArtistSongList(L"Quillfeather", songs), 8);
  CString lyrics;
  ASSERT_EQ(plugin.GetLyrics(songs.front().Url.c_str(), lyrics), 1);
  EXPECT_EQ(plugin.GetLyrics(Site(L"/wiki/Quillfeather:Lost_Verse").c_str(), lyrics), 0);

  // Index page, artist page, two song pages.
  EXPECT_EQ(Statistic(L"StatisticDownloadCounter"), 4u);
  EXPECT_EQ(Statistic(L"StatisticSuccessfulDownloads"), 3u);
  EXPECT_EQ(DownloadedUrls().size(), 4u);
  unsigned time = 0;
  EXPECT_EQ(plugin.GetProperty(L"StatisticTotalDownloadTime", &time), 1);
}

TEST_F(SearchWiki, ArtistPageThatDownloadsEmptyEmptiesTheListAndSaysWhy) {
  UseCache();
  // The artist's address comes from the cache, so the one download is the
  // artist page, which arrives as an empty text.
  ASSERT_TRUE(plugin.Cache()->WriteArtistUrl(L"Quillfeather", Site(L"/wiki/Quillfeather").c_str()));
  CFakeHttpTransport emptyPages;
  ScopedHttpTransport scope(emptyPages);
  std::list<SongListEntry> songs = {Filler()};
  const size_t earlier = trace.Messages().size();  // the cache folder setting
  EXPECT_EQ(plugin.FindArtistSongList(L"Quillfeather", songs), 0);
  EXPECT_TRUE(songs.empty());
  EXPECT_EQ(Downloads(), 1u);
  const std::vector<std::wstring> expected = {
      L"ArtistUrl found in local cache. Quillfeather, " + Site(L"/wiki/Quillfeather"),
      L"Download: " + Site(L"/wiki/Quillfeather"),
      L"Input string is empty",
      L"NOT initialized (string to match is empty)",
      L"FindArtistSongList():Can not find any Lyrics for: Quillfeather",
  };
  const std::vector<std::wstring> all = trace.Messages();
  EXPECT_EQ(std::vector<std::wstring>(all.begin() + static_cast<long>(earlier), all.end()), expected);
  EXPECT_EQ(trace.Count(expected[0], 30), 1);
  EXPECT_EQ(trace.Count(expected[1], 40), 1);
  EXPECT_EQ(trace.Count(expected[2], 20), 1);
  EXPECT_EQ(trace.Count(expected[3], 10), 1);
  EXPECT_EQ(trace.Count(expected[4], 20), 1);
}
