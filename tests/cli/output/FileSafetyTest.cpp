// The CLI's file-safety layer: names nobody can plant, files that are not
// regular refused without waiting, stale temporaries told from live ones,
// edits that keep hard links and refuse changed files, the song-list reader
// with its bounds and encodings, and the output folder's lock and orphans.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "cli/output/AtomicFile.h"
#include "cli/output/CacheFolder.h"
#include "cli/output/OutputFolder.h"
#include "cli/input/LineReader.h"
#include "cli/output/SafeFile.h"
#include "support/TempDir.h"

namespace {
namespace fs = std::filesystem;

void MakeOld(const std::string& path) {
  struct timeval times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimes(path.c_str(), times), 0);
}

TEST(SafeFile, NamesAreShortRandomAndNothingPlantedIsFollowedOrWaitedOn) {
  CTempDir dir;
  std::string error;
  cli::CNewFile a, b;
  ASSERT_TRUE(a.Create(dir.Path(), dir.File("x"), error)) << error;
  ASSERT_TRUE(b.Create(dir.Path(), dir.File("x"), error)) << error;
  const std::string nameA = fs::path(a.Path()).filename().string();
  EXPECT_EQ(nameA.size(), 16u) << nameA;
  EXPECT_TRUE(cli::IsOwnTemporaryName(nameA)) << nameA;
  EXPECT_NE(a.Path(), b.Path());
  a.Discard();
  b.Discard();
  EXPECT_TRUE(dir.List().empty());

  // A link or FIFO at a name is refused, the link's target untouched.
  WriteFileBytes(dir.File("victim"), "keep");
  ASSERT_EQ(symlink(dir.File("victim").c_str(), dir.File("link").c_str()), 0);
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  int code = 0;
  EXPECT_EQ(safesys::CreateNew(dir.File("link"), code), safesys::NO_HANDLE);
  EXPECT_EQ(safesys::OpenRegular(dir.File("link"), true, false, code), safesys::NO_HANDLE);
  EXPECT_EQ(safesys::OpenRegular(dir.File("fifo"), false, true, code), safesys::NO_HANDLE);  // returns, never waits
  EXPECT_EQ(safesys::OpenRegular(dir.File("fifo"), true, true, code), safesys::NO_HANDLE);
  std::string content;
  EXPECT_FALSE(cli::ReadRegularFile(dir.File("fifo"), content, code, 100));
  EXPECT_EQ(ReadFileBytes(dir.File("victim")), "keep");

  // A final name that is a link is replaced, not written through.
  ASSERT_TRUE(cli::WriteFileSafely(dir.File("link"), "new", error)) << error;
  EXPECT_EQ(ReadFileBytes(dir.File("victim")), "keep");
  EXPECT_EQ(ReadFileBytes(dir.File("link")), "new");
}

TEST(SafeFile, StaleTemporariesGoLiveAndForeignOnesStay) {
  CTempDir dir;
  cli::RunStartTime();
  WriteFileBytes(dir.File(".vw-0123abcd.tmp"), std::string(1000, 'x'));  // a killed run's
  MakeOld(dir.File(".vw-0123abcd.tmp"));
  WriteFileBytes(dir.File(".vw-zzzzzzzz.tmp"), "new");  // written during this run
  WriteFileBytes(dir.File(".vw-notours.tmp"), "x");     // not the pattern
  MakeOld(dir.File(".vw-notours.tmp"));
  WriteFileBytes(dir.File("song.txt"), "user's");
  MakeOld(dir.File("song.txt"));
  std::string error;
  cli::CNewFile live;
  ASSERT_TRUE(live.Create(dir.Path(), dir.File("song.txt"), error)) << error;
  MakeOld(live.Path());  // old, but locked by a live writer
  cli::SReclaimed reclaimed;
  cli::RemoveStaleTemporaries(dir.Path(), reclaimed);
  EXPECT_EQ(reclaimed.nFiles, 1u);
  EXPECT_EQ(reclaimed.nBytes, 1000u);
  EXPECT_EQ(cli::DescribeReclaimed(reclaimed), "reclaimed 1000 bytes in 1 stale temporary file");
  EXPECT_FALSE(FileExists(dir.File(".vw-0123abcd.tmp")));
  EXPECT_TRUE(FileExists(dir.File(".vw-zzzzzzzz.tmp")));
  EXPECT_TRUE(FileExists(dir.File(".vw-notours.tmp")));
  EXPECT_TRUE(FileExists(dir.File("song.txt")));
  EXPECT_TRUE(FileExists(live.Path()));
}

