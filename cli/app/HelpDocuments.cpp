#include "cli/app/HelpDocuments.h"

#include <vector>

namespace cli {
namespace {

struct SCommand {
  std::string strPath;  // "cache path"
  const CLI::App* pApp;
};

bool Visible(const CLI::Option* option) { return !option->get_group().empty(); }

bool IsFlag(const CLI::Option* option) { return option->get_expected_max() == 0; }

std::vector<const CLI::Option*> Options(const CLI::App& app, bool positional) {
  return app.get_options([positional](const CLI::Option* option) {
    return Visible(option) && (positional ? option->get_positional() : option->nonpositional());
  });
}

std::vector<std::string> Names(const CLI::Option* option) {
  std::vector<std::string> names;
  for (const std::string& s : option->get_snames()) names.push_back("-" + s);
  for (const std::string& l : option->get_lnames()) names.push_back("--" + l);
  return names;
}

void CollectCommands(const CLI::App& app, const std::string& prefix, std::vector<SCommand>& out) {
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App* a) { return !a->get_group().empty(); })) {
    std::string path = prefix.empty() ? sub->get_name() : prefix + " " + sub->get_name();
    out.push_back({path, sub});
    CollectCommands(*sub, path, out);
  }
}

// troff: a backslash is written \e, a minus \-, and a line must not start
// with a dot or an apostrophe.
std::string Troff(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\e";
    else if (c == '-')
      out += "\\-";
    else
      out += c;
  }
  return out;
}

std::string TroffLines(const std::string& text) {
  std::string out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = Troff(text.substr(start, end - start));
    if (!line.empty() && (line[0] == '.' || line[0] == '\'')) line = "\\&" + line;
    out += line + "\n";
    start = end + 1;
  }
  return out;
}

std::string ValueName(const CLI::Option* option) {
  std::string name = option->get_type_name();
  return name.empty() ? "VALUE" : name;
}

void ManOptions(const CLI::App& app, std::string& out) {
  for (const CLI::Option* option : Options(app, false)) {
    std::string names;
    for (const std::string& name : Names(option)) names += (names.empty() ? "" : ", ") + std::string("\\fB") + Troff(name) + "\\fR";
    if (!IsFlag(option)) names += " \\fI" + Troff(ValueName(option)) + "\\fR";
    out += ".TP\n" + names + "\n" + TroffLines(option->get_description());
  }
}

std::string Usage(const CLI::App& app) {
  std::string usage;
  for (const CLI::Option* option : Options(app, true)) usage += " " + option->get_name();
  return usage;
}

bool TakesPath(const CLI::Option* option) {
  std::string name = option->get_type_name();
  return name == "DIR" || name == "FILE" || name == "PATH";
}

std::vector<std::string> Choices(const CLI::App& app) {
  std::vector<std::string> choices;
  for (const CLI::Option* option : Options(app, true)) {
    // A check may have added its own description after a colon.
    std::string name = option->get_type_name();
    name = name.substr(0, name.find(':'));
    if (name.find('|') == std::string::npos || name.find(' ') != std::string::npos) continue;
    size_t start = 0;
    for (;;) {
      size_t bar = name.find('|', start);
      choices.push_back(name.substr(start, bar == std::string::npos ? bar : bar - start));
      if (bar == std::string::npos) break;
      start = bar + 1;
    }
  }
  return choices;
}

std::string ShellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string FirstSentence(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  size_t cut = line.find(" (");
  if (cut != std::string::npos) line = line.substr(0, cut);
  return line;
}

// Words offered after `command` (empty: the top level) and the options that
// take a path.
struct SWords {
  std::vector<std::pair<std::string, std::string>> vecWords;  // word, description
  std::vector<std::string> vecValueOptions;
  std::vector<std::string> vecPathOptions;
};

SWords WordsFor(const CLI::App& top, const CLI::App& app) {
  SWords words;
  auto addOptions = [&](const CLI::App& from) {
    for (const CLI::Option* option : Options(from, false)) {
      for (const std::string& name : Names(option)) {
        bool seen = false;
        for (const auto& word : words.vecWords) seen = seen || word.first == name;
        if (seen) continue;  // every command has its own --help
        words.vecWords.push_back({name, FirstSentence(option->get_description())});
        if (!IsFlag(option)) words.vecValueOptions.push_back(name);
        if (TakesPath(option)) words.vecPathOptions.push_back(name);
      }
    }
  };
  addOptions(app);
  if (&app != &top) addOptions(top);  // global options are taken after a command too
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App* a) { return !a->get_group().empty(); }))
    words.vecWords.push_back({sub->get_name(), FirstSentence(sub->get_description())});
  for (const std::string& choice : Choices(app)) words.vecWords.push_back({choice, ""});
  return words;
}

