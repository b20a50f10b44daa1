// The versewell command line; see CommandLine.h.
#include "cli/app/CommandLine.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include <nlohmann/json.hpp>

#include "cli/sys/HostPlatform.h"
#include "cli/app/Commands.h"
#include "cli/app/ConfigFile.h"
#include "cli/output/JsonError.h"
#include "cli/output/OutputTemplate.h"
#include "cli/sys/TextConvert.h"
#include "cli/lookup/TitleMatch.h"
#include "cli/host/TraceLogText.h"

namespace cli {

namespace {

const char* const EXAMPLES = R"(
Examples:
  versewell artist "Quillfeather"
      print the address of the artist's wiki page
  versewell songs "Quillfeather"
      one line per song: title, a tab, the song page's address
  versewell lyrics "Quillfeather" "salt road"
      the lyrics of that song (letter case does not matter; a title a few
      letters off is taken and named on stderr, --closest takes any)
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

Exit status:
  0    found
  1    not on the wiki: artist, song or lyrics absent (also HTTP 404 or 410)
  2    usage error, or no loadable plug-in
  3    network or server failure: any other failed download (after retries)
  4    could not write: standard output, a JSON-lines stream or a local file (disk full,
       a file changed meanwhile, another run holds the folder)
  70   internal error: the program's own fault (out of memory, a bug)
  130  interrupted (Ctrl-C or SIGTERM)
With --json every outcome, failures included, is one JSON object on stdout;
a failure is {"error": {"kind": "not_found"|"network"|"usage"|"interrupted"|
"internal", "message": ..., "url": ..., "cause": ...}}; batch and library
--jsonl lines also have "write" for a lyrics file that could not be written.
The artist cache lives in $XDG_CACHE_HOME/versewell (or ~/.cache/versewell)
unless --cache-dir or --no-cache says otherwise.)";

// Accepts HOST:PORT, [IPv6]:PORT, optionally with a scheme in front. HOST
// is a name or IPv4 address (letters, digits, '.', '-', '_'); an IPv6
// address is in brackets.
std::string CheckProxy(const std::string& value) {
  size_t colon = value.rfind(':');
  if (value.empty() || colon == std::string::npos || colon + 1 == value.size() || colon == 0)
    return "expected HOST:PORT, got \"" + Echo(value) + "\"";
  for (char c : value)
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) return "the proxy must not contain blanks or control characters";
  size_t scheme = value.find("://");
  std::string host = value.substr(scheme == std::string::npos ? 0 : scheme + 3);
  host = host.substr(0, host.rfind(':'));
  if (scheme != std::string::npos && scheme + 3 > colon) return "expected HOST:PORT, got \"" + Echo(value) + "\"";
  if (!host.empty() && host.front() == '[') {
    if (host.size() < 3 || host.back() != ']' ||
        host.find_first_not_of("0123456789abcdefABCDEF:.", 1) != host.size() - 1)
      return "an IPv6 proxy address goes in brackets, as [::1]:8080; got \"" + Echo(value) + "\"";
  } else if (host.empty() || host.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-_") !=
                                 std::string::npos) {
    return "expected HOST:PORT with a host name or address (an IPv6 address in brackets), got \"" + Echo(value) + "\"";
  }
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
  // The same options on every platform: CLI11 would otherwise read "/x"
  // arguments as options in a Windows build, and "/tmp/..." or "/help" are
  // file names and text here. Subcommands inherit the setting.
  app.allow_windows_style_options(false);
  app.require_subcommand(0, 1);
  app.fallthrough();

