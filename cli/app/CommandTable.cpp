// The command table; see CommandTable.h.
#include "cli/app/CommandTable.h"

#include "cli/output/OutputTemplate.h"
#include "cli/sys/TextConvert.h"

namespace cli {
namespace {

const char* const PROGRAM_USAGE = "versewell [OPTIONS] COMMAND ...";

// A name that is empty or "-" after trimming searches for nothing.
std::string CheckName(const std::string& value, const char* what, const char* command) {
  std::wstring trimmed = TrimWide(Utf8ToWide(value));
  if (trimmed.empty() || trimmed == L"-")
    return std::string("an empty ") + what + " is no search: " + UsageOf(FindCommand(command));
  // A line break or other control character can be no part of a name on
  // the wiki; the plug-in would refuse the address it makes of it.
  for (wchar_t c : trimmed)
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0) || c == 0x2028 || c == 0x2029)
      return std::string("the ") + what + " \"" + Echo(value) + "\" contains a control character";
  return std::string();
}

void DeclareArtist(CLI::App& command, SOptions&, SCommandArgs& args) {
  command.add_option("NAME", args.strArtistName, "Artist name")->required();
}

std::string TakeArtist(const SCommandArgs& args, SOptions& options) {
  options.eCommand = ECommand::Artist;
  options.vecArgs = {args.strArtistName};
  return CheckName(args.strArtistName, "artist name", "artist");
}

void DeclareSongs(CLI::App& command, SOptions&, SCommandArgs& args) {
  command.add_option("NAME", args.strSongsName, "Artist name")->required();
}

std::string TakeSongs(const SCommandArgs& args, SOptions& options) {
  options.eCommand = ECommand::Songs;
  options.vecArgs = {args.strSongsName};
  return CheckName(args.strSongsName, "artist name", "songs");
}

void DeclareLyrics(CLI::App& command, SOptions& options, SCommandArgs& args) {
  command.add_option("URL | ARTIST TITLE", args.vecLyricsArgs, "A song page address, or an artist and a song title")
      ->required()
      ->expected(1, -1);
  command.add_flag("--closest", options.bClosest,
                   "Take the closest title even when it is not close (otherwise exit 1 with suggestions)");
}

std::string TakeLyrics(const SCommandArgs& args, SOptions& options) {
  const std::vector<std::string>& words = args.vecLyricsArgs;
  options.eCommand = ECommand::Lyrics;
  options.vecArgs = words;
  const char* usage = UsageOf(FindCommand("lyrics"));
  if (words.size() > 2)
    return "lyrics takes an artist and one title, got " + std::to_string(words.size()) +
           " words; quote a title with blanks: " + usage;
  if (words.size() == 1) {
    std::string error = CheckName(words[0], "address", "lyrics");
    if (!error.empty()) return error;
    // A song page address has a path; a bare word is an artist whose
    // title is missing.
    if (words[0].find('/') == std::string::npos)
      return "lyrics needs a title after the artist \"" + Echo(words[0]) + "\", or a song page address: " + usage;
    return std::string();
  }
  std::string error = CheckName(words[0], "artist name", "lyrics");
  return error.empty() ? CheckName(words[1], "title", "lyrics") : error;
}

void DeclareLog(CLI::App& command, SOptions&, SCommandArgs& args) {
  command.add_option("FILE", args.strLogFile, "A trace file, or a parent log the trace log was merged into")
      ->required();
}

std::string TakeLog(const SCommandArgs& args, SOptions& options) {
  options.eCommand = ECommand::Log;
  options.vecArgs = {args.strLogFile};
  return std::string();
}

void DeclareCache(CLI::App& command, SOptions&, SCommandArgs& args) {
  command.require_subcommand(1);
  args.pCachePath = command.add_subcommand("path", "Print the artist cache folder");
  args.pCacheClear = command.add_subcommand("clear", "Delete the artist cache files and the folders they leave empty");
}

std::string TakeCache(const SCommandArgs& args, SOptions& options) {
  options.eCommand = args.pCacheClear->parsed() ? ECommand::CacheClear : ECommand::CachePath;
  return std::string();
}

void DeclareCompletion(CLI::App& command, SOptions&, SCommandArgs& args) {
  command.add_option("SHELL", args.strShell, "bash, zsh or fish")
      ->type_name("bash|zsh|fish")
      ->required()
      ->check([](const std::string& shell) {
        return shell == "bash" || shell == "zsh" || shell == "fish"
                   ? std::string()
                   : "no completion for \"" + shell + "\"; the shells are bash, zsh and fish";
      });
}

std::string TakeCompletion(const SCommandArgs& args, SOptions& options) {
  options.eCommand = ECommand::Completion;
  options.vecArgs = {args.strShell};
  return std::string();
}

