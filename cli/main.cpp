// versewell: the command-line host of the Versewell lyrics plug-in.
//
// Parses the command line, loads the plug-in library through the public host
// interface, and hands the work to CCommandRunner. Exit codes: 0 found,
// 1 not found or failed, 2 usage error or plug-in not loadable,
// 130 interrupted.
#include <cmath>
#include <cstdio>
#include <iostream>
#include <new>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/Commands.h"
#include "cli/HostPlatform.h"
#include "cli/LibraryCommandLine.h"
#include "cli/Options.h"
#include "cli/PluginLibrary.h"

namespace {

const char* const EXAMPLES = R"(
Examples:
  versewell artist "Quillfeather"
      print the address of the artist's wiki page
  versewell songs "Quillfeather"
      one line per song: title, a tab, the song page's address
  versewell lyrics "Quillfeather" "salt road"
      the lyrics of the closest-titled song (letter case does not matter)
  versewell lyrics "lyrics.wiki.example/wiki/Quillfeather:Salt_Road"
      the lyrics of one song page, as printed by the songs command
  versewell --json songs "Quillfeather" | python3 -m json.tool
      the same as one JSON object
  versewell fetch-all "Quillfeather" --out ./lyrics
      save every song as ./lyrics/<title>.txt; run again to fetch only new ones
  versewell-wiki --root <prefix>/share/versewell/wiki --port 8080 &
  versewell --proxy 127.0.0.1:8080 songs "Quillfeather"
      serve the bundled sample wiki and reach it as the wiki's HTTP proxy
  versewell --log-dir ./logs --trace-level Debug --parent-log host.log artist "Quillfeather"
      trace the plug-in and merge its log into host.log at the end

Exit status: 0 found, 1 not found or failed, 2 usage error or plug-in not
loadable, 130 interrupted (Ctrl-C or SIGTERM).
The artist cache lives in $XDG_CACHE_HOME/versewell (or ~/.cache/versewell)
unless --cache-dir or --no-cache says otherwise.)";

// Accepts HOST:PORT, [IPv6]:PORT, optionally with a scheme in front.
std::string CheckProxy(const std::string& value) {
  size_t colon = value.rfind(':');
  if (value.empty() || colon == std::string::npos || colon + 1 == value.size() || colon == 0)
    return "expected HOST:PORT, got \"" + value + "\"";
  for (char c : value)
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) return "the proxy must not contain blanks or control characters";
  std::string port = value.substr(colon + 1);
  if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos || std::stol(port) < 1 ||
      std::stol(port) > 65535)
    return "the proxy port must be a number from 1 to 65535";
  return std::string();
}