  app.add_flag("-V,--version", m_bShowVersion,
               "Print the versions of versewell and of the plug-in (works without a loadable plug-in)");
  app.add_option("--plugin", options.strPlugin, "Plug-in library to load (default: the one installed beside versewell)");
  app.add_option("--proxy", options.strProxy,
                 "HTTP proxy through which the wiki is reached (default: the system's, on Linux the http_proxy and "
                 "no_proxy variables as libcurl reads them; -v says which one a run used)")
      ->type_name("HOST:PORT")
      ->check(CheckProxy);
  m_pMaxDiffOption =
      app.add_option("--max-diff", m_strMaxDifference,
                     "Largest artist name difference still accepted (default 1: letter case, surrounding blanks, "
                     "blanks inside brackets; 250 also forgives a missing \"The \")")
          ->type_name("X");
  app.add_option("--cache-dir", options.strCacheDir,
                 "Artist cache folder (created when missing; default $XDG_CACHE_HOME/versewell or "
                 "~/.cache/versewell)")
      ->type_name("DIR");
  app.add_flag("--no-cache", options.bNoCache, "Use no artist cache");
  app.add_option("--log-dir", options.strLogDir,
                 "Write the plug-in's trace log into DIR (UTF-16; read it with versewell log FILE)")
      ->type_name("DIR");
  app.add_option("--trace-level", options.strTraceLevel,
                 "Trace log level: Error, Warning, Info, Debug (also Detail, Verbose), in any letter case, or a "
                 "number 10-40; needs --log-dir (default with --log-dir: Debug, failures and every download)")
      ->type_name("LEVEL")
      ->check([](const std::string& value) {
        std::string name;
        return TraceLevelName(value, name) ? std::string()
                                           : "expected Error, Warning, Info, Debug, Detail, Verbose or a number from "
                                             "10 up, got \"" + value + "\"";
      });
  app.add_option("--parent-log", options.strParentLog,
                 "At exit, append the trace log to FILE (UTF-16) and delete it; needs --log-dir")
      ->type_name("FILE");
  app.add_flag("--json", options.bJson, "Print one JSON object per command");
  app.add_flag("--stats", options.bStats, "Report the download statistics (stderr, or \"stats\" in JSON)");
  app.add_option("--retries", options.nRetries,
                 "Retry a network failure or HTTP 429/5xx N times (default 2, 0: never), waiting 0.5 s, 1 s, ... "
                 "with jitter; HTTP 404 is never retried")
      ->type_name("N")
      ->check(CLI::Range(0u, 20u).description(""));
  app.add_option("--delay", options.nDelayMs, "Wait MS milliseconds between requests to the wiki")
      ->type_name("MS")
      ->check(CLI::Range(0u, 3600000u).description(""));
  app.add_option("--timeout", m_nTimeoutSeconds,
                 "Give up a download that has no answer after SECONDS: bounds the connect and every wait for data "
                 "(default: the plug-in's own, 60 s to connect and 30 s for data); a retry follows as for any "
                 "network failure")
      ->type_name("SECONDS")
      ->check(CLI::Range(1u, 3600u).description(""));
  app.add_option("--max-failures", options.nMaxFailures,
                 "batch and library: stop after N network failures in a row, naming the cause and the songs left "
                 "(default 5, 0: never stop)")
      ->type_name("N")
      ->check(CLI::Range(0u, 1000000u).description(""));
  app.add_flag("-v,--verbose", options.bVerbose, "Report the plug-in path, cache and the hosts contacted on stderr");
  app.add_flag("-q,--quiet", options.bQuiet, "Print nothing on stderr but errors (no progress line, no notes)");
  app.add_flag("--no-progress", options.bNoProgress,
               "Draw no progress line while fetch-all, batch or library runs");
  // Hidden: the build writes the man page with it.
  app.add_flag("--man-page", m_bManPage, "Print the man page (troff)")->group("");

  for (const SCommandRow& row : CommandTable()) {
    CLI::App* command = app.add_subcommand(row.pszName, row.pszSummary);
    row.pfnDeclare(*command, options, m_args);
    m_vecCommands.push_back(command);
  }
}

int CCommandLine::UsageError(const std::string& message) const {
  PrintError(message + " (see versewell --help)");
  if (m_bJsonRequested) {
    std::string text = JsonError(EErrorKind::Usage, message)
                           .dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    hostplatform::WriteText(stdout, text);
  }
  return EXIT_USAGE;
}

