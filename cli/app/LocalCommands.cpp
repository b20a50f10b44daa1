#include "cli/app/LocalCommands.h"

#include <cstdio>
#include <string>

#include "cli/output/CacheFolder.h"
#include "cli/app/Commands.h"
#include "cli/app/HelpDocuments.h"
#include "cli/sys/HostPlatform.h"
#include "cli/host/TraceLogText.h"

namespace cli {
namespace {

int Print(const std::string& text) {
  if (!hostplatform::WriteText(stdout, text) || std::fflush(stdout) != 0) {
    PrintError("cannot write to standard output");
    return EXIT_NOT_FOUND;
  }
  return EXIT_FOUND;
}

std::string CacheFolderOf(const SOptions& options) {
  return options.strCacheDir.empty() ? DefaultCacheFolder() : options.strCacheDir;
}

}  // namespace

bool IsLocalCommand(ECommand command) {
  switch (command) {
    case ECommand::Log:
    case ECommand::CachePath:
    case ECommand::CacheClear:
    case ECommand::Completion:
    case ECommand::ManPage:
      return true;
    default:
      return false;
  }
}

int RunLocalCommand(const SOptions& options, const CLI::App& app) {
  switch (options.eCommand) {
    case ECommand::Log: {
      std::string error;
      if (PrintTraceFile(options.vecArgs.at(0), error)) return EXIT_FOUND;
      PrintError(error);
      return EXIT_NOT_FOUND;
    }
    case ECommand::CachePath:
    case ECommand::CacheClear: {
      if (options.bNoCache) {
        PrintError("--no-cache: no cache folder is in use");
        return EXIT_USAGE;
      }
      const std::string folder = CacheFolderOf(options);
      if (folder.empty()) {
        PrintError("no cache folder: neither XDG_CACHE_HOME nor HOME is set; give one with --cache-dir DIR");
        return EXIT_USAGE;
      }
      if (options.eCommand == ECommand::CachePath) return Print(folder + "\n");
      size_t removed = 0, kept = 0;
      std::string error;
      if (!ClearCacheFolder(folder, removed, kept, error)) {
        PrintError(error);
        return EXIT_NOT_FOUND;
      }
      if (kept != 0)
        PrintError("kept " + std::to_string(kept) + " file(s) in " + folder + " that are not artist cache files");
      if (options.bVerbose) PrintError("deleted " + std::to_string(removed) + " cache file(s) in " + folder);
      return EXIT_FOUND;
    }
    case ECommand::Completion:
      return Print(RenderCompletion(app, options.vecArgs.at(0)));
    case ECommand::ManPage:
      return Print(RenderManPage(app, VERSEWELL_CLI_VERSION));
    default:
      return EXIT_USAGE;
  }
}

}  // namespace cli