std::string Join(const std::vector<std::string>& items, const std::string& separator) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : separator) + item;
  return out;
}

std::string FunctionName(const std::string& name) {
  std::string out;
  for (char c : name) out += (c == '-' || c == ' ') ? '_' : c;
  return out;
}

// The body of a shell "case" over the words before the cursor that finds
// the (sub)command being completed; bash and zsh share the syntax.
std::string FindCommandCases(const std::vector<SCommand>& commands) {
  std::string out;
  for (const SCommand& c : commands) {
    if (c.strPath.empty()) continue;
    size_t space = c.strPath.rfind(' ');
    std::string parent = space == std::string::npos ? "" : c.strPath.substr(0, space);
    std::string word = space == std::string::npos ? c.strPath : c.strPath.substr(space + 1);
    out += "      " + word + ") [[ \"$command\" == " + ShellQuote(parent) + " ]] && command=" +
           ShellQuote(c.strPath) + " ;;\n";
  }
  out += "    esac\n  done\n";
  return out;
}

std::string Bash(const CLI::App& app) {
  const std::string name = app.get_name();
  std::vector<SCommand> commands = {{"", &app}};
  CollectCommands(app, "", commands);
  std::string out = "# bash completion for " + name + "; generated from its option table.\n";
  out += "_" + FunctionName(name) + "() {\n";
  out += "  local cur=\"${COMP_WORDS[COMP_CWORD]}\" prev=\"${COMP_WORDS[COMP_CWORD-1]}\" command=\"\" i\n";
  out += "  for ((i = 1; i < COMP_CWORD; i++)); do\n";
  out += "    case \"${COMP_WORDS[i]}\" in\n";
  out += FindCommandCases(commands);
  out += "  local words=\"\" values=\"\" paths=\"\"\n";
  out += "  case \"$command\" in\n";
  for (const SCommand& c : commands) {
    SWords w = WordsFor(app, *c.pApp);
    std::vector<std::string> list;
    for (const auto& word : w.vecWords) list.push_back(word.first);
    out += "    " + ShellQuote(c.strPath) + ") words=" + ShellQuote(Join(list, " ")) + " values=" +
           ShellQuote(" " + Join(w.vecValueOptions, " ") + " ") + " paths=" +
           ShellQuote(" " + Join(w.vecPathOptions, " ") + " ") + " ;;\n";
  }
  out += "  esac\n";
  out += "  if [[ \"$paths\" == *\" $prev \"* ]]; then COMPREPLY=($(compgen -f -- \"$cur\")); return; fi\n";
  out += "  if [[ \"$values\" == *\" $prev \"* ]]; then COMPREPLY=(); return; fi\n";
  out += "  COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n";
  out += "}\n";
  out += "complete -o default -F _" + FunctionName(name) + " " + name + "\n";
  return out;
}

std::string ZshQuote(const std::string& word, const std::string& description) {
  std::string escaped;
  for (char c : word) escaped += c == ':' ? std::string("\\:") : std::string(1, c);
  return ShellQuote(description.empty() ? escaped : escaped + ":" + description);
}

std::string Zsh(const CLI::App& app) {
  const std::string name = app.get_name();
  std::vector<SCommand> commands = {{"", &app}};
  CollectCommands(app, "", commands);
  std::string out = "#compdef " + name + "\n# zsh completion for " + name + "; generated from its option table.\n";
  out += "_" + FunctionName(name) + "() {\n";
  out += "  local command=\"\" i\n  local -a offered\n";
  out += "  for ((i = 2; i < CURRENT; i++)); do\n    case \"${words[i]}\" in\n";
  out += FindCommandCases(commands);
  out += "  local values=\"\" paths=\"\"\n  case \"$command\" in\n";
  for (const SCommand& c : commands) {
    SWords w = WordsFor(app, *c.pApp);
    std::vector<std::string> list;
    for (const auto& word : w.vecWords) list.push_back(ZshQuote(word.first, word.second));
    out += "    " + ShellQuote(c.strPath) + ")\n      offered=(" + Join(list, " ") + ")\n      values=" +
           ShellQuote(" " + Join(w.vecValueOptions, " ") + " ") + " paths=" +
           ShellQuote(" " + Join(w.vecPathOptions, " ") + " ") + " ;;\n";
  }
  out += "  esac\n";
  out += "  local prev=\"${words[CURRENT-1]}\"\n";
  out += "  if [[ \"$paths\" == *\" $prev \"* ]]; then _files; return; fi\n";
  out += "  if [[ \"$values\" == *\" $prev \"* ]]; then return; fi\n";
  out += "  _describe " + ShellQuote(name) + " offered\n";
  out += "}\n";
  out += "compdef _" + FunctionName(name) + " " + name + "\n";
  return out;
}

