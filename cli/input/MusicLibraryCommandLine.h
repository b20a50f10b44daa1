// The command-line options of `versewell batch` and `versewell library`,
// added to the program's CLI11 parser, and the checks that run after
// parsing. Threads: the main thread, before any work.
#ifndef VERSEWELL_CLI_MUSIC_LIBRARY_COMMAND_LINE_H
#define VERSEWELL_CLI_MUSIC_LIBRARY_COMMAND_LINE_H

#include <string>

#include <CLI/CLI.hpp>

#include "cli/app/Options.h"

namespace cli {

struct SMusicLibraryCommandLine {
  CLI::App* pBatch = nullptr;
  CLI::App* pLibrary = nullptr;
  std::string strBatchInput = "-";
  std::string strLibraryDir;
};

// Adds both subcommands; their values land in `options` and `state`.
void AddLibraryCommands(CLI::App& app, SOptions& options, SMusicLibraryCommandLine& state);

// After parsing: when one of the two subcommands was given, fills
// `options.eCommand` and `options.vecArgs` and returns true; `error` is set
// for a usage error.
bool TakeLibraryCommand(const SMusicLibraryCommandLine& state, SOptions& options, std::string& error);

}  // namespace cli

#endif  // VERSEWELL_CLI_MUSIC_LIBRARY_COMMAND_LINE_H
