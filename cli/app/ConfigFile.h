// The user's configuration file and the VERSEWELL_PROXY variable: default
// values for options a user would otherwise type on every run.
//
// The file ($XDG_CONFIG_HOME/versewell/config, ~/.config/versewell/config,
// or %APPDATA%\versewell\config) is UTF-8 text, one setting per line:
//   NAME = VALUE
// Blank lines and lines starting with '#' are ignored; blanks around NAME
// and VALUE are trimmed; a later line for the same NAME wins. NAME is one of
// proxy, cache-dir, jobs, delay, retries, timeout, template, out (the
// options of the same names; "timeout" in seconds, "delay" in
// milliseconds). A VALUE starting with "~/" is below the home folder.
//
// Order of precedence: the command line, then VERSEWELL_PROXY (for the
// proxy), then the file, then the built-in default. A missing file is no
// error; a line that is not a setting, an unknown NAME or a value the option
// would refuse is a usage error naming the file and the line.
//
// Failure: results and messages; nothing throws but std::bad_alloc.
// Threads: the main thread, before anything else runs.
#ifndef VERSEWELL_CLI_CONFIG_FILE_H
#define VERSEWELL_CLI_CONFIG_FILE_H

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/app/Options.h"

namespace cli {

// The names a config file may set, in the order `versewell config` shows them.
const std::vector<std::string>& ConfigNames();

struct SConfigSetting {
  std::string strValue;
  size_t nLine = 0;
};

struct SConfigFile {
  std::string strPath;   // empty: no file location known
  bool bFound = false;
  std::map<std::string, SConfigSetting> mapSettings;
};

// Parses the text of a config file. False with `error` naming `path` and the
// line on the first malformed line.
bool ParseConfig(const std::string& text, const std::string& path, SConfigFile& config, std::string& error);

// Reads the user's config file (hostplatform::UserConfigFile()).
bool LoadUserConfig(SConfigFile& config, std::string& error);

// Where each effective value came from: "command line", "VERSEWELL_PROXY",
// "PATH, line N" or "default".
using ConfigSources = std::map<std::string, std::string>;

// Fills the options the command line left out from VERSEWELL_PROXY and the
// file. `given(name)` tells whether the command line set the option of that
// name. `checkProxy` and `checkTemplate` are the command line's own checks
// (an empty result accepts). False with `error` on a value the option would
// refuse.
bool ApplyConfig(const SConfigFile& config, const std::function<bool(const std::string&)>& given,
                 const std::function<std::string(const std::string&)>& checkProxy,
                 const std::function<std::string(const std::string&)>& checkTemplate, SOptions& options,
                 ConfigSources& sources, std::string& error);

// The effective value of a setting, as `versewell config` prints it.
std::string EffectiveValue(const std::string& name, const SOptions& options);

}  // namespace cli

#endif  // VERSEWELL_CLI_CONFIG_FILE_H