void DeclareConfig(CLI::App& command, SOptions&, SCommandArgs&) {
  command.footer(R"(
The config file ($XDG_CONFIG_HOME/versewell/config, else ~/.config/versewell/config;
%APPDATA%\versewell\config on Windows) holds one NAME = VALUE per line, '#' starts
a comment line:
  proxy = 127.0.0.1:8080
  cache-dir = ~/.cache/lyrics
  jobs = 4
  delay = 250        (milliseconds)
  retries = 3
  timeout = 20       (seconds)
  template = {artist}/{title}.txt
  out = ~/lyrics
Options on the command line win; VERSEWELL_PROXY comes before the file's proxy.)");
}

std::string TakeConfig(const SCommandArgs&, SOptions& options) {
  options.eCommand = ECommand::Config;
  return std::string();
}

void DeclareFetchAll(CLI::App& command, SOptions& options, SCommandArgs& args) {
  command.add_option("ARTIST", args.strFetchName, "Artist name")->required();
  command.add_option("--out", options.strOutDir, "Folder for the files (created when missing)")
      ->type_name("DIR")
      ->required();
  command.add_flag("--force", options.bForce, "Fetch and overwrite files saved before for the same pages");
  command
      .add_option("--template", options.strTemplate,
                  "Layout of the files below --out (default \"{artist}/{title}.txt\"); {artist} and {title} "
                  "come from the song's page name and are made safe as file names")
      ->type_name("PATTERN")
      ->check([](const std::string& text) {
        COutputTemplate layout;
        std::string error;
        return layout.Parse(text, error) ? std::string() : error;
      });
}

std::string TakeFetchAll(const SCommandArgs& args, SOptions& options) {
  options.eCommand = ECommand::FetchAll;
  options.vecArgs = {args.strFetchName};
  return CheckName(args.strFetchName, "artist name", "fetch-all");
}

void DeclareBatch(CLI::App& command, SOptions& options, SCommandArgs& args) {
  DeclareBatchCommand(command, options, args.library);
}

std::string TakeBatch(const SCommandArgs& args, SOptions& options) { return TakeBatchCommand(args.library, options); }

void DeclareLibrary(CLI::App& command, SOptions& options, SCommandArgs& args) {
  DeclareLibraryCommand(command, options, args.library);
}

std::string TakeLibrary(const SCommandArgs& args, SOptions& options) {
  return TakeLibraryCommand(args.library, options);
}

}  // namespace

const std::vector<SCommandRow>& CommandTable() {
  static const std::vector<SCommandRow> table = {
      {"artist", "Print the address of an artist's page", "versewell artist NAME", DeclareArtist, TakeArtist},
      {"songs", "List an artist's songs: title, tab, address", "versewell songs NAME", DeclareSongs, TakeSongs},
      {"lyrics", "Print the lyrics of a song page, or of ARTIST's song TITLE",
       "versewell lyrics ARTIST \"TITLE\"  or  versewell lyrics SONG-PAGE-ADDRESS", DeclareLyrics, TakeLyrics},
      {"log", "Print a trace log file (UTF-16) as UTF-8 text with LF line ends", "versewell log FILE", DeclareLog,
       TakeLog},
      {"cache", "Show or delete the artist cache folder", "versewell cache path  or  versewell cache clear",
       DeclareCache, TakeCache},
      {"config", "Show the settings in effect (proxy, cache folder, jobs, delay, retries, timeout, template, "
                 "output folder) and where each comes from",
       "versewell config", DeclareConfig, TakeConfig},
      {"completion", "Print a shell completion script", "versewell completion bash|zsh|fish", DeclareCompletion,
       TakeCompletion},
      {"fetch-all", "Save the lyrics of all of an artist's songs as .txt files", "versewell fetch-all ARTIST --out DIR",
       DeclareFetchAll, TakeFetchAll},
      {"batch", "Fetch the lyrics of a list of songs, one \"Artist<TAB>Title\" or \"Artist - Title\" per line",
       "versewell batch [FILE|-] --out DIR|--jsonl", DeclareBatch, TakeBatch},
      {"library", "Fetch lyrics for every tagged audio file (MP3, FLAC, Ogg, Opus, M4A) under a folder",
       "versewell library DIR", DeclareLibrary, TakeLibrary},
  };
  return table;
}

const SCommandRow* FindCommand(const std::string& name) {
  for (const SCommandRow& row : CommandTable())
    if (name == row.pszName) return &row;
  return nullptr;
}

std::string CommandNames() {
  std::string names;
  for (const SCommandRow& row : CommandTable()) names += (names.empty() ? "" : ", ") + std::string(row.pszName);
  return names;
}

const char* UsageOf(const SCommandRow* row) { return row != nullptr ? row->pszUsage : PROGRAM_USAGE; }

}  // namespace cli
