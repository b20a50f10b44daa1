// The commands that need no plug-in: `log FILE`, `cache path`, `cache
// clear`, `completion SHELL` and the hidden --man-page the build uses.
// They run before the plug-in library is loaded, so they work without one.
//
// Failure: one "versewell: " error line on stderr and exit code 1 (2 for
// no cache folder to name).
// Threads: the main thread.
#ifndef VERSEWELL_CLI_LOCAL_COMMANDS_H
#define VERSEWELL_CLI_LOCAL_COMMANDS_H

#include <CLI/CLI.hpp>

#include "cli/app/Options.h"

namespace cli {

bool IsLocalCommand(ECommand command);

// Runs a local command; `app` is the parsed option table.
int RunLocalCommand(const SOptions& options, const CLI::App& app);

}  // namespace cli

#endif  // VERSEWELL_CLI_LOCAL_COMMANDS_H