std::string Fish(const CLI::App& app) {
  const std::string name = app.get_name();
  std::vector<SCommand> commands = {{"", &app}};
  CollectCommands(app, "", commands);
  std::string out = "# fish completion for " + name + "; generated from its option table.\n";
  out += "complete -c " + name + " -f\n";
  for (const SCommand& c : commands) {
    std::string condition;
    if (c.strPath.empty()) {
      condition = "";
    } else {
      size_t space = c.strPath.rfind(' ');
      std::string word = space == std::string::npos ? c.strPath : c.strPath.substr(space + 1);
      condition = " -n " + ShellQuote("__fish_seen_subcommand_from " + word);
    }
    for (const CLI::Option* option : Options(*c.pApp, false)) {
      std::string line = "complete -c " + name + condition;
      for (const std::string& s : option->get_snames()) line += " -s " + s;
      for (const std::string& l : option->get_lnames()) line += " -l " + l;
      if (!IsFlag(option)) line += TakesPath(option) ? " -r -F" : " -r";
      line += " -d " + ShellQuote(FirstSentence(option->get_description()));
      out += line + "\n";
    }
    std::string at = c.strPath.empty() ? " -n __fish_use_subcommand" : condition;
    for (const CLI::App* sub : c.pApp->get_subcommands([](const CLI::App* a) { return !a->get_group().empty(); }))
      out += "complete -c " + name + at + " -a " + sub->get_name() + " -d " +
             ShellQuote(FirstSentence(sub->get_description())) + "\n";
    for (const std::string& choice : Choices(*c.pApp)) out += "complete -c " + name + at + " -a " + choice + "\n";
  }
  return out;
}

}  // namespace

std::string RenderManPage(const CLI::App& app, const std::string& version) {
  const std::string name = app.get_name();
  std::string upper;
  for (char c : name) upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  std::string description = app.get_description();
  if (description.compare(0, name.size() + 2, name + ": ") == 0) description.erase(0, name.size() + 2);
  std::string out = ".\\\" Generated from the option table of " + name + " --help; do not edit.\n";
  out += ".TH " + upper + " 1 \"\" \"" + Troff(name + " " + version) + "\" \"User Commands\"\n";
  out += ".SH NAME\n" + Troff(name) + " \\- " + TroffLines(description);
  out += ".SH SYNOPSIS\n.B " + Troff(name) + "\n[\\fIOPTIONS\\fR] \\fICOMMAND\\fR [\\fIARGUMENTS\\fR]\n";
  out += ".SH OPTIONS\n";
  ManOptions(app, out);
  out += ".SH COMMANDS\n";
  std::vector<SCommand> commands;
  CollectCommands(app, "", commands);
  for (const SCommand& c : commands) {
    out += ".TP\n\\fB" + Troff(c.strPath) + "\\fR\\fI" + Troff(Usage(*c.pApp)) + "\\fR\n";
    out += TroffLines(c.pApp->get_description());
    std::vector<const CLI::Option*> positionals = Options(*c.pApp, true);
    std::vector<const CLI::Option*> options = Options(*c.pApp, false);
    if (positionals.empty() && options.size() <= 1) continue;  // only its own --help
    out += ".RS\n";
    for (const CLI::Option* option : positionals)
      out += ".TP\n\\fI" + Troff(option->get_name()) + "\\fR\n" + TroffLines(option->get_description());
    ManOptions(*c.pApp, out);
    out += ".RE\n";
  }
  std::string footer = app.get_footer();
  while (!footer.empty() && footer[0] == '\n') footer.erase(0, 1);
  if (!footer.empty()) out += ".SH NOTES\n.nf\n" + TroffLines(footer) + ".fi\n";
  return out;
}

std::string RenderCompletion(const CLI::App& app, const std::string& shell) {
  if (shell == "bash") return Bash(app);
  if (shell == "zsh") return Zsh(app);
  if (shell == "fish") return Fish(app);
  return std::string();
}

}  // namespace cli
