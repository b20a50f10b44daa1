// The versewell command line; see CommandLine.h.
#include "cli/CommandLine.h"

#include <cmath>

#include "cli/Commands.h"
#include "cli/OutputTemplate.h"

namespace cli {

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
      save every song as ./lyrics/Quillfeather/<title>.txt; run again to fetch only new ones
  versewell fetch-all "Quillfeather" --out ./lyrics --template "{artist} - {title}.txt"
      the same, flat, one file per song named after artist and title
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

}  // namespace

CCommandLine::CCommandLine()
    : m_app("versewell: find artists, song lists and lyrics on the lyrics wiki through the Versewell plug-in.",
            "versewell") {
  CLI::App& app = m_app;
  SOptions& options = m_options;
  app.footer(EXAMPLES);
  app.require_subcommand(0, 1);
  app.fallthrough();

  app.add_flag("--version", m_bShowVersion, "Print the plug-in's name and version");
  app.add_option("--plugin", options.strPlugin, "Plug-in library to load (default: the one installed beside versewell)");
  app.add_option("--proxy", options.strProxy, "HTTP proxy through which the wiki is reached")
      ->type_name("HOST:PORT")
      ->check(CheckProxy);
  m_pMaxDiffOption =
      app.add_option("--max-diff", m_fMaxDifference,
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
  app.add_flag("-q,--quiet", options.bQuiet, "Print nothing on stderr but errors (no progress line, no notes)");
  app.add_flag("--no-progress", options.bNoProgress, "Draw no progress line while fetch-all runs");

  m_pArtist = app.add_subcommand("artist", "Print the address of an artist's page");
  m_pArtist->add_option("NAME", m_strArtistName, "Artist name")->required();

  m_pSongs = app.add_subcommand("songs", "List an artist's songs: title, tab, address");
  m_pSongs->add_option("NAME", m_strSongsName, "Artist name")->required();

  m_pLyrics = app.add_subcommand("lyrics", "Print the lyrics of a song page, or of ARTIST's song TITLE");
  m_pLyrics->add_option("URL | ARTIST TITLE", m_vecLyricsArgs, "A song page address, or an artist and a song title")
      ->required()
      ->expected(1, 2);

  m_pFetchAll = app.add_subcommand("fetch-all", "Save the lyrics of all of an artist's songs as .txt files");
  m_pFetchAll->add_option("ARTIST", m_strFetchName, "Artist name")->required();
  m_pFetchAll->add_option("--out", options.strOutDir, "Folder for the files (created when missing)")
      ->type_name("DIR")
      ->required();
  m_pFetchAll->add_flag("--force", options.bForce, "Fetch and overwrite files saved before for the same pages");
  m_pFetchAll->add_option("--template", options.strTemplate,
                          "Layout of the files below --out (default \"{artist}/{title}.txt\"); {artist} and {title} "
                          "come from the song's page name and are made safe as file names")
      ->type_name("PATTERN")
      ->check([](const std::string& text) {
        COutputTemplate layout;
        std::string error;
        return layout.Parse(text, error) ? std::string() : error;
      });

  AddLibraryCommands(app, options, m_libraryCommands);
}

std::optional<int> CCommandLine::Parse(int argc, char** argv) {
  CLI::App& app = m_app;
  SOptions& options = m_options;
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help
    PrintError(std::string(e.what()) + " (see versewell --help)");
    return EXIT_USAGE;
  }

  if (m_pMaxDiffOption->count() > 0) {
    if (!std::isfinite(m_fMaxDifference)) {
      PrintError("--max-diff must be a finite number (see versewell --help)");
      return EXIT_USAGE;
    }
    options.fMaxDifference = m_fMaxDifference;
  }
  std::string libraryError;
  if (TakeLibraryCommand(m_libraryCommands, options, libraryError)) {
    if (!libraryError.empty()) {
      PrintError(libraryError + " (see versewell --help)");
      return EXIT_USAGE;
    }
  } else if (m_pArtist->parsed()) {
    options.eCommand = ECommand::Artist;
    options.vecArgs = {m_strArtistName};
  } else if (m_pSongs->parsed()) {
    options.eCommand = ECommand::Songs;
    options.vecArgs = {m_strSongsName};
  } else if (m_pLyrics->parsed()) {
    options.eCommand = ECommand::Lyrics;
    options.vecArgs = m_vecLyricsArgs;
  } else if (m_pFetchAll->parsed()) {
    options.eCommand = ECommand::FetchAll;
    options.vecArgs = {m_strFetchName};
  } else if (m_bShowVersion) {
    options.eCommand = ECommand::Version;
  } else {
    PrintError("no command given (see versewell --help)");
    return EXIT_USAGE;
  }
  if (!options.strParentLog.empty() && options.strLogDir.empty()) {
    PrintError("--parent-log needs --log-dir (see versewell --help)");
    return EXIT_USAGE;
  }
  return std::nullopt;
}

}  // namespace cli
