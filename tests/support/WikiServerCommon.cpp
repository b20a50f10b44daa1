// The parts of CWikiServer that do not depend on how the server process is
// started and stopped: the constructors, the server options as program
// arguments, reading the request log, and the addresses. The start and stop
// themselves are in tests/support/WikiServer.cpp (posix) and
// tests/support/win32/WikiServer.cpp (a test under Wine).
#include <filesystem>
#include <fstream>

#include "support/WikiServer.h"

std::string CWikiServer::ProgramPath() {
#ifdef VERSEWELL_WIKI_SERVER
  return VERSEWELL_WIKI_SERVER;
#else
  return "versewell-wiki";
#endif
}

std::vector<std::string> WikiServerOptionArguments(const SWikiServerOptions& options,
                                                   const std::function<std::string(const std::string&)>& serverPath) {
  std::vector<std::string> args = {"--log"};
  if (!options.tlsCert.empty())
    args.insert(args.end(), {"--tls-cert", serverPath(options.tlsCert), "--tls-key", serverPath(options.tlsKey)});
  if (options.stallAccept) args.push_back("--stall-accept");
  if (options.delayMs > 0) args.insert(args.end(), {"--delay-ms", std::to_string(options.delayMs)});
  return args;
}

CWikiServer::CWikiServer(const std::string& root) {
  SWikiServerOptions options;
  options.root = root;
  Start(options);
}

CWikiServer::CWikiServer(const SWikiServerOptions& options) { Start(options); }

CWikiServer::~CWikiServer() { Stop(); }

std::vector<std::string> CWikiServer::Requests() const {
  std::vector<std::string> lines;
  std::ifstream log(std::filesystem::u8path(m_logFile));
  const std::string prefix = "versewell-wiki: ";
  for (std::string line; std::getline(log, line);)
    if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line.substr(prefix.size()));
  return lines;
}

std::string CWikiServer::Proxy() const { return "127.0.0.1:" + std::to_string(m_port); }

std::wstring CWikiServer::WProxy() const {
  std::string p = Proxy();
  return std::wstring(p.begin(), p.end());
}

std::string CWikiServer::Url(const std::string& path) const { return "http://" + Proxy() + path; }
