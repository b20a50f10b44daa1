// The command-line options of `versewell batch` and `versewell library`,
// declared on their CLI11 subcommands (the command table makes those), and
// the checks that run after parsing. Threads: the main thread, before any
// work.
#ifndef VERSEWELL_CLI_MUSIC_LIBRARY_COMMAND_LINE_H
#define VERSEWELL_CLI_MUSIC_LIBRARY_COMMAND_LINE_H

#include <string>

#include <CLI/CLI.hpp>

#include "cli/app/Options.h"

namespace cli {

struct SMusicLibraryCommandLine {
  std::string strBatchInput = "-";
  std::string strLibraryDir;
};

// Declare the arguments and options of `batch` and `library` on their
// subcommands; the values land in `options` and `state`.
void DeclareBatchCommand(CLI::App& batch, SOptions& options, SMusicLibraryCommandLine& state);
void DeclareLibraryCommand(CLI::App& library, SOptions& options, SMusicLibraryCommandLine& state);

// After parsing the command: fill `options.eCommand` and `options.vecArgs`;
// the result is a usage error message, empty when the line is fine.
std::string TakeBatchCommand(const SMusicLibraryCommandLine& state, SOptions& options);
std::string TakeLibraryCommand(const SMusicLibraryCommandLine& state, SOptions& options);

}  // namespace cli

#endif  // VERSEWELL_CLI_MUSIC_LIBRARY_COMMAND_LINE_H
