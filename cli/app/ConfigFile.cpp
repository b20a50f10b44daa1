#include "cli/app/ConfigFile.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "cli/sys/HostPlatform.h"
#include "cli/sys/PathText.h"
#include "cli/sys/TextConvert.h"

namespace cli {
namespace fs = std::filesystem;
namespace {

// A config file is a few lines; a bigger one is a mistake.
constexpr std::uintmax_t MAX_CONFIG_BYTES = 64 * 1024;

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return std::string();
  size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

std::string HomePath(const std::string& value) {
  if (value.rfind("~/", 0) != 0) return value;
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') return value;
  return Utf8FromPath(PathFromUtf8(home) / PathFromUtf8(value.substr(2)));
}

// A whole number from `low` to `high`; nullopt otherwise.
std::optional<unsigned> Number(const std::string& text, unsigned low, unsigned high) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  unsigned long value = std::stoul(text);
  if (value < low || value > high) return std::nullopt;
  return static_cast<unsigned>(value);
}

}  // namespace

const std::vector<std::string>& ConfigNames() {
  static const std::vector<std::string> names = {"proxy",   "cache-dir", "jobs",     "delay",
                                                 "retries", "timeout",   "template", "out"};
  return names;
}

bool ParseConfig(const std::string& text, const std::string& path, SConfigFile& config, std::string& error) {
  config.strPath = path;
  config.bFound = true;
  size_t lineNumber = 0, start = 0;
  std::string body = text.rfind("\xEF\xBB\xBF", 0) == 0 ? text.substr(3) : text;
  while (start <= body.size()) {
    size_t end = body.find('\n', start);
    std::string line = Trim(body.substr(start, end == std::string::npos ? std::string::npos : end - start));
    ++lineNumber;
    start = end == std::string::npos ? body.size() + 1 : end + 1;
    if (line.empty() || line[0] == '#') continue;
    const std::string where = path + ", line " + std::to_string(lineNumber) + ": ";
    size_t equals = line.find('=');
    if (equals == std::string::npos) {
      error = where + "expected NAME = VALUE, got \"" + Echo(line) + "\"";
      return false;
    }
    std::string name = Trim(line.substr(0, equals));
    std::string value = Trim(line.substr(equals + 1));
    const std::vector<std::string>& names = ConfigNames();
    if (std::find(names.begin(), names.end(), name) == names.end()) {
      std::string known;
      for (const std::string& n : names) known += (known.empty() ? "" : ", ") + n;
      error = where + "unknown setting \"" + Echo(name) + "\" (known: " + known + ")";
      return false;
    }
    if (value.empty()) {
      error = where + name + " has no value";
      return false;
    }
    config.mapSettings[name] = {value, lineNumber};
  }
  return true;
}

bool LoadUserConfig(SConfigFile& config, std::string& error) {
  config = SConfigFile();
  config.strPath = hostplatform::UserConfigFile();
  if (config.strPath.empty()) return true;
  std::error_code ec;
  const fs::path path = PathFromUtf8(config.strPath);
  if (!fs::exists(path, ec)) return true;
  if (fs::file_size(path, ec) > MAX_CONFIG_BYTES && !ec) {
    error = config.strPath + ": larger than a config file can be";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + config.strPath;
    return false;
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return ParseConfig(text, config.strPath, config, error);
}

bool ApplyConfig(const SConfigFile& config, const std::function<bool(const std::string&)>& given,
                 const std::function<std::string(const std::string&)>& checkProxy,
                 const std::function<std::string(const std::string&)>& checkTemplate, SOptions& options,
                 ConfigSources& sources, std::string& error) {
  for (const std::string& name : ConfigNames()) sources[name] = given(name) ? "command line" : "default";

  const char* environmentProxy = std::getenv("VERSEWELL_PROXY");
  if (!given("proxy") && environmentProxy != nullptr && environmentProxy[0] != '\0') {
    std::string problem = checkProxy(environmentProxy);
    if (!problem.empty()) {
      error = "VERSEWELL_PROXY: " + problem;
      return false;
    }
    options.strProxy = environmentProxy;
    sources["proxy"] = "VERSEWELL_PROXY";
  }
  for (const auto& [name, setting] : config.mapSettings) {
    if (sources[name] != "default") continue;
    const std::string where = config.strPath + ", line " + std::to_string(setting.nLine) + ": ";
    const std::string& value = setting.strValue;
    std::string problem;
    if (name == "proxy") {
      problem = checkProxy(value);
      if (problem.empty()) options.strProxy = value;
    } else if (name == "cache-dir") {
      if (options.bNoCache) continue;  // --no-cache on the command line wins
      options.strCacheDir = HomePath(value);
    } else if (name == "out") {
      options.strOutDir = HomePath(value);
    } else if (name == "template") {
      problem = checkTemplate(value);
      if (problem.empty()) options.strTemplate = value;
    } else {
      struct SRange {
        const char* name;
        unsigned low, high;
        unsigned* target;
        unsigned scale;
      };
      const SRange ranges[] = {{"jobs", 1, 64, &options.nJobs, 1},
                               {"delay", 0, 3600000, &options.nDelayMs, 1},
                               {"retries", 0, 20, &options.nRetries, 1},
                               {"timeout", 1, 3600, &options.nTimeoutMs, 1000}};
      for (const SRange& range : ranges) {
        if (name != range.name) continue;
        std::optional<unsigned> number = Number(value, range.low, range.high);
        if (!number)
          problem = name + " wants a whole number from " + std::to_string(range.low) + " to " +
                    std::to_string(range.high) + ", got \"" + Echo(value) + "\"";
        else
          *range.target = *number * range.scale;
      }
    }
    if (!problem.empty()) {
      error = where + problem;
      return false;
    }
    sources[name] = config.strPath + ", line " + std::to_string(setting.nLine);
  }
  return true;
}

std::string EffectiveValue(const std::string& name, const SOptions& options) {
  if (name == "proxy") return options.strProxy.empty() ? "(the system's)" : options.strProxy;
  if (name == "cache-dir") return options.bNoCache ? "(none: --no-cache)" : options.strCacheDir.empty() ? "(the default)" : options.strCacheDir;
  if (name == "jobs") return std::to_string(options.nJobs);
  if (name == "delay") return std::to_string(options.nDelayMs);
  if (name == "retries") return std::to_string(options.nRetries);
  if (name == "timeout") return options.nTimeoutMs == 0 ? "(the plug-in's own)" : std::to_string(options.nTimeoutMs / 1000);
  if (name == "template") return options.strTemplate.empty() ? "(the default)" : options.strTemplate;
  if (name == "out") return options.strOutDir.empty() ? "(none)" : options.strOutDir;
  return std::string();
}

}  // namespace cli
