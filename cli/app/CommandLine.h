// The versewell command line: the global options and, from the command
// table (CommandTable.h), every command, in one CLI11 application.
//
// CCommandLine builds the CLI11 application once. The same application object
// serves parsing (main), --help, and any generator that walks the option
// table (man page, shell completions), so the three never drift apart.
//
// Ownership: the object owns the CLI::App and the storage the options parse
// into; Options() is valid after Parse() returned no exit code.
// Failure: Parse() prints usage errors itself and returns the exit code.
// Threads: the main thread only.
#ifndef VERSEWELL_CLI_COMMANDLINE_H
#define VERSEWELL_CLI_COMMANDLINE_H

#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/app/CommandTable.h"
#include "cli/app/Options.h"

namespace cli {

class CCommandLine {
 public:
  CCommandLine();
  CCommandLine(const CCommandLine&) = delete;
  CCommandLine& operator=(const CCommandLine&) = delete;

  // The whole option table, for --help and generators.
  CLI::App& App() { return m_app; }

  // Parses the arguments into Options(). Returns std::nullopt when the
  // command should run, or the exit code to end with (help printed, or a
  // usage error reported on stderr).
  // --version / -V and `help` are answered before parsing, anywhere on the
  // line; with --json a usage error is also a JSON error object on stdout.
  std::optional<int> Parse(int argc, char** argv);

  // The help text of a subcommand (or of the program when null), with the
  // global options listed too.
  std::string HelpText(CLI::App* subcommand);

  const SOptions& Options() const { return m_options; }

  // Reports a usage error: one line on stderr ("versewell: " + message),
  // and the JSON error object on stdout with --json. Returns EXIT_USAGE.
  int UsageError(const std::string& message) const;

 private:
  // The steps of Parse, in order.
  bool AnswerBeforeParsing(const std::vector<std::string>& args, std::optional<int>& exitCode);
  std::optional<int> RunParser(int argc, char** argv);
  std::optional<int> Validate();
  std::optional<int> BuildOptions(const SCommandRow* row);
  std::optional<int> ResolveDefaults();

  // The command the parser took (one at most), its row, or null.
  CLI::App* ParsedCommand() const;
  const SCommandRow* RowOf(const CLI::App* command) const;
  // The usage error of a CLI11 parse failure.
  int ReportParseError(const CLI::ParseError& error);
  // Whether the option --NAME was given, before or after the command.
  bool GivenOnCommandLine(const std::string& name) const;
  // Fills what the command line left out from VERSEWELL_PROXY and the
  // user's config file (ConfigFile.h); an exit code on a bad setting.
  std::optional<int> ApplyUserConfig();

  CLI::App m_app;
  SOptions m_options;
  SCommandArgs m_args;
  std::vector<CLI::App*> m_vecCommands;  // one per row of the command table
  bool m_bJsonRequested = false;

  bool m_bShowVersion = false;
  std::string m_strMaxDifference;
  unsigned m_nTimeoutSeconds = 0;  // --timeout, in seconds as typed
  CLI::Option* m_pMaxDiffOption = nullptr;
  bool m_bManPage = false;
};

}  // namespace cli

#endif  // VERSEWELL_CLI_COMMANDLINE_H