std::string CCommandLine::HelpText(CLI::App* subcommand) {
  if (subcommand == nullptr) return m_app.help();
  std::string text = subcommand->help();
  text += "\nGlobal options (before or after the command):\n";
  for (const CLI::Option* option : m_app.get_options()) {
    std::string names = option->get_name(false, true);
    if (names.empty() || names == "--help" || names == "-h,--help") continue;
    std::string type = option->get_type_name();
    std::string left = "  " + names + (option->get_expected_min() > 0 && !type.empty() ? " " + type : "");
    if (left.size() < 30) left.resize(30, ' '); else left += "\n" + std::string(30, ' ');
    text += left + option->get_description() + "\n";
  }
  return text;
}

namespace {

// The nearest of `candidates` to `word`, when it is near enough to be a typo.
std::string Nearest(const std::string& word, const std::vector<std::string>& candidates) {
  std::string best;
  size_t bestDistance = static_cast<size_t>(-1);
  for (const std::string& candidate : candidates) {
    size_t d = EditDistance(Utf8ToWide(word), Utf8ToWide(candidate));
    if (d < bestDistance) {
      bestDistance = d;
      best = candidate;
    }
  }
  size_t allowed = std::max<size_t>(2, word.size() / 3);
  return bestDistance <= allowed ? best : std::string();
}

std::vector<std::string> CommandWords() {
  std::vector<std::string> words;
  for (const SCommandRow& row : CommandTable()) words.emplace_back(row.pszName);
  return words;
}

// " (did you mean `x`?)" for a near candidate, else `otherwise`.
std::string Suggestion(const std::string& word, const std::vector<std::string>& candidates,
                       const std::string& otherwise = std::string()) {
  std::string near = Nearest(word, candidates);
  return near.empty() ? otherwise : " (did you mean `" + near + "`?)";
}

int PrintHelp(const std::string& text) {
  hostplatform::WriteText(stdout, text);
  return EXIT_FOUND;
}

}  // namespace

bool CCommandLine::GivenOnCommandLine(const std::string& name) const {
  const std::string option = "--" + name;
  if (const CLI::Option* own = m_app.get_option_no_throw(option); own != nullptr && own->count() > 0) return true;
  for (const CLI::App* sub : m_app.get_subcommands({}))
    if (const CLI::Option* found = sub->get_option_no_throw(option); found != nullptr && found->count() > 0) return true;
  return false;
}

std::optional<int> CCommandLine::ApplyUserConfig() {
  SConfigFile config;
  std::string error;
  if (!LoadUserConfig(config, error)) return UsageError(error);
  ConfigSources sources;
  auto checkTemplate = [](const std::string& text) {
    COutputTemplate layout;
    std::string problem;
    return layout.Parse(text, problem) ? std::string() : "template: " + problem;
  };
  if (!ApplyConfig(config, [this](const std::string& name) { return GivenOnCommandLine(name); },
                   [](const std::string& value) {
                     std::string problem = CheckProxy(value);
                     return problem.empty() ? problem : "proxy: " + problem;
                   },
                   checkTemplate, m_options, sources, error))
    return UsageError(error);
  m_options.mapSources = sources;
  m_options.strConfigFile = config.strPath;
  m_options.bConfigFound = config.bFound;
  return std::nullopt;
}

CLI::App* CCommandLine::ParsedCommand() const {
  for (CLI::App* command : m_vecCommands)
    if (command->parsed()) return command;
  return nullptr;
}

const SCommandRow* CCommandLine::RowOf(const CLI::App* command) const {
  for (size_t i = 0; i < m_vecCommands.size(); ++i)
    if (m_vecCommands[i] == command) return &CommandTable()[i];
  return nullptr;
}

std::optional<int> CCommandLine::Parse(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  std::optional<int> exitCode;
  if (AnswerBeforeParsing(args, exitCode)) return exitCode;
  if ((exitCode = RunParser(argc, argv))) return exitCode;
  if ((exitCode = Validate())) return exitCode;
  if ((exitCode = ApplyUserConfig())) return exitCode;
  if ((exitCode = BuildOptions(RowOf(ParsedCommand())))) return exitCode;
  return ResolveDefaults();
}

