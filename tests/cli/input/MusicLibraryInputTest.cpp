// What batch and library read before any search: the song list, the music
// folder, and the files they write.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "cli/output/AtomicFile.h"
#include "cli/input/BatchInput.h"
#include "cli/input/MusicLibraryWalk.h"
#include "support/TempDir.h"

namespace {

cli::SBatchInput Parse(const std::string& text) {
  std::istringstream in(text);
  return cli::ReadBatchInput(in);
}

TEST(BatchInput, TabSplitsFirstOtherwiseTheFirstSpacedDash) {
  cli::SBatchInput input = Parse(
      "Quillfeather\tSalt Road - Live\n"
      "Corrie Fen - Loch Lomond - Remastered\r\n"
      "  Kettle & Wren  -  Early One Morning  \n"
      "Hyphen-Band - Title-With-Hyphens\n");
  ASSERT_EQ(input.vecSongs.size(), 4u);
  EXPECT_TRUE(input.vecProblems.empty());
  EXPECT_EQ(input.vecSongs[0].strArtist, "Quillfeather");
  EXPECT_EQ(input.vecSongs[0].strTitle, "Salt Road - Live");
  EXPECT_EQ(input.vecSongs[1].strArtist, "Corrie Fen");
  EXPECT_EQ(input.vecSongs[1].strTitle, "Loch Lomond - Remastered");
  EXPECT_EQ(input.vecSongs[2].strArtist, "Kettle & Wren");
  EXPECT_EQ(input.vecSongs[2].strTitle, "Early One Morning");
  EXPECT_EQ(input.vecSongs[3].strArtist, "Hyphen-Band");
  EXPECT_EQ(input.vecSongs[3].strTitle, "Title-With-Hyphens");
  EXPECT_EQ(input.vecSongs[3].nLine, 4u);
}

TEST(BatchInput, BlankAndCommentLinesAreSkippedMalformedOnesReportedWithTheirNumber) {
  cli::SBatchInput input = Parse(
      "\xEF\xBB\xBF# my playlist\n"
      "\n"
      "   \t \n"
      "  # indented comment\n"
      "no separator here\n"
      "Artist -\n"
      " - Title only\n"
      "Artist\t\n"
      "Good - Song\n"
      "Artist - Tit\x01le\n" +
      std::string(cli::MAX_BATCH_LINE_BYTES + 1, 'a') + " - b\n" + "Last - One");
  ASSERT_EQ(input.vecSongs.size(), 2u);
  EXPECT_EQ(input.vecSongs[0].nLine, 9u);
  EXPECT_EQ(input.vecSongs[1].strTitle, "One");
  EXPECT_EQ(input.vecSongs[1].nLine, 12u);
  ASSERT_EQ(input.vecProblems.size(), 6u);
  const size_t lines[] = {5, 6, 7, 8, 10, 11};
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(input.vecProblems[i].nLine, lines[i]);
    EXPECT_FALSE(input.vecProblems[i].strReason.empty());
  }
}

TEST(BatchInput, ByteOrderMarkIsRemovedOnlyAtTheStart) {
  cli::SBatchInput input = Parse("\xEF\xBB\xBF" "A - B\n\xEF\xBB\xBF" "C - D\n");
  ASSERT_EQ(input.vecSongs.size(), 2u);
  EXPECT_EQ(input.vecSongs[0].strArtist, "A");
  EXPECT_EQ(input.vecSongs[1].strArtist, "\xEF\xBB\xBF" "C");
}

TEST(LibraryWalk, FindsAudioFilesInEveryFolderInOrderAndIgnoresTheRest) {
  CTempDir dir;
  std::filesystem::create_directories(dir.File("b/deep/er"));
  std::filesystem::create_directories(dir.File("a"));
  for (const char* name : {"b/deep/er/x.opus", "a/2.flac", "a/1.MP3", "top.m4a", "notes.txt", "a/cover.jpg",
                           "a/.versewell-tmp-1-1-hidden.mp3"})
    WriteFileBytes(dir.File(name), "x");
  std::filesystem::create_directory(dir.File("folder.mp3"));
  WriteFileBytes(dir.File("folder.mp3/inside.ogg"), "x");
  ASSERT_EQ(symlink(dir.Path().c_str(), dir.File("a/loop").c_str()), 0);

  cli::SMusicLibraryWalk walk = cli::WalkMusicLibrary(dir.Path());
  std::vector<std::string> expected = {dir.File("a/1.MP3"), dir.File("a/2.flac"), dir.File("b/deep/er/x.opus"),
                                       dir.File("folder.mp3/inside.ogg"), dir.File("top.m4a")};
  EXPECT_EQ(walk.vecFiles, expected);
  EXPECT_TRUE(walk.vecProblems.empty());
}

TEST(LibraryWalk, AMissingRootIsOneProblemNotACrash) {
  CTempDir dir;
  cli::SMusicLibraryWalk walk = cli::WalkMusicLibrary(dir.File("missing"));
  EXPECT_TRUE(walk.vecFiles.empty());
  ASSERT_EQ(walk.vecProblems.size(), 1u);
  EXPECT_EQ(walk.vecProblems[0].strPath, dir.File("missing"));
}

TEST(AtomicFile, WritesCompleteContentAndLeavesNoTemporaryFile) {
  CTempDir dir;
  std::string error;
  ASSERT_TRUE(cli::WriteFileAtomically(dir.File("a.txt"), "old", error)) << error;
  ASSERT_TRUE(cli::WriteFileAtomically(dir.File("a.txt"), "new\r\ntext", error)) << error;
  EXPECT_EQ(ReadFileBytes(dir.File("a.txt")), "new\r\ntext");
  EXPECT_EQ(dir.List(), std::vector<std::string>{"a.txt"});

  EXPECT_FALSE(cli::WriteFileAtomically(dir.File("no/such/folder/a.txt"), "x", error));
  EXPECT_NE(error.find("no/such/folder/a.txt"), std::string::npos) << error;
  EXPECT_EQ(error.find(cli::TEMP_FILE_PREFIX), std::string::npos) << error;
}

TEST(AtomicFile, AFailedEditLeavesTheOriginalAndNoCopy) {
  CTempDir dir;
  WriteFileBytes(dir.File("song.mp3"), "original");
  std::string error;
  bool ok = cli::EditFileAtomically(
      dir.File("song.mp3"),
      [](const std::string& copy, std::string& reason) {
        WriteFileBytes(copy, "half-writ");
        reason = "simulated failure";
        return false;
      },
      error);
  EXPECT_FALSE(ok);
  EXPECT_NE(error.find("simulated failure"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(dir.File("song.mp3")), "original");
  EXPECT_EQ(dir.List(), std::vector<std::string>{"song.mp3"});

  ok = cli::EditFileAtomically(
      dir.File("song.mp3"),
      [](const std::string& copy, std::string&) {
        WriteFileBytes(copy, ReadFileBytes(copy) + " + lyrics");
        return true;
      },
      error);
  EXPECT_TRUE(ok) << error;
  EXPECT_EQ(ReadFileBytes(dir.File("song.mp3")), "original + lyrics");
  EXPECT_EQ(dir.List(), std::vector<std::string>{"song.mp3"});
}

}  // namespace