auto AppendText(const std::string& text) {
  return [text](safesys::Handle copy, const std::string&, std::string& error) {
    int code = 0;
    safesys::SIdentity identity;
    if (!safesys::Identify(copy, identity, code) || !safesys::Seek(copy, identity.nSize, code) ||
        !safesys::WriteAll(copy, text.data(), text.size(), code)) {
      error = safesys::ErrorText(code);
      return false;
    }
    return true;
  };
}

bool Accept(safesys::Handle, safesys::Handle, std::string&) { return true; }

TEST(FileEdit, HardLinksAllSeeTheEditAndModeAndTimeAreKept) {
  CTempDir dir;
  WriteFileBytes(dir.File("a.mp3"), "original");
  ASSERT_EQ(link(dir.File("a.mp3").c_str(), dir.File("b.mp3").c_str()), 0);
  ASSERT_EQ(chmod(dir.File("a.mp3").c_str(), 0640), 0);
  MakeOld(dir.File("a.mp3"));
  struct stat before {};
  ASSERT_EQ(stat(dir.File("a.mp3").c_str(), &before), 0);
  std::string error;
  ASSERT_TRUE(cli::EditFileAtomically(dir.File("a.mp3"), cli::SEditRules(), AppendText(" + lyrics"), Accept, error))
      << error;
  struct stat after {};
  ASSERT_EQ(stat(dir.File("b.mp3").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_nlink, 2u);
  EXPECT_EQ(ReadFileBytes(dir.File("b.mp3")), "original + lyrics");
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.mp3", "b.mp3"}));

  // One name: renamed into place, mode and time kept as well.
  WriteFileBytes(dir.File("c.mp3"), "single");
  ASSERT_EQ(chmod(dir.File("c.mp3").c_str(), 0604), 0);
  MakeOld(dir.File("c.mp3"));
  ASSERT_TRUE(cli::EditFileAtomically(dir.File("c.mp3"), cli::SEditRules(), AppendText("!"), Accept, error)) << error;
  ASSERT_EQ(stat(dir.File("c.mp3").c_str(), &after), 0);
  EXPECT_EQ(ReadFileBytes(dir.File("c.mp3")), "single!");
  EXPECT_EQ(after.st_mode & 07777, 0604u);
  EXPECT_EQ(after.st_mtim.tv_sec, 1000000000);
}

TEST(FileEdit, AFileChangedSinceItWasReadIsLeftAlone) {
  CTempDir dir;
  WriteFileBytes(dir.File("a.mp3"), "read");
  safesys::SIdentity identity;
  int code = 0;
  ASSERT_TRUE(safesys::IdentifyPath(dir.File("a.mp3"), identity, code));
  WriteFileBytes(dir.File("other"), "replacement, longer");
  ASSERT_EQ(rename(dir.File("other").c_str(), dir.File("a.mp3").c_str()), 0);
  cli::SEditRules rules;
  rules.pExpected = &identity;
  std::string error;
  EXPECT_FALSE(cli::EditFileAtomically(dir.File("a.mp3"), rules, AppendText("x"), Accept, error));
  EXPECT_NE(error.find("changed"), std::string::npos) << error;
  EXPECT_EQ(ReadFileBytes(dir.File("a.mp3")), "replacement, longer");

  // Replaced between the copy and the rename: the check under the lock sees it.
  safesys::SIdentity now;
  ASSERT_TRUE(safesys::IdentifyPath(dir.File("a.mp3"), now, code));
  rules.pExpected = &now;
  auto swapDuringEdit = [&](safesys::Handle, const std::string&, std::string&) {
    WriteFileBytes(dir.File("third"), "third");
    return rename(dir.File("third").c_str(), dir.File("a.mp3").c_str()) == 0;
  };
  EXPECT_FALSE(cli::EditFileAtomically(dir.File("a.mp3"), rules, swapDuringEdit, Accept, error));
  EXPECT_EQ(ReadFileBytes(dir.File("a.mp3")), "third");
  EXPECT_EQ(dir.List(), std::vector<std::string>{"a.mp3"});
}

TEST(FileEdit, AnInterruptedHardLinkEditIsPutBackFromItsJournal) {
  CTempDir dir;
  WriteFileBytes(dir.File("a.flac"), "the old bytes");
  ASSERT_EQ(link(dir.File("a.flac").c_str(), dir.File("b.flac").c_str()), 0);
  safesys::SIdentity identity;
  int code = 0;
  ASSERT_TRUE(safesys::IdentifyPath(dir.File("a.flac"), identity, code));
  // What a kill in the middle of the in-place write leaves: a journal and a
  // half-written original.
  std::string header = "versewell journal 1\n6 " + std::to_string(identity.nDevice) + " " +
                       std::to_string(identity.nInode) + " 13 " + std::to_string(identity.nModified) + "\na.flac\n";
  WriteFileBytes(dir.File(".vw-abcdefgh.jnl"), header + "the old bytes");
  WriteFileBytes(dir.File("b.flac"), "the new by");  // same inode: truncates and writes in place
  // And a journal cut short before the original was touched: just removed.
  WriteFileBytes(dir.File(".vw-ijklmnop.jnl"), header + "the o");
  std::vector<std::string> notes;
  cli::RecoverJournals(dir.Path(), notes);
  EXPECT_EQ(ReadFileBytes(dir.File("a.flac")), "the old bytes");
  EXPECT_EQ(ReadFileBytes(dir.File("b.flac")), "the old bytes");
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.flac", "b.flac"}));
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("restored"), std::string::npos);
}

