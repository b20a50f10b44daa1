#include "cli/app/LocalCommands.h"

#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/output/CacheFolder.h"
#include "cli/app/ConfigFile.h"
#include "cli/app/Commands.h"
#include "cli/app/HelpDocuments.h"
#include "cli/sys/HostPlatform.h"
#include "cli/host/TraceLogText.h"

namespace cli {
namespace {

int Print(const std::string& text) {
  const bool written = hostplatform::WriteText(stdout, text);
  std::string why;
  if (StdoutIntact(why) && written) return EXIT_FOUND;
  PrintError("cannot write to standard output: " + (why.empty() ? std::string("write error") : why));
  return EXIT_WRITE;
}

// `versewell config`: each setting's value and where it came from.
int PrintConfig(const SOptions& options) {
  const std::string file = options.strConfigFile.empty() ? std::string("(no HOME or XDG_CONFIG_HOME)")
                                                         : options.strConfigFile;
  if (options.bJson) {
    nlohmann::ordered_json settings = nlohmann::ordered_json::object();
    for (const std::string& name : ConfigNames()) {
      auto source = options.mapSources.find(name);
      settings[name] = {{"value", EffectiveValue(name, options)},
                        {"source", source == options.mapSources.end() ? "default" : source->second}};
    }
    nlohmann::ordered_json doc = {{"file", file}, {"found", options.bConfigFound}, {"settings", std::move(settings)}};
    return Print(doc.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n");
  }
  std::string text = "config file: " + file + (options.bConfigFound ? "" : " (not there)") + "\n";
  for (const std::string& name : ConfigNames()) {
    auto source = options.mapSources.find(name);
    std::string line = name + " = " + EffectiveValue(name, options);
    if (line.size() < 40) line.resize(40, ' ');
    text += line + "  " + (source == options.mapSources.end() ? "default" : source->second) + "\n";
  }
  return Print(text);
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
    case ECommand::Config:
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
      auto json = [](const nlohmann::ordered_json& doc) {
        return Print(doc.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n");
      };
      if (options.eCommand == ECommand::CachePath) return options.bJson ? json({{"folder", folder}}) : Print(folder + "\n");
      size_t removed = 0, kept = 0;
      std::string error;
      if (!ClearCacheFolder(folder, removed, kept, error)) {
        PrintError(error);
        if (options.bJson)
          json({{"error", {{"kind", "write"}, {"message", error}, {"url", nullptr}, {"cause", nullptr}}}});
        return EXIT_WRITE;
      }
      if (options.bJson) {
        const int code = json({{"folder", folder}, {"removed", removed}, {"kept", kept}});
        if (kept != 0)
          PrintError("kept " + std::to_string(kept) + " file(s) in " + folder + " that are not artist cache files");
        return code;
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
    case ECommand::Config:
      return PrintConfig(options);
    default:
      return EXIT_USAGE;
  }
}

}  // namespace cli
