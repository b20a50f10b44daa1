// versewell: the command-line host of the Versewell lyrics plug-in.
// (The process entry point is per platform: cli/*/Entry.cpp.)
//
// Parses the command line (CCommandLine), loads the plug-in library through
// the public host interface, and hands the work to CCommandRunner. Exit
// codes: 0 found, 1 not on the wiki, 2 usage error or plug-in not loadable,
// 3 network or server failure, 130 interrupted.
#include <iostream>
#include <new>
#include <string>

#include "cli/app/CommandLine.h"
#include "cli/app/Commands.h"
#include "cli/sys/HostPlatform.h"
#include "cli/app/LocalCommands.h"
#include "cli/app/Options.h"
#include "cli/host/PluginLibrary.h"
#include "cli/app/Program.h"

namespace {

int Main(int argc, char** argv) {
  cli::CCommandLine commandLine;
  if (std::optional<int> exitCode = commandLine.Parse(argc, argv)) return *exitCode;
  const cli::SOptions& options = commandLine.Options();
  if (options.eCommand == cli::ECommand::Version) return cli::PrintVersion(options);
  if (cli::IsLocalCommand(options.eCommand)) return cli::RunLocalCommand(options, commandLine.App());

  hostplatform::InstallStopHandlers();
  cli::CPluginLibrary library;
  std::string error;
  if (!library.Load(options.strPlugin.empty() ? cli::DefaultPluginPath() : options.strPlugin, error)) {
    return commandLine.UsageError(error + (options.strPlugin.empty() ? " (give another with --plugin PATH)" : ""));
  }
  cli::CCommandRunner runner(options, library);
  return runner.Run();
}

}  // namespace

namespace cli {

int RunProgram(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::bad_alloc&) {
    cli::PrintError("out of memory");
  } catch (const std::exception& e) {
    cli::PrintError(std::string("unexpected error: ") + e.what());
  }
  return cli::EXIT_NOT_FOUND;
}

}  // namespace cli