std::vector<std::string> Lines(const std::string& bytes, std::vector<cli::CLineReader::EStatus>* statuses = nullptr,
                               size_t chunk = 3) {
  size_t at = 0;
  cli::CLineReader reader(
      [&](char* buffer, size_t size, std::string&) -> long long {
        size_t n = std::min({size, chunk, bytes.size() - at});
        std::copy(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + n), buffer);
        at += n;
        return static_cast<long long>(n);
      },
      8);
  std::vector<std::string> lines;
  std::string line;
  for (;;) {
    cli::CLineReader::EStatus status = reader.Next(line);
    if (statuses != nullptr) statuses->push_back(status);
    if (status == cli::CLineReader::EStatus::Line) lines.push_back(line);
    else if (status != cli::CLineReader::EStatus::TooLong) break;
  }
  return lines;
}

TEST(LineReader, LongLinesAreSkippedUtf16IsDecodedAndNulIsRefused) {
  using S = cli::CLineReader::EStatus;
  std::vector<S> statuses;
  EXPECT_EQ(Lines("short\n" + std::string(100000, 'x') + "\nnext\nlast", &statuses),
            (std::vector<std::string>{"short", "next", "last"}));
  EXPECT_EQ(statuses, (std::vector<S>{S::Line, S::TooLong, S::Line, S::Line, S::End}));
  statuses.clear();
  EXPECT_EQ(Lines(std::string(50, 'y'), &statuses), std::vector<std::string>{});
  EXPECT_EQ(statuses, (std::vector<S>{S::TooLong, S::End}));

  // "a\n" U+00E9 U+1F600 "\n" in UTF-16 both ways, cut into odd chunks so a
  // surrogate pair and a code unit are split across reads.
  const std::string le("\xFF\xFE" "a\0\n\0\xE9\0\x3D\xD8\x00\xDE\n\0", 14);
  const std::string be("\xFE\xFF" "\0a\0\n\0\xE9\xD8\x3D\xDE\x00\0\n", 14);
  for (size_t chunk : {1, 3, 5, 64}) {
    EXPECT_EQ(Lines(le, nullptr, chunk), (std::vector<std::string>{"a", "\xC3\xA9\xF0\x9F\x98\x80"})) << chunk;
    EXPECT_EQ(Lines(be, nullptr, chunk), (std::vector<std::string>{"a", "\xC3\xA9\xF0\x9F\x98\x80"})) << chunk;
  }
  statuses.clear();
  EXPECT_EQ(Lines(std::string("ok\nA\0B\nC\n", 9), &statuses), std::vector<std::string>{"ok"});
  EXPECT_EQ(statuses.back(), S::Binary);  // at the first NUL, nothing after it

  cli::CLineReader failing([](char*, size_t, std::string& error) -> long long {
    error = "Is a directory";
    return -1;
  }, 8);
  std::string line;
  EXPECT_EQ(failing.Next(line), S::Error);
  EXPECT_EQ(failing.ErrorText(), "Is a directory");
}

