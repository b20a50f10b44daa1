// Host-side helpers around the plug-in: trace level names, reading trace
// files back, the proxy description, clearing the cache folder, and the
// documents generated from the option table.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "cli/output/CacheFolder.h"
#include "cli/app/CommandLine.h"
#include "cli/app/HelpDocuments.h"
#include "cli/sys/HostPlatform.h"
#include "cli/host/PluginSetup.h"
#include "cli/host/TraceLogText.h"
#include "cli/host/TraceWatch.h"

using namespace cli;
namespace fs = std::filesystem;

namespace {

std::string Utf16Le(const std::u16string& text, bool mark = true) {
  std::string bytes = mark ? std::string("\xFF\xFE") : std::string();
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

std::string DecodeInChunks(const std::string& bytes, size_t chunk) {
  CTraceTextDecoder decoder;
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += chunk) out += decoder.Feed(bytes.data() + i, std::min(chunk, bytes.size() - i));
  return out + decoder.Finish();
}

}  // namespace

TEST(TraceLevelName, NamesInAnyCaseAndNumbers) {
  std::map<std::string, std::string> cases = {
      {"error", "Error"}, {"WARNING", "Warning"}, {"Info", "Info"}, {"dEbUg", "Debug"}, {"verbose", "Verbose"},
      {"detail", "Detail"}, {"10", "Error"}, {"19", "Error"}, {"20", "Warning"}, {"30", "Info"}, {"40", "Debug"},
      {"99", "Debug"}};
  for (const auto& [value, expected] : cases) {
    std::string name;
    EXPECT_TRUE(TraceLevelName(value, name)) << value;
    EXPECT_EQ(name, expected) << value;
  }
  for (const char* bad : {"", "loud", "9", "0", "-10", "4O", "10.5", "99999999999999"}) {
    std::string name;
    EXPECT_FALSE(TraceLevelName(bad, name)) << bad;
  }
}

// The private trace folder records every download address only where an
// artist's songs are listed (a page without songs is known by it); the
// user's level and --log-dir keep their own rule.
TEST(EffectiveTraceLevel, DebugOnlyWhereSongsAreListedOrLogsAreKept) {
  SOptions options;
  auto level = [&](ECommand command, std::vector<std::string> args) {
    options.eCommand = command;
    options.vecArgs = std::move(args);
    return EffectiveTraceLevel(options);
  };
  EXPECT_EQ("Warning", level(ECommand::Artist, {"Quillfeather"}));
  EXPECT_EQ("Warning", level(ECommand::Lyrics, {"http://wiki/wiki/A:B"}));
  EXPECT_EQ("Debug", level(ECommand::Lyrics, {"Quillfeather", "Salt Road"}));
  EXPECT_EQ("Debug", level(ECommand::Songs, {"Quillfeather"}));
  EXPECT_EQ("Debug", level(ECommand::Batch, {"list.txt"}));
  EXPECT_EQ("Debug", level(ECommand::FetchAll, {"Quillfeather"}));
  options.strLogDir = "logs";
  EXPECT_EQ("Debug", level(ECommand::Artist, {"Quillfeather"}));
  options.strTraceLevel = "Error";
  EXPECT_EQ("Error", level(ECommand::Songs, {"Quillfeather"}));
}

TEST(TraceTextDecoder, Utf16WithMarkBecomesUtf8WithLf) {
  std::string bytes = Utf16Le(u"12:00:00.000 1A ERR: caf\u00e9 \U0001F3B5\r\nsecond\r\n");
  const std::string expected = "12:00:00.000 1A ERR: caf\xC3\xA9 \xF0\x9F\x8E\xB5\nsecond\n";
  for (size_t chunk : {1, 2, 3, 7, 4096}) EXPECT_EQ(DecodeInChunks(bytes, chunk), expected) << chunk;
}

