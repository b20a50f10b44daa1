// versewell: the command-line host of the Versewell lyrics plug-in.
// (The process entry point is per platform: cli/sys/*/Entry.cpp.)
//
// Parses the command line (CCommandLine), loads the plug-in library through
// the public host interface, and hands the work to CCommandRunner. Exit
// codes: 0 found, 1 not on the wiki, 2 usage error or plug-in not loadable,
// 3 network or server failure, 70 internal error, 130 interrupted.
#include <cstring>
#include <new>
#include <string>

#include "cli/app/CommandLine.h"
#include "cli/app/Commands.h"
#include "cli/sys/HostPlatform.h"
#include "cli/app/LocalCommands.h"
#include "cli/app/Options.h"
#include "cli/host/PluginLibrary.h"
#include "cli/app/Program.h"
#include "cli/output/JsonError.h"

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

int RunGuarded(const std::function<int()>& body, bool json) {
  std::string message;
  try {
    return body();
  } catch (const std::bad_alloc&) {
    message = "internal error: out of memory";
  } catch (const std::exception& e) {
    message = std::string("internal error: unexpected exception: ") + e.what();
  } catch (...) {
    message = "internal error: unexpected exception";
  }
  PrintError(message);
  if (json) {
    std::string text = JsonError(EErrorKind::Internal, message)
                           .dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    hostplatform::WriteText(stdout, text);
  }
  return EXIT_INTERNAL;
}

int RunProgram(int argc, char** argv) {
  bool json = false;
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) json = json || std::strcmp(argv[i], "--json") == 0;
  return RunGuarded([argc, argv] { return Main(argc, argv); }, json);
}

}  // namespace cli