// --json, --version and `help [COMMAND]` are found before parsing, so that
// they work anywhere on the line and whatever else the line holds.
bool CCommandLine::AnswerBeforeParsing(const std::vector<std::string>& args, std::optional<int>& exitCode) {
  SOptions& options = m_options;
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "--json") m_bJsonRequested = true;
  }
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "--version" || arg == "-V") {
      options.eCommand = ECommand::Version;
      options.bJson = m_bJsonRequested;
      for (size_t i = 0; i < args.size() && args[i] != "--"; ++i) {
        if (args[i] == "--plugin" && i + 1 < args.size()) options.strPlugin = args[i + 1];
        if (args[i].rfind("--plugin=", 0) == 0) options.strPlugin = args[i].substr(9);
      }
      exitCode = std::nullopt;
      return true;
    }
  }
  // `help [COMMAND]`: the first word that is neither an option nor an
  // option's value.
  size_t word = 0;
  while (word < args.size() && args[word] != "--" && !args[word].empty() && args[word][0] == '-') {
    const CLI::Option* option = m_app.get_option_no_throw(args[word].substr(0, args[word].find('=')));
    bool takesValue = option != nullptr && option->get_expected_min() > 0 && args[word].find('=') == std::string::npos;
    word += takesValue ? 2 : 1;
  }
  if (word >= args.size() || args[word] != "help") return false;
  CLI::App* command = nullptr;
  if (word + 1 < args.size()) {
    const SCommandRow* row = FindCommand(args[word + 1]);
    if (row == nullptr) {
      exitCode = UsageError("no command \"" + Echo(args[word + 1]) + "\"" + Suggestion(args[word + 1], CommandWords()));
      return true;
    }
    command = m_vecCommands[static_cast<size_t>(row - CommandTable().data())];
  }
  exitCode = PrintHelp(HelpText(command));
  return true;
}

std::optional<int> CCommandLine::RunParser(int argc, char** argv) {
  try {
    m_app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    return PrintHelp(HelpText(ParsedCommand()));
  } catch (const CLI::CallForAllHelp&) {
    return PrintHelp(HelpText(nullptr));
  } catch (const CLI::ParseError& e) {
    return ReportParseError(e);
  }
  return std::nullopt;
}

int CCommandLine::ReportParseError(const CLI::ParseError& error) {
  CLI::App* command = ParsedCommand();
  const SCommandRow* row = RowOf(command);
  std::string what = error.what();
  if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
    // The first word that no option or command took.
    std::vector<std::string> extras = command != nullptr ? command->remaining() : m_app.remaining();
    if (extras.empty()) extras = m_app.remaining();
    std::string word = extras.empty() ? std::string() : extras.front();
    if (!word.empty() && word[0] == '-') {
      std::vector<std::string> names;
      for (const CLI::App* owner : {static_cast<const CLI::App*>(&m_app), static_cast<const CLI::App*>(command)}) {
        if (owner == nullptr) continue;
        for (const CLI::Option* option : owner->get_options())
          for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
      }
      return UsageError("unknown option \"" + Echo(word) + "\"" + Suggestion(word.substr(0, word.find('=')), names));
    }
    if (command == nullptr)
      return UsageError("unknown command \"" + Echo(word) + "\"" +
                        Suggestion(word, CommandWords(), " (commands: " + CommandNames() + ")"));
    return UsageError(command->get_name() + " takes fewer arguments; \"" + Echo(word) +
                      "\" is one too many (quote names and titles with blanks): " + UsageOf(row));
  }
  if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
    if (command == nullptr) return UsageError("missing: " + what);
    if (command->get_name() == "fetch-all" && what.find("--out") != std::string::npos)
      return UsageError("fetch-all needs an output folder: " + std::string(UsageOf(row)));
    // A command made of sub-commands names them.
    std::string parts;
    for (const CLI::App* part : command->get_subcommands({})) parts += (parts.empty() ? "" : ", ") + part->get_name();
    if (!parts.empty()) return UsageError(command->get_name() + " needs one of: " + parts);
    return UsageError(command->get_name() + " is missing its argument: " + UsageOf(row));
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
    size_t colon = what.find(':');
    std::string name = colon == std::string::npos ? std::string() : what.substr(0, colon);
    if (!name.empty() && name[0] == '-') return UsageError(name + " needs a value");
    return UsageError("wrong number of arguments: " + std::string(UsageOf(row)));
  }
  bool validation = dynamic_cast<const CLI::ValidationError*>(&error) != nullptr;
  if (validation || dynamic_cast<const CLI::ConversionError*>(&error) != nullptr) {
    // A validation message starts with the option's name; a conversion
    // message names it somewhere.
    auto names = [&](const char* option) {
      return validation ? what.rfind(option, 0) == 0 : what.find(option) != std::string::npos;
    };
    if (names("--retries")) return UsageError("--retries wants a whole number from 0 to 20");
    if (names("--delay")) return UsageError("--delay wants milliseconds, a whole number from 0 to 3600000");
    if (names("--timeout")) return UsageError("--timeout wants seconds, a whole number from 1 to 3600");
    if (names("--max-failures")) return UsageError("--max-failures wants a whole number from 0 up");
  }
  return UsageError(Echo(what, 2 * MAX_ECHO_CHARS));
}