int Main(int argc, char** argv) {
  cli::SOptions options;
  CLI::App app{"versewell: find artists, song lists and lyrics on the lyrics wiki through the Versewell plug-in.",
               "versewell"};
  app.footer(EXAMPLES);
  app.require_subcommand(0, 1);
  app.fallthrough();

  bool showVersion = false;
  float maxDifference = 1.0f;
  app.add_flag("--version", showVersion, "Print the plug-in's name and version");
  app.add_option("--plugin", options.strPlugin, "Plug-in library to load (default: the one installed beside versewell)");
  app.add_option("--proxy", options.strProxy, "HTTP proxy through which the wiki is reached")
      ->type_name("HOST:PORT")
      ->check(CheckProxy);
  CLI::Option* maxDiffOption =
      app.add_option("--max-diff", maxDifference,
                     "Largest artist name difference still accepted (default 1: letter case, surrounding blanks, "
                     "blanks inside brackets; 250 also forgives a missing \"The \")")
          ->type_name("X")
          ->check(CLI::NonNegativeNumber);
  app.add_option("--cache-dir", options.strCacheDir, "Artist cache folder (created when missing)")->type_name("DIR");
  app.add_flag("--no-cache", options.bNoCache, "Use no artist cache");
  app.add_option("--log-dir", options.strLogDir, "Write the plug-in's trace log into DIR")->type_name("DIR");
  app.add_option("--trace-level", options.strTraceLevel, "Trace log level")
      ->type_name("NAME")
      ->check(CLI::IsMember({"Error", "Warning", "Info", "Debug", "Detail", "Verbose"}));
  app.add_option("--parent-log", options.strParentLog,
                 "At exit, append the trace log to FILE (UTF-16) and delete it; needs --log-dir")
      ->type_name("FILE");
  app.add_flag("--json", options.bJson, "Print one JSON object per command");
  app.add_flag("--stats", options.bStats, "Report the download statistics (stderr, or \"stats\" in JSON)");
  app.add_flag("-v,--verbose", options.bVerbose, "Report the plug-in path, cache and the hosts contacted on stderr");

  CLI::App* artist = app.add_subcommand("artist", "Print the address of an artist's page");
  std::string artistName;
  artist->add_option("NAME", artistName, "Artist name")->required();

  CLI::App* songs = app.add_subcommand("songs", "List an artist's songs: title, tab, address");
  std::string songsName;
  songs->add_option("NAME", songsName, "Artist name")->required();

  CLI::App* lyrics = app.add_subcommand("lyrics", "Print the lyrics of a song page, or of ARTIST's song TITLE");
  std::vector<std::string> lyricsArgs;
  lyrics->add_option("URL | ARTIST TITLE", lyricsArgs, "A song page address, or an artist and a song title")
      ->required()
      ->expected(1, 2);

  CLI::App* fetchAll = app.add_subcommand("fetch-all", "Save the lyrics of all of an artist's songs as .txt files");
  std::string fetchName;
  fetchAll->add_option("ARTIST", fetchName, "Artist name")->required();
  fetchAll->add_option("--out", options.strOutDir, "Folder for the files (created when missing)")
      ->type_name("DIR")
      ->required();
  fetchAll->add_flag("--force", options.bForce, "Fetch and overwrite files that already exist");

  cli::SLibraryCommandLine libraryCommands;
  cli::AddLibraryCommands(app, options, libraryCommands);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help
    cli::PrintError(std::string(e.what()) + " (see versewell --help)");
    return cli::EXIT_USAGE;
  }

  if (maxDiffOption->count() > 0) {
    if (!std::isfinite(maxDifference)) {
      cli::PrintError("--max-diff must be a finite number (see versewell --help)");
      return cli::EXIT_USAGE;
    }
    options.fMaxDifference = maxDifference;
  }
  std::string libraryError;
  if (cli::TakeLibraryCommand(libraryCommands, options, libraryError)) {
    if (!libraryError.empty()) {
      cli::PrintError(libraryError + " (see versewell --help)");
      return cli::EXIT_USAGE;
    }
  } else if (artist->parsed()) {
    options.eCommand = cli::ECommand::Artist;
    options.vecArgs = {artistName};
  } else if (songs->parsed()) {
    options.eCommand = cli::ECommand::Songs;
    options.vecArgs = {songsName};
  } else if (lyrics->parsed()) {
    options.eCommand = cli::ECommand::Lyrics;
    options.vecArgs = lyricsArgs;
  } else if (fetchAll->parsed()) {
    options.eCommand = cli::ECommand::FetchAll;
    options.vecArgs = {fetchName};
  } else if (showVersion) {
    options.eCommand = cli::ECommand::Version;
  } else {
    cli::PrintError("no command given (see versewell --help)");
    return cli::EXIT_USAGE;
  }
  if (!options.strParentLog.empty() && options.strLogDir.empty()) {
    cli::PrintError("--parent-log needs --log-dir (see versewell --help)");
    return cli::EXIT_USAGE;
  }

  hostplatform::InstallStopHandlers();
  cli::CPluginLibrary library;
  std::string error;
  if (!library.Load(options.strPlugin.empty() ? cli::DefaultPluginPath() : options.strPlugin, error)) {
    cli::PrintError(error + (options.strPlugin.empty() ? " (give another with --plugin PATH)" : ""));
    return cli::EXIT_USAGE;
  }
  cli::CCommandRunner runner(options, library);
  return runner.Run();
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::bad_alloc&) {
    cli::PrintError("out of memory");
  } catch (const std::exception& e) {
    cli::PrintError(std::string("unexpected error: ") + e.what());
  }
  return cli::EXIT_NOT_FOUND;
}
