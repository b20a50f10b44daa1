// Saved-file layout: safe template fields, the template itself, the output
// folder's index and claims, and the progress line's column arithmetic.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/output/FieldEscape.h"
#include "cli/output/FileNames.h"
#include "cli/output/OutputFolder.h"
#include "cli/output/OutputTemplate.h"
#include "cli/sys/PathText.h"
#include "cli/output/Progress.h"
#include "cli/output/RunMemory.h"
#include "cli/sys/TextConvert.h"

using namespace cli;
namespace fs = std::filesystem;

namespace {

bool IsSafeComponent(const std::string& name) {
  if (name.empty() || name[0] == '.' || name.find("..") != std::string::npos) return false;
  if (name.back() == '.' || name.back() == ' ') return false;
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7F || std::string("/\\<>:\"|?*").find(static_cast<char>(c)) != std::string::npos)
      return false;
  return !IsReservedDeviceName(name);
}

std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t slash = path.find('/', start);
    parts.push_back(path.substr(start, slash == std::string::npos ? slash : slash - start));
    if (slash == std::string::npos) return parts;
    start = slash + 1;
  }
}

// Paths in these tests are UTF-8 text, as the CLI keeps them.
fs::path P(const std::string& utf8) { return PathFromUtf8(utf8); }

// A fresh folder under the system's temporary folder (UTF-8, in the
// system's own form), removed with its contents.
class CTempFolder {
 public:
  CTempFolder() {
    const fs::path base = fs::temp_directory_path();
    std::random_device seed;
    for (unsigned n = 0;; ++n) {
      const fs::path candidate = base / ("versewell-names-" + std::to_string(seed()) + "-" + std::to_string(n));
      if (fs::create_directory(candidate)) {
        m_path = Utf8FromPath(candidate);
        return;
      }
    }
  }
  ~CTempFolder() {
    std::error_code ec;
    fs::permissions(P(m_path), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(P(m_path), ec);
  }
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(P(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Whether `a` and `b` name the same path, whichever separators each uses
// ("/" and "\\" are both separators on Windows).
bool SamePath(const std::string& a, const std::string& b) {
  return P(a).lexically_normal() == P(b).lexically_normal();
}

}  // namespace

TEST(SafeField, SeparatorsReservedAndControlCharactersBecomeUnderscores) {
  EXPECT_EQ(SafeField(L"Who Will Shoe Your Pretty Little Foot?", "x"), "Who Will Shoe Your Pretty Little Foot_");
  EXPECT_EQ(SafeField(L"AC/DC: <live> \"best\" | a*b\\c", "x"), "AC_DC_ _live_ _best_ _ a_b_c");
  EXPECT_EQ(SafeField(L"tab\tand\nnewline\x7F\x85", "x"), "tab and_newline__");
  EXPECT_EQ(SafeField(L"Zero\x200BWidth\xFEFF Space\x200D", "x"), "ZeroWidth Space\xE2\x80\x8D") << "invisible marks go, joiners stay";
  EXPECT_EQ(SafeField(L"evil\u202Etxt.exe", "x"), "evil_txt.exe");
  EXPECT_EQ(SafeField(L"\u00C0 la claire fontaine", "x"), "\xC3\x80 la claire fontaine");
}

TEST(SafeField, DotsCanNeitherClimbNorHide) {
  EXPECT_EQ(SafeField(L"../../etc/passwd", "x"), "_._etc_passwd");
  EXPECT_EQ(SafeField(L"..", "fallback"), "fallback");
  EXPECT_EQ(SafeField(L" . ", "fallback"), "fallback");
  EXPECT_EQ(SafeField(L"  ..hidden. . ", "x"), "hidden");
  EXPECT_EQ(SafeField(L"Wait... what", "x"), "Wait. what");
  EXPECT_EQ(SafeField(L"", "untitled"), "untitled");
}

TEST(SafeField, HostileTitlesAlwaysGiveOneSafeComponent) {
  const std::vector<std::wstring> hostile = {
      L"../../../../tmp/escape", L"..\\..\\windows\\system32", L"/etc/passwd", L"\\\\server\\share",
      L"C:\\boot.ini", L"CON", L"nul.txt", L"com1 ", L"LPT9.", L". ", L"...", L"\x01\x02", L"a/../../b",
      L"\u202E..\u202E/", L"%2e%2e%2f", std::wstring(5000, L'/')};
  COutputTemplate layout;
  for (const std::wstring& title : hostile) {
    for (const std::wstring& artist : {std::wstring(L"Quillfeather"), title}) {
      std::string path = layout.Expand({artist, title}, "addr", 200);
      std::vector<std::string> parts = Split(path);
      ASSERT_EQ(parts.size(), 2u) << path;
      for (const std::string& part : parts) EXPECT_TRUE(IsSafeComponent(part)) << WideToUtf8(title) << " -> " << path;
    }
  }
}

TEST(FinishComponent, WindowsDeviceNamesAreAvoidedWithAnyExtension) {
  EXPECT_EQ(FinishComponent("CON", "a", 100), "CON_");
  EXPECT_EQ(FinishComponent("nul.txt", "a", 100), "nul_.txt");
  EXPECT_EQ(FinishComponent("Com1 .txt", "a", 100), "Com1_ .txt");
  EXPECT_EQ(FinishComponent("lpt9.", "a", 100), "lpt9_");
  EXPECT_EQ(FinishComponent("Console.txt", "a", 100), "Console.txt");
}

TEST(FinishComponent, LongNamesAreShortenedWithTheAddressHashNotACounter) {
  std::string title;
  for (int i = 0; i < 150; ++i) title += "\xE2\x82\xAC";  // 450 bytes of three-byte characters
  std::string a = FinishComponent(title + ".txt", "lyrics.wiki.example/wiki/A:B", 100);
  std::string b = FinishComponent(title + ".txt", "lyrics.wiki.example/wiki/A:C", 100);
  EXPECT_LE(a.size(), 100u);
  EXPECT_NE(a, b);
  EXPECT_EQ(a, FinishComponent(title + ".txt", "lyrics.wiki.example/wiki/A:B", 100)) << "stable for one address";
  EXPECT_EQ(a.substr(a.size() - 13), "~" + ShortHash("lyrics.wiki.example/wiki/A:B") + ".txt");
  EXPECT_EQ(Utf8ToWide(a.substr(0, a.size() - 13)).find(L'\uFFFD'), std::wstring::npos) << "cut on a boundary";
  EXPECT_EQ(FinishComponent("short.txt", "x", 100), "short.txt");
  EXPECT_EQ(ShortHash("a").size(), 8u);
}

TEST(NumberedVariant, CounterGoesBeforeTheExtensionOfTheLastComponent) {
  EXPECT_EQ(NumberedVariant("A.B/Salt Road.txt", 2), "A.B/Salt Road (2).txt");
  EXPECT_EQ(NumberedVariant("A.B/Salt Road", 3), "A.B/Salt Road (3)");
  EXPECT_EQ(NumberedVariant("x.txt", 1), "x.txt");
}

TEST(PageAddress, TitleAndArtistComeFromThePageName) {
  SSongFields f = FieldsFromPageAddress(L"lyrics.wiki.example/wiki/Quillfeather:Salt_Road_(1998)", L"q", L"Salt Road");
  EXPECT_EQ(f.strArtist, L"Quillfeather");
  EXPECT_EQ(f.strTitle, L"Salt Road (1998)");
  f = FieldsFromPageAddress(L"lyrics.wiki.example/wiki/Bramble_%26_Briar:%C3%80_la:b?action=x", L"q", L"t");
  EXPECT_EQ(f.strArtist, L"Bramble & Briar");
  EXPECT_EQ(f.strTitle, L"\u00C0 la:b");
  f = FieldsFromPageAddress(L"lyrics.wiki.example/_test/hang?ms=8000", L"Zed", L"Hanging Song");
  EXPECT_EQ(f.strArtist, L"Zed");
  EXPECT_EQ(f.strTitle, L"Hanging Song");
  f = FieldsFromPageAddress(L"lyrics.wiki.example/wiki/NoColon", L"Zed", L"List");
  EXPECT_EQ(f.strTitle, L"List");
}

TEST(OutputTemplateParse, RefusesTemplatesThatCouldLeaveTheFolder) {
  COutputTemplate layout;
  std::string error;
  for (const char* bad : {"", "/abs/{title}", "../{title}", "a/../{title}", "./{title}", "a//{title}",
                          "{title}/", "a\\{title}", "{artist}", "{title", "{title}}x}", "{album}/{title}",
                          "a\x01/{title}"}) {
    error.clear();
    EXPECT_FALSE(layout.Parse(bad, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  EXPECT_EQ(layout.Text(), DEFAULT_TEMPLATE) << "a refused template changes nothing";
  ASSERT_TRUE(layout.Parse("{{{artist}}} - {title}.lyrics", error)) << error;
  EXPECT_EQ(layout.Expand({L"A", L"B"}, "x", 200), "{A} - B.lyrics");
  ASSERT_TRUE(layout.Parse("..{title}", error)) << error;
  EXPECT_EQ(layout.Expand({L"A", L"B"}, "x", 200), "B");
}

TEST(OutputTemplateExpand, DefaultLayoutSeparatesArtists) {
  COutputTemplate layout;
  EXPECT_EQ(layout.Expand({L"Quillfeather", L"Salt Road"}, "x", 200), "Quillfeather/Salt Road.txt");
  EXPECT_EQ(layout.Expand({L"", L""}, "x", 200), "unknown artist/untitled.txt");
}

TEST(OutputFolder, PrepareWritesATestFileAndNamesTheFolderOnFailure) {
  CTempFolder tmp;
  std::string error;
  COutputFolder folder(tmp.Path() + "/a/b");
  ASSERT_TRUE(folder.Prepare(error)) << error;
  EXPECT_TRUE(fs::is_empty(P(tmp.Path() + "/a/b"))) << "the test file is removed again";
  EXPECT_GT(folder.MaxComponentBytes(), 100u);

  std::ofstream(P(tmp.Path() + "/file")) << "x";
  COutputFolder onFile(tmp.Path() + "/file/sub");
  EXPECT_FALSE(onFile.Prepare(error));
  EXPECT_NE(error.find(tmp.Path() + "/file/sub"), std::string::npos) << error;
}

TEST(OutputFolder, PrepareReportsAFolderItMayNotWriteInto) {
  CTempFolder tmp;
  const std::string readOnlyPath = tmp.Path() + "/ro";
  fs::create_directory(P(readOnlyPath));
  fs::permissions(P(readOnlyPath), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                       fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  // A process that may write anyway (root) cannot see the failure.
  if (std::ofstream(P(readOnlyPath + "/probe")).is_open()) GTEST_SKIP() << "this process may write into read-only folders";
  std::string error;
  COutputFolder readOnly(readOnlyPath);
  EXPECT_FALSE(readOnly.Prepare(error));
  EXPECT_NE(error.find("Permission denied"), std::string::npos) << error;
  EXPECT_EQ(error.find(".versewell-write-test"), std::string::npos) << error;
}

TEST(OutputFolder, SavedFilesAreSkippedOnlyForTheSameAddress) {
  CTempFolder tmp;
  std::string error;
  {
    COutputFolder folder(tmp.Path());
    ASSERT_TRUE(folder.Prepare(error)) << error;
    COutputFolder::SPlacement p = folder.Claim("site/wiki/A:One", "A/One.txt");
    EXPECT_FALSE(p.bSaved);
    ASSERT_TRUE(folder.Save(p, "site/wiki/A:One", "text\n", error)) << error;
    EXPECT_EQ(ReadFile(tmp.Path() + "/A/One.txt"), "text\n");
    // A second page that ends up with the same name gets a counter, case-insensitively.
    EXPECT_EQ(folder.Claim("site/wiki/A:one", "A/one.txt").strRelative, "A/one (2).txt");
    // The same page listed twice gets the same file.
    EXPECT_EQ(folder.Claim("site/wiki/A:One", "A/One.txt").strRelative, "A/One.txt");
  }
  std::ofstream(P(tmp.Path() + "/A/Foreign.txt")) << "mine";
  {
    // One run at a time holds the folder: this one ends before the next.
    COutputFolder again(tmp.Path());
    ASSERT_TRUE(again.Prepare(error)) << error;
    COutputFolder::SPlacement p = again.Claim("site/wiki/A:One", "A/One.txt");
    EXPECT_TRUE(p.bSaved);
    // A file the index does not know is never overwritten.
    p = again.Claim("site/wiki/A:Foreign", "A/Foreign.txt");
    EXPECT_EQ(p.strRelative, "A/Foreign (2).txt");
    EXPECT_FALSE(p.bSaved);
  }
  // Another page never takes over a name the index records for someone else.
  COutputFolder third(tmp.Path());
  ASSERT_TRUE(third.Prepare(error)) << error;
  EXPECT_EQ(third.Claim("site/wiki/B:One", "A/One.txt").strRelative, "A/One (2).txt");
  EXPECT_EQ(ReadFile(tmp.Path() + "/A/Foreign.txt"), "mine");
}

TEST(OutputFolder, IndexSurvivesAddressesWithTabsAndNewlines) {
  CTempFolder tmp;
  std::string error;
  const std::string address = "site/wiki/A:x\ty\nz%09";
  {
    COutputFolder folder(tmp.Path());
    ASSERT_TRUE(folder.Prepare(error)) << error;
    ASSERT_TRUE(folder.Save(folder.Claim(address, "x.txt"), address, "t", error)) << error;
  }
  COutputFolder folder(tmp.Path());
  ASSERT_TRUE(folder.Prepare(error)) << error;
  EXPECT_TRUE(folder.Claim(address, "x.txt").bSaved);
  EXPECT_FALSE(folder.Claim("site/wiki/A:x", "x.txt").bSaved);
}

TEST(OutputFolder, InspectReadsTheIndexAndChangesNothing) {
  CTempFolder tmp;
  std::string error;
  {
    COutputFolder folder(tmp.Path());
    ASSERT_TRUE(folder.Prepare(error)) << error;
    ASSERT_TRUE(folder.Save(folder.Claim("site/wiki/A:One", "A/One.txt"), "site/wiki/A:One", "t", error)) << error;
  }
  COutputFolder dry(tmp.Path());
  ASSERT_TRUE(dry.Inspect(error)) << error;
  EXPECT_TRUE(dry.Claim("site/wiki/A:One", "A/One.txt").bSaved);
  EXPECT_FALSE(dry.Claim("site/wiki/A:Two", "A/Two.txt").bSaved);
  // A folder that is not there yet is an empty index, and is not made.
  COutputFolder absent(tmp.Path() + "/not-yet");
  ASSERT_TRUE(absent.Inspect(error)) << error;
  EXPECT_FALSE(absent.Claim("site/wiki/A:One", "A/One.txt").bSaved);
  EXPECT_FALSE(fs::exists(P(tmp.Path() + "/not-yet")));
}

TEST(RunMemory, SavedSongsKeepTheirPageAndOlderKindsStayReadable) {
  CTempFolder tmp;
  std::string error;
  {
    CRunMemory memory(tmp.Path());
    ASSERT_TRUE(memory.Load(error)) << error;
    CRunMemory::SEntry saved;
    saved.strArtist = "Quill\tfeather";
    saved.strTitle = "Salt Road";
    saved.strAddress = "site/wiki/Quillfeather:Salt_Road%";
    saved.strPageArtist = "Quillfeather";
    saved.strPageTitle = "Salt Road";
    memory.RecordSaved(saved);
    memory.Record(CRunMemory::EKind::Missing, "Nettlebed", "Lost Verse");
    ASSERT_TRUE(memory.Save(error)) << error;
  }
  // A line of a kind this program does not know, and a saved line cut short, are dropped.
  std::ofstream(P(tmp.Path() + "/" + MEMORY_FILE_NAME), std::ios::app)
      << "later\t2026-01-01\ta\tb\nsaved\t2026-01-01\tc\td\n";
  CRunMemory memory(tmp.Path());
  ASSERT_TRUE(memory.Load(error)) << error;
  std::optional<CRunMemory::SEntry> found = memory.Find("quill\tFEATHER ", "salt road");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->eKind, CRunMemory::EKind::Saved);
  EXPECT_EQ(found->strAddress, "site/wiki/Quillfeather:Salt_Road%");
  EXPECT_EQ(found->strPageTitle, "Salt Road");
  ASSERT_TRUE(memory.Find("Nettlebed", "Lost Verse"));
  EXPECT_EQ(memory.Find("Nettlebed", "Lost Verse")->eKind, CRunMemory::EKind::Missing);
  EXPECT_FALSE(memory.Find("a", "b"));
  EXPECT_FALSE(memory.Find("c", "d"));
}

TEST(OutputFolder, AFailedWriteNamesTheDestinationAndLeavesNoTemporaryFile) {
  CTempFolder tmp;
  std::string error;
  COutputFolder folder(tmp.Path());
  ASSERT_TRUE(folder.Prepare(error)) << error;
  COutputFolder::SPlacement p = folder.Claim("addr", "A/One.txt");
  // Something else takes the name between the claim and the save: a folder
  // with content, which no rename can replace (even for root).
  fs::create_directories(P(tmp.Path() + "/A/One.txt/inner"));
  EXPECT_FALSE(folder.Save(p, "addr", "text", error));
  const std::string prefix = "cannot write ";
  ASSERT_EQ(error.compare(0, prefix.size(), prefix), 0) << error;
  const size_t pathEnd = error.find(": ", prefix.size());
  ASSERT_NE(pathEnd, std::string::npos) << error;
  EXPECT_TRUE(SamePath(error.substr(prefix.size(), pathEnd - prefix.size()), tmp.Path() + "/A/One.txt")) << error;
  EXPECT_EQ(error.find(".part"), std::string::npos) << error;
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(P(tmp.Path() + "/A"))) left.push_back(Utf8FromPath(entry.path().filename()));
  EXPECT_EQ(left, std::vector<std::string>{"One.txt"});
  EXPECT_FALSE(fs::exists(P(tmp.Path() + "/" + INDEX_FILE_NAME))) << "nothing recorded for a failed save";
}

TEST(OutputFolder, WorkersClaimDistinctFilesForDistinctPages) {
  CTempFolder tmp;
  std::string error;
  COutputFolder folder(tmp.Path());
  ASSERT_TRUE(folder.Prepare(error)) << error;
  std::vector<std::string> names(8);
  std::vector<std::thread> workers;
  for (int i = 0; i < 8; ++i) {
    workers.emplace_back([&, i] {
      std::string address = "page" + std::to_string(i), failure;
      COutputFolder::SPlacement p = folder.Claim(address, "Same.txt");
      if (folder.Save(p, address, address, failure)) names[i] = p.strRelative;
    });
  }
  for (std::thread& t : workers) t.join();
  std::set<std::string> distinct(names.begin(), names.end());
  EXPECT_EQ(distinct.size(), 8u);
  EXPECT_EQ(distinct.count(""), 0u);
}

TEST(DisplayWidth, WideCharactersTakeTwoColumnsAndMarksNone) {
  EXPECT_EQ(DisplayWidth("Salt Road"), 9u);
  EXPECT_EQ(DisplayWidth("\xE6\xBC\xA2\xE5\xAD\x97"), 4u);           // 漢字
  EXPECT_EQ(DisplayWidth("e\xCC\x81"), 1u);                          // e + combining acute
  EXPECT_EQ(DisplayWidth("\xEF\xBC\xA1"), 2u);                       // full-width A
  EXPECT_EQ(CutToWidth("\xE6\xBC\xA2\xE5\xAD\x97", 3), "\xE6\xBC\xA2");  // never half a wide character
}

TEST(ProgressLine, FitsTheTerminalInColumns) {
  EXPECT_EQ(CProgress::Render(3, 12, "Salt Road", 75, 80), "[#####---------------] 3/12 01:15 Salt Road");
  EXPECT_EQ(CProgress::Render(0, 0, "x\ty", 0, 80), "[####################] 0/0 00:00 x y");
  std::string cjk;
  for (int i = 0; i < 40; ++i) cjk += "\xE6\xBC\xA2";
  for (int columns : {40, 41, 60, 80}) {
    std::string line = CProgress::Render(1, 2, cjk, 0, columns);
    EXPECT_LE(DisplayWidth(line), static_cast<size_t>(columns - 1)) << columns;
    EXPECT_GE(DisplayWidth(line), static_cast<size_t>(columns - 2)) << columns;
    EXPECT_EQ(line.substr(line.size() - 3), "...");
  }
  EXPECT_EQ(CProgress::Render(1, 2, "title", 0, 10), "[########");
}

TEST(ProgressStyle, TerminalDumbAndSwitches) {
  EXPECT_EQ(ChooseProgressStyle(true, "xterm-256color", false, false), EProgressStyle::Ansi);
  EXPECT_EQ(ChooseProgressStyle(true, nullptr, false, false), EProgressStyle::Ansi);
  EXPECT_EQ(ChooseProgressStyle(true, "dumb", false, false), EProgressStyle::Plain);
  EXPECT_EQ(ChooseProgressStyle(false, "xterm", false, false), EProgressStyle::Off);
  EXPECT_EQ(ChooseProgressStyle(true, "xterm", true, false), EProgressStyle::Off);
  EXPECT_EQ(ChooseProgressStyle(true, "xterm", false, true), EProgressStyle::Off);
}

// The index and the memory of songs without lyrics share one field escaping:
// every separator inside a field survives a round trip, and a '%' that starts
// none of the four codes is kept as typed.
TEST(FieldEscape, SeparatorsRoundTripAndStrayPercentsStay) {
  const std::string field = "50% off\tA\r\nB %41 %2";
  const std::string escaped = cli::EscapeField(field);
  EXPECT_EQ(escaped.find_first_of("\t\r\n"), std::string::npos);
  EXPECT_EQ(cli::UnescapeField(escaped), field);
  EXPECT_EQ(cli::UnescapeField("100%zz %0"), "100%zz %0");
}