TEST(TraceTextDecoder, LoneCrBrokenSurrogatesAndOddBytes) {
  EXPECT_EQ(DecodeInChunks(Utf16Le(u"a\rb\r\r\nc"), 1), "a\nb\n\nc");
  std::u16string broken = u"x";
  broken += static_cast<char16_t>(0xD800);
  broken += u"y";
  broken += static_cast<char16_t>(0xDC00);
  EXPECT_EQ(DecodeInChunks(Utf16Le(broken), 3), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
  EXPECT_EQ(DecodeInChunks(Utf16Le(u"ab") + "\x41", 2), "ab\xEF\xBF\xBD");
  EXPECT_EQ(DecodeInChunks(Utf16Le(u"a") + std::string("\x00\xD8", 2), 1), "a\xEF\xBF\xBD");
}

TEST(TraceTextDecoder, Utf8AndUnmarkedTextPassThroughWithLfLines) {
  EXPECT_EQ(DecodeInChunks("\xEF\xBB\xBFhello\r\nw\xC3\xB6rld", 1), "hello\nw\xC3\xB6rld");
  EXPECT_EQ(DecodeInChunks("plain\r\ntext\xC3", 2), "plain\ntext\xEF\xBF\xBD");
  EXPECT_EQ(DecodeInChunks("\xFF", 1), "\xEF\xBF\xBD");
  EXPECT_EQ(DecodeInChunks("", 1), "");
}

TEST(DescribeProxy, OptionThenNoProxyThenHttpProxyThenAllProxy) {
  std::map<std::string, std::string> env;
  EnvironmentLookup lookup = [&env](const char* name) -> const char* {
    auto it = env.find(name);
    return it == env.end() ? nullptr : it->second.c_str();
  };
  const std::string host = "lyrics.wiki.example";
  EXPECT_EQ(DescribeProxy("127.0.0.1:8080", host, lookup), "proxy: 127.0.0.1:8080 (from --proxy)");
  EXPECT_EQ(DescribeProxy("", host, lookup),
            "proxy: none (no --proxy, and no http_proxy or all_proxy in the environment)");
  env["HTTP_PROXY"] = "http://upper:1";  // libcurl never reads the upper-case form for http
  EXPECT_NE(DescribeProxy("", host, lookup).find("proxy: none"), std::string::npos);
  env["ALL_PROXY"] = "http://all:3";
  EXPECT_EQ(DescribeProxy("", host, lookup), "proxy: http://all:3 (from the environment: ALL_PROXY)");
  env["http_proxy"] = "http://proxy:3128";
  EXPECT_EQ(DescribeProxy("", host, lookup), "proxy: http://proxy:3128 (from the environment: http_proxy)");
  env["NO_PROXY"] = "localhost, .wiki.example";
  EXPECT_EQ(DescribeProxy("", host, lookup), "proxy: none (NO_PROXY in the environment covers lyrics.wiki.example)");
  env["no_proxy"] = "other.example";  // the lower-case form wins and does not cover the host
  EXPECT_EQ(DescribeProxy("", host, lookup), "proxy: http://proxy:3128 (from the environment: http_proxy)");
  env["no_proxy"] = "ki.example";  // a suffix must end at a dot
  EXPECT_EQ(DescribeProxy("", host, lookup), "proxy: http://proxy:3128 (from the environment: http_proxy)");
  env["no_proxy"] = "*";
  EXPECT_EQ(DescribeProxy("", host, lookup), "proxy: none (no_proxy in the environment covers lyrics.wiki.example)");
  EXPECT_EQ(DescribeProxy("10.0.0.1:1", host, lookup), "proxy: 10.0.0.1:1 (from --proxy)");
}

TEST(CacheFolder, ClearDeletesOnlyCacheFilesAndEmptiedFolders) {
  std::string error;
  const std::string root = hostplatform::MakePrivateFolder(error);
  ASSERT_FALSE(root.empty()) << error;
  const std::string cache = root + "/cache";
  fs::create_directories(cache + "/Versewell/abc");
  std::ofstream(cache + "/Versewell/abc/Q.ARTISTCACHE") << "[x]";
  std::ofstream(cache + "/Versewell/abc/S.ARTISTCACHE.tmp") << "[x]";
  std::ofstream(cache + "/notes.txt") << "mine";
  size_t removed = 0, kept = 0;
  ASSERT_TRUE(ClearCacheFolder(cache, removed, kept, error)) << error;
  EXPECT_EQ(removed, 2u);
  EXPECT_EQ(kept, 1u);
  EXPECT_TRUE(fs::exists(cache + "/notes.txt"));
  EXPECT_FALSE(fs::exists(cache + "/Versewell"));
  fs::remove(cache + "/notes.txt");
  ASSERT_TRUE(ClearCacheFolder(cache, removed, kept, error)) << error;
  EXPECT_FALSE(fs::exists(cache)) << "an emptied cache folder goes too";
  EXPECT_TRUE(ClearCacheFolder(cache, removed, kept, error)) << "a missing folder is no error";
  std::ofstream(root + "/file") << "x";
  EXPECT_FALSE(ClearCacheFolder(root + "/file", removed, kept, error));
  EXPECT_TRUE(fs::exists(root + "/file"));
  fs::remove_all(root);
}

TEST(HelpDocuments, ManPageAndCompletionsCoverEveryVisibleOption) {
  CCommandLine commandLine;
  const CLI::App& app = commandLine.App();
  const std::string man = RenderManPage(app, "1.2.3");
  const std::string bash = RenderCompletion(app, "bash");
  const std::string zsh = RenderCompletion(app, "zsh");
  const std::string fish = RenderCompletion(app, "fish");
  EXPECT_EQ(RenderCompletion(app, "tcsh"), "");
  EXPECT_EQ(man.find("man\\-page"), std::string::npos) << "hidden options stay hidden";
  EXPECT_EQ(bash.find("--man-page"), std::string::npos);
  EXPECT_NE(man.find(".TH VERSEWELL 1 \"\" \"versewell 1.2.3\""), std::string::npos);
  std::vector<const CLI::App*> apps = {&app};
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) apps.push_back(sub);
  for (const CLI::App* each : apps) {
    for (const CLI::Option* option : each->get_options()) {
      if (option->get_group().empty() || !option->nonpositional()) continue;
      for (const std::string& l : option->get_lnames()) {
        std::string troff;
        for (char c : "--" + l) troff += c == '-' ? std::string("\\-") : std::string(1, c);
        EXPECT_NE(man.find("\\fB" + troff + "\\fR"), std::string::npos) << l;
        EXPECT_NE(bash.find(" --" + l), std::string::npos) << l;
        EXPECT_NE(zsh.find("'--" + l), std::string::npos) << l;
        EXPECT_NE(fish.find(" -l " + l + " "), std::string::npos) << l;
      }
    }
    if (each != &app) {
      std::string troff;
      for (char c : each->get_name()) troff += c == '-' ? std::string("\\-") : std::string(1, c);
      EXPECT_NE(man.find("\\fB" + troff), std::string::npos) << each->get_name();
      EXPECT_NE(fish.find(" -a " + each->get_name() + " "), std::string::npos) << each->get_name();
    }
  }
}
