// The commands of the versewell program, one row each. Everything that
// names the commands is built from this table: the CLI11 subcommands (and
// so --help, the man page and the shell completions), the usage lines
// quoted in usage errors, the command lists of "no command given" and
// "unknown command", and the "did you mean" suggestions.
//
// Adding a command is one row: its name, a one-line summary, its usage
// line, a function that declares its arguments and options on its CLI11
// subcommand, and one that turns the parsed values into SOptions.
//
// Ownership: the rows are constants; the values a command parses into live
// in the caller's SCommandArgs. Failure: a Take function returns a usage
// error message (empty when the command line is fine).
// Threads: the main thread, while the command line is parsed.
#ifndef VERSEWELL_CLI_COMMAND_TABLE_H
#define VERSEWELL_CLI_COMMAND_TABLE_H

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/app/Options.h"
#include "cli/input/MusicLibraryCommandLine.h"

namespace cli {

// The commands' own arguments, as CLI11 parses them.
struct SCommandArgs {
  std::string strArtistName;                 // artist
  std::string strSongsName;                  // songs
  std::vector<std::string> vecLyricsArgs;    // lyrics
  std::string strFetchName;                  // fetch-all
  std::string strLogFile;                    // log
  CLI::App* pCachePath = nullptr;            // cache path
  CLI::App* pCacheClear = nullptr;           // cache clear
  std::string strShell;                      // completion
  SMusicLibraryCommandLine library;          // batch and library
};

struct SCommandRow {
  const char* pszName;     // the word on the command line
  const char* pszSummary;  // one line in --help, the man page and completions
  const char* pszUsage;    // quoted by usage errors
  // Declares the command's arguments and options on its subcommand.
  void (*pfnDeclare)(CLI::App& command, SOptions& options, SCommandArgs& args);
  // After parsing: sets options.eCommand and options.vecArgs; returns a
  // usage error message, or an empty string.
  std::string (*pfnTake)(const SCommandArgs& args, SOptions& options);
};

// The rows, in the order --help lists them.
const std::vector<SCommandRow>& CommandTable();

// The row named `name`, or null.
const SCommandRow* FindCommand(const std::string& name);

// "artist, songs, ..." in table order.
std::string CommandNames();

// The row's usage line; the program's own for null.
const char* UsageOf(const SCommandRow* row);

}  // namespace cli

#endif  // VERSEWELL_CLI_COMMAND_TABLE_H
