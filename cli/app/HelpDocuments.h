// The man page and the shell completion scripts, written from the same
// CLI11 option table that prints --help, so that the three cannot drift
// apart: every option, subcommand, value name and description comes from
// the table. Options in the empty (hidden) group are left out, as --help
// leaves them out.
//
// A positional argument whose value name lists choices as "a|b|c" completes
// to those choices; options whose value name is DIR, FILE or names a path
// complete to file names.
//
// Failure: none; the result is text.
// Threads: reads the application object only; call it once parsing is done
// or before it starts, on the thread that owns the object.
#ifndef VERSEWELL_CLI_HELP_DOCUMENTS_H
#define VERSEWELL_CLI_HELP_DOCUMENTS_H

#include <string>

#include <CLI/CLI.hpp>

namespace cli {

// A man page in troff -man format, section 1.
std::string RenderManPage(const CLI::App& app, const std::string& version);

// A completion script for "bash", "zsh" or "fish"; empty for another shell.
std::string RenderCompletion(const CLI::App& app, const std::string& shell);

}  // namespace cli

#endif  // VERSEWELL_CLI_HELP_DOCUMENTS_H