// Checks of values CLI11 cannot check itself.
std::optional<int> CCommandLine::Validate() {
  m_options.nTimeoutMs = m_nTimeoutSeconds * 1000;
  if (m_pMaxDiffOption->count() > 0) {
    const std::string& text = m_strMaxDifference;
    char* end = nullptr;
    errno = 0;
    double value = text.empty() ? -1 : std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value) || value < 0 ||
        value > std::numeric_limits<float>::max() || errno == ERANGE)
      return UsageError("--max-diff wants a number >= 0 (such as 1 or 250), got \"" + Echo(text) + "\"");
    m_options.fMaxDifference = static_cast<float>(value);
  }
  return std::nullopt;
}

// The command and its arguments, from the command's row.
std::optional<int> CCommandLine::BuildOptions(const SCommandRow* row) {
  if (row != nullptr) {
    std::string error = row->pfnTake(m_args, m_options);
    if (!error.empty()) return UsageError(error);
    return std::nullopt;
  }
  if (m_bManPage) {
    m_options.eCommand = ECommand::ManPage;
    return std::nullopt;
  }
  return UsageError("no command given; commands: " + CommandNames());
}

// Options that depend on one another, and the defaults that follow.
std::optional<int> CCommandLine::ResolveDefaults() {
  SOptions& options = m_options;
  if (!options.strParentLog.empty() && options.strLogDir.empty())
    return UsageError("--parent-log needs --log-dir");
  if (!options.strTraceLevel.empty() && options.strLogDir.empty())
    return UsageError("--trace-level needs --log-dir: the plug-in writes its trace log only into a log folder");
  if (!options.strLogDir.empty()) {
    std::string name = DEFAULT_TRACE_LEVEL;
    if (!options.strTraceLevel.empty()) TraceLevelName(options.strTraceLevel, name);
    options.strTraceLevel = name;
  }
  if (options.bNoCache && !options.strCacheDir.empty())
    return UsageError("--no-cache and --cache-dir contradict each other; give one of them");
  if (options.bJson) {
    // One JSON object per run cannot hold a stream of songs or a document.
    if (options.eCommand == ECommand::Batch || options.eCommand == ECommand::Library)
      return UsageError("--json prints one object per run; batch and library print one per song with --jsonl");
    if (options.eCommand == ECommand::Log || options.eCommand == ECommand::Completion ||
        options.eCommand == ECommand::ManPage)
      return UsageError("--json: this command prints a text document, not a result");
  }
  return std::nullopt;
}

}  // namespace cli
