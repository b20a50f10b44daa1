#include "cli/host/PluginSetup.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/output/CacheFolder.h"
#include "cli/app/Commands.h"
#include "cli/sys/HostPlatform.h"
#include "cli/sys/PathText.h"
#include "cli/sys/TextConvert.h"
#include "cli/host/TraceLogText.h"

namespace cli {
namespace fs = std::filesystem;
namespace {

std::string Absolute(const std::string& path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(PathFromUtf8(path), ec);
  return ec ? path : Utf8FromPath(absolute);
}

void SetText(CLyricsDllInterface& plugin, const wchar_t* name, const std::string& value) {
  CString text(Utf8ToWide(value));
  plugin.SetProperty(name, &text);
}

// Trace files are named "<source name>_<date>_<time>_<process id in hex>.txt".
bool TraceFileExists(const std::string& logDir, const std::string& sourceName) {
  char pid[32];
  std::snprintf(pid, sizeof pid, "_%lX.txt", static_cast<unsigned long>(hostplatform::ProcessId()));
  std::error_code ec;
  for (fs::directory_iterator it(PathFromUtf8(logDir), ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = Utf8FromPath(it->path().filename());
    if (name.compare(0, sourceName.size() + 1, sourceName + "_") == 0 && name.size() > std::strlen(pid) &&
        name.compare(name.size() - std::strlen(pid), std::strlen(pid), pid) == 0)
      return true;
  }
  return false;
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

bool NoProxyCovers(const std::string& list, const std::string& host) {
  const std::string lowerHost = Lower(host);
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    std::string entry = list.substr(start, end - start);
    start = end + 1;
    size_t b = entry.find_first_not_of(" \t"), e = entry.find_last_not_of(" \t");
    if (b == std::string::npos) continue;
    entry = Lower(entry.substr(b, e - b + 1));
    if (entry == "*") return true;
    if (entry[0] == '.') entry.erase(0, 1);
    if (entry.empty()) continue;
    if (lowerHost == entry) return true;
    if (lowerHost.size() > entry.size() && lowerHost.compare(lowerHost.size() - entry.size(), entry.size(), entry) == 0 &&
        lowerHost[lowerHost.size() - entry.size() - 1] == '.')
      return true;
  }
  return false;
}

}  // namespace

std::string ConfigureCache(CLyricsDllInterface& plugin, const SOptions& options, std::string& runFolder) {
  runFolder.clear();
  if (options.bNoCache) {
    std::string error;
    runFolder = hostplatform::MakePrivateFolder(error);
    if (runFolder.empty()) return std::string();  // then pages may be read twice, nothing worse
    SetText(plugin, L"LocalCacheFolder", runFolder);
    return runFolder;
  }
  const std::string folder = options.strCacheDir.empty() ? DefaultCacheFolder() : options.strCacheDir;
  if (folder.empty()) {
    if (options.bVerbose) PrintError("no HOME or XDG_CACHE_HOME: running without an artist cache");
    return std::string();
  }
  std::string error;
  if (!PrepareCacheFolder(folder, error)) {
    PrintError("cache disabled: " + error);
    return std::string();
  }
  const std::string absolute = Absolute(folder);
  SetText(plugin, L"LocalCacheFolder", absolute);
  if (options.bVerbose) PrintError("artist cache: " + folder);
  return absolute;
}

void CloseAndMergeLog(CLyricsDllInterface& plugin, const SOptions& options) {
  if (options.strParentLog.empty()) {
    plugin.CallMethod(L"CloseAndMergeLog", nullptr);
    return;
  }
  const std::string parent = Absolute(options.strParentLog);
  std::string warning = CheckParentLogEncoding(parent);
  if (!warning.empty()) PrintError(warning);
  errno = 0;
  std::FILE* probe = hostplatform::OpenFile(parent, "ab");
  if (probe == nullptr) {
    PrintError("cannot merge the trace log into " + parent + ": " +
               std::error_code(errno, std::generic_category()).message() + "; the trace file stays in " +
               options.strLogDir);
    CString none;
    plugin.SetProperty(L"ParentLogfilePath", &none);
    plugin.CallMethod(L"CloseAndMergeLog", nullptr);
    return;
  }
  std::fclose(probe);
  CString sourceName;
  plugin.GetProperty(L"SourceName", &sourceName);
  bool hadTraceFile = TraceFileExists(options.strLogDir, WideToUtf8(sourceName.Str()));
  int64_t before = FileSizeOrMissing(parent);
  plugin.CallMethod(L"CloseAndMergeLog", nullptr);
  if (hadTraceFile && FileSizeOrMissing(parent) <= before)
    PrintError("the trace log was not merged into " + parent);
}

std::string DescribeProxy(const std::string& proxyOption, const std::string& siteHost,
                          const EnvironmentLookup& getenv) {
  if (!proxyOption.empty()) return "proxy: " + proxyOption + " (from --proxy)";
  for (const char* name : {"no_proxy", "NO_PROXY"}) {
    const char* value = getenv(name);
    if (value != nullptr && value[0] != '\0') {
      if (NoProxyCovers(value, siteHost))
        return std::string("proxy: none (") + name + " in the environment covers " + siteHost + ")";
      break;
    }
  }
  for (const char* name : {"http_proxy", "all_proxy", "ALL_PROXY"}) {
    const char* value = getenv(name);
    if (value != nullptr && value[0] != '\0')
      return std::string("proxy: ") + value + " (from the environment: " + name + ")";
  }
  return "proxy: none (no --proxy, and no http_proxy or all_proxy in the environment)";
}

}  // namespace cli
