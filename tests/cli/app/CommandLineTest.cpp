// The command table's views (usage errors, suggestions, help, completion,
// man page), the JSON error object and the exit code of the program's own
// faults.
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "cli/app/CommandLine.h"
#include "cli/app/CommandTable.h"
#include "cli/app/HelpDocuments.h"
#include "cli/app/Program.h"
#include "cli/output/JsonError.h"

namespace cli {
namespace {

struct SParsed {
  std::optional<int> exitCode;
  std::string strOut;
  std::string strErr;
  SOptions options;
};

SParsed ParseLine(std::vector<std::string> words) {
  words.insert(words.begin(), "versewell");
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  CCommandLine commandLine;
  SParsed parsed;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  parsed.exitCode = commandLine.Parse(static_cast<int>(argv.size()), argv.data());
  parsed.strErr = testing::internal::GetCapturedStderr();
  parsed.strOut = testing::internal::GetCapturedStdout();
  parsed.options = commandLine.Options();
  return parsed;
}

TEST(CommandTable, NoCommandAndAnUnknownCommandListEveryCommand) {
  ASSERT_EQ(CommandTable().size(), 10u);
  for (const std::vector<std::string>& line : {std::vector<std::string>{}, std::vector<std::string>{"frobnicate"},
                                               std::vector<std::string>{"--json", "--stats"}}) {
    SParsed parsed = ParseLine(line);
    ASSERT_EQ(parsed.exitCode, EXIT_USAGE) << parsed.strErr;
    EXPECT_NE(parsed.strErr.find("commands: artist, songs, lyrics, log, cache, config, completion, fetch-all, batch, library"),
              std::string::npos)
        << parsed.strErr;
  }
}

TEST(CommandTable, TyposAreAnsweredWithTheNearestCommandFromTheTable) {
  SParsed parsed = ParseLine({"librari", "x"});
  EXPECT_EQ(parsed.exitCode, EXIT_USAGE);
  EXPECT_NE(parsed.strErr.find("unknown command \"librari\" (did you mean `library`?)"), std::string::npos)
      << parsed.strErr;
  parsed = ParseLine({"help", "fetchall"});
  EXPECT_EQ(parsed.exitCode, EXIT_USAGE);
  EXPECT_NE(parsed.strErr.find("(did you mean `fetch-all`?)"), std::string::npos) << parsed.strErr;
}

TEST(CommandTable, UsageErrorsQuoteTheRowsUsageAndRowsFillTheOptions) {
  SParsed parsed = ParseLine({"log"});
  EXPECT_EQ(parsed.exitCode, EXIT_USAGE);
  EXPECT_NE(parsed.strErr.find("log is missing its argument: versewell log FILE"), std::string::npos) << parsed.strErr;
  parsed = ParseLine({"songs", " - "});
  EXPECT_NE(parsed.strErr.find("an empty artist name is no search: versewell songs NAME"), std::string::npos)
      << parsed.strErr;
  parsed = ParseLine({"cache", "clear"});
  EXPECT_EQ(parsed.exitCode, std::nullopt) << parsed.strErr;
  EXPECT_EQ(parsed.options.eCommand, ECommand::CacheClear);
  parsed = ParseLine({"--log-dir", "logs", "lyrics", "Quillfeather", "Salt Road"});
  EXPECT_EQ(parsed.exitCode, std::nullopt) << parsed.strErr;
  EXPECT_EQ(parsed.options.eCommand, ECommand::Lyrics);
  EXPECT_EQ(parsed.options.vecArgs, (std::vector<std::string>{"Quillfeather", "Salt Road"}));
  EXPECT_EQ(parsed.options.strTraceLevel, "Debug") << "the default level follows from --log-dir";
}

TEST(CommandTable, HelpManPageAndCompletionsNameEveryRow) {
  CCommandLine commandLine;
  const std::string help = commandLine.HelpText(nullptr);
  const std::string man = RenderManPage(commandLine.App(), "1");
  const std::string bash = RenderCompletion(commandLine.App(), "bash");
  for (const SCommandRow& row : CommandTable()) {
    std::string troff;
    for (const char* c = row.pszName; *c != '\0'; ++c) troff += *c == '-' ? std::string("\\-") : std::string(1, *c);
    EXPECT_NE(help.find(row.pszName), std::string::npos) << row.pszName;
    EXPECT_NE(help.find(row.pszSummary), std::string::npos) << row.pszName;
    EXPECT_NE(man.find("\\fB" + troff + "\\fR"), std::string::npos) << row.pszName;
    EXPECT_NE(bash.find(row.pszName), std::string::npos) << row.pszName;
  }
}

TEST(JsonError, EveryKindHasTheSameKeysAndNullsForWhatIsUnknown) {
  nlohmann::ordered_json write = JsonError(EErrorKind::Write, "cannot write x.txt", "lyrics.wiki.example/wiki/A:B");
  EXPECT_EQ(write.dump(), "{\"error\":{\"kind\":\"write\",\"message\":\"cannot write x.txt\","
                          "\"url\":\"lyrics.wiki.example/wiki/A:B\",\"cause\":null}}");
  nlohmann::ordered_json usage = JsonError(EErrorKind::Usage, "bad");
  EXPECT_EQ(usage.dump(), "{\"error\":{\"kind\":\"usage\",\"message\":\"bad\",\"url\":null,\"cause\":null}}");
  nlohmann::ordered_json near = JsonError(EErrorKind::NotFound, "no song", "", "", {"Salt Road"});
  EXPECT_EQ(near["error"]["suggestions"], nlohmann::ordered_json({"Salt Road"}));
  SParsed parsed = ParseLine({"--json", "frobnicate"});
  EXPECT_EQ(nlohmann::json::parse(parsed.strOut)["error"]["kind"], "usage") << parsed.strOut;
}

TEST(RunGuarded, TheProgramsOwnFaultsExitSeventyWithAnInternalErrorLine) {
  testing::internal::CaptureStderr();
  int code = RunGuarded([]() -> int { throw std::bad_alloc(); }, false);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(code, EXIT_INTERNAL);
  EXPECT_EQ(EXIT_INTERNAL, 70);
  EXPECT_NE(err.find("versewell: internal error: out of memory"), std::string::npos) << err;

  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  code = RunGuarded([]() -> int { throw std::logic_error("broken invariant"); }, true);
  err = testing::internal::GetCapturedStderr();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(code, EXIT_INTERNAL);
  EXPECT_NE(err.find("internal error: unexpected exception: broken invariant"), std::string::npos) << err;
  nlohmann::json object = nlohmann::json::parse(out);
  EXPECT_EQ(object["error"]["kind"], "internal");

  EXPECT_EQ(RunGuarded([] { return EXIT_NETWORK; }, true), EXIT_NETWORK) << "an ordinary exit code passes through";
}

}  // namespace
}  // namespace cli