TEST(OutputFolder, OrphansAreAdoptedAndASecondRunIsToldTheFolderIsHeld) {
  CTempDir dir;
  const std::string out = dir.File("out");
  fs::create_directories(out + "/Quillfeather");
  WriteFileBytes(out + "/Quillfeather/Salt Road.txt", "salt road lyrics\n");  // saved, index line lost
  std::string error;
  {
    cli::COutputFolder folder(out);
    ASSERT_TRUE(folder.Prepare(error)) << error;
    const std::string address = "http://w/wiki/Quillfeather:Salt_Road";
    const std::string content = "salt road lyrics\n";
    cli::COutputFolder::SPlacement placement = folder.Claim(address, "Quillfeather/Salt Road.txt", &content);
    EXPECT_EQ(placement.strRelative, "Quillfeather/Salt Road.txt");
    ASSERT_TRUE(folder.Save(placement, address, content, error)) << error;
    // Someone else's file with other content is numbered around.
    WriteFileBytes(out + "/Quillfeather/Other.txt", "mine");
    const std::string other = "other lyrics\n";
    EXPECT_EQ(folder.Claim("http://w/wiki/Quillfeather:Other", "Quillfeather/Other.txt", &other).strRelative,
              "Quillfeather/Other (2).txt");

    cli::COutputFolder second(out);
    EXPECT_FALSE(second.Prepare(error));
    EXPECT_TRUE(second.Busy());
    EXPECT_NE(error.find("another run holds"), std::string::npos) << error;
  }
  EXPECT_EQ(ReadFileBytes(out + "/.versewell-index"),
            "Quillfeather/Salt Road.txt\thttp://w/wiki/Quillfeather:Salt_Road\n");
  EXPECT_EQ(ReadFileBytes(out + "/Quillfeather/Other.txt"), "mine");
}

TEST(CacheFolder, EmptyFoldersOfTheUserStay) {
  CTempDir dir;
  const std::string cache = dir.File("cache");
  fs::create_directories(cache + "/Versewell/abc");
  fs::create_directories(cache + "/src/empty_placeholder");
  fs::create_directories(cache + "/build/logs");
  WriteFileBytes(cache + "/Versewell/abc/Q.ARTISTCACHE", "[x]");
  size_t removed = 0, kept = 0;
  std::string error;
  ASSERT_TRUE(cli::ClearCacheFolder(cache, removed, kept, error)) << error;
  EXPECT_EQ(removed, 1u);
  EXPECT_FALSE(fs::exists(cache + "/Versewell"));
  EXPECT_TRUE(fs::is_directory(cache + "/src/empty_placeholder"));
  EXPECT_TRUE(fs::is_directory(cache + "/build/logs"));
}

}  // namespace
