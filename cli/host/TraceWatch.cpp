#include "cli/host/TraceWatch.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "cli/sys/HostPlatform.h"
#include "cli/sys/PathText.h"
#include "cli/sys/TextConvert.h"

namespace cli {
namespace fs = std::filesystem;

std::string EffectiveTraceLevel(const SOptions& options) {
  if (!options.strTraceLevel.empty()) return options.strTraceLevel;
  // Only a command that lists an artist's songs needs the address of the
  // last page read; the others keep the private folder at the lowest level
  // that records failures, so a one-shot run writes no trace file at all.
  const bool bListsSongs = !(options.eCommand == ECommand::Artist ||
                             (options.eCommand == ECommand::Lyrics && options.vecArgs.size() == 1));
  return (options.strLogDir.empty() && !bListsSongs) ? std::string("Warning") : std::string("Debug");
}

CTraceWatch::CTraceWatch(const SOptions& options) : m_options(options), m_strLevel(EffectiveTraceLevel(options)) {}

CTraceWatch::~CTraceWatch() {
  if (!m_bPrivate || m_strFolder.empty()) return;
  std::error_code ignored;
  fs::remove_all(PathFromUtf8(m_strFolder), ignored);
}

bool CTraceWatch::Setup(CLyricsDllInterface& plugin, std::string& error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::error_code ec;
  if (m_strFolder.empty()) {
    if (!m_options.strLogDir.empty()) {
      fs::create_directories(PathFromUtf8(m_options.strLogDir), ec);
      if (ec) {
        error = "cannot create log folder " + m_options.strLogDir + ": " + ec.message();
        return false;
      }
      m_strFolder = Utf8FromPath(fs::absolute(PathFromUtf8(m_options.strLogDir), ec));
    } else {
      std::string ignored;
      m_strFolder = hostplatform::MakePrivateFolder(ignored);
      m_bPrivate = !m_strFolder.empty();
      if (m_strFolder.empty()) return true;  // no causes, but the search still runs
    }
  }
  CString folder(Utf8ToWide(m_strFolder));
  plugin.SetProperty(L"LogFolder", &folder);
  CString level(Utf8ToWide(m_strLevel));
  plugin.SetProperty(L"TraceLevel", &level);
  if (!m_options.strParentLog.empty()) {
    CString parent(Utf8ToWide(Utf8FromPath(fs::absolute(PathFromUtf8(m_options.strParentLog), ec))));
    plugin.SetProperty(L"ParentLogfilePath", &parent);
  }
  return true;
}

std::optional<SDownloadFailure> CTraceWatch::TakeFailure(unsigned long threadId) {
  std::lock_guard<std::mutex> lock(m_mutex);
  ReadNewLines();
  auto it = m_mapFailures.find(threadId);
  if (it == m_mapFailures.end()) return std::nullopt;
  SDownloadFailure failure = it->second;
  m_mapFailures.erase(it);
  return failure;
}

std::string CTraceWatch::LastDownload(unsigned long threadId) {
  std::lock_guard<std::mutex> lock(m_mutex);
  ReadNewLines();
  auto it = m_mapLastDownload.find(threadId);
  return it == m_mapLastDownload.end() ? std::string() : it->second;
}

void CTraceWatch::ReadNewLines() {
  if (m_strFolder.empty()) return;
  // This process's trace files: "<source name>_<date>_<time>_<PID in hex>.txt";
  // a new one starts at midnight.
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, "_%lX.txt", static_cast<unsigned long>(hostplatform::ProcessId()));
  std::error_code ec;
  for (fs::directory_iterator it(PathFromUtf8(m_strFolder), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = Utf8FromPath(it->path().filename());
    // The merged default parent log ("<date>_<time>_<PID>.txt") has one
    // part fewer and holds copies of lines already read.
    const size_t suffixLength = std::char_traits<char>::length(suffix);
    if (name.size() <= suffixLength || name.compare(name.size() - suffixLength, std::string::npos, suffix) != 0 ||
        std::count(name.begin(), name.end(), '_') < 3)
      continue;
    const std::string path = Utf8FromPath(it->path());
    uint64_t& offset = m_mapOffsets[path];
    std::ifstream in(it->path(), std::ios::binary);
    if (!in) continue;
    in.seekg(static_cast<std::streamoff>(offset));
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t start = 0;
    if (offset == 0 && bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE)
      start = 2;
    // Only whole lines (ending in CR LF) are taken; a line being written
    // waits for the next read.
    std::wstring line;
    size_t consumed = start;
    for (size_t i = start; i + 1 < bytes.size(); i += 2) {
      wchar_t c = static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                       (static_cast<unsigned char>(bytes[i + 1]) << 8));
      if (c == L'\n' && !line.empty() && line.back() == L'\r') {
        line.pop_back();
        consumed = i + 2;
        if (std::optional<STraceLine> parsed = ParseTraceLine(WideToUtf8(line))) {
          if (parsed->bStarted) {
            m_mapLastDownload[parsed->nThreadId] = parsed->strUrl;
          } else if (parsed->bBodyTooLarge) {
            m_mapTooLarge[parsed->nThreadId] = true;
          } else {
            SDownloadFailure& failure = m_mapFailures[parsed->nThreadId];
            failure.line = *parsed;
            failure.bBodyTooLarge = m_mapTooLarge[parsed->nThreadId];
            m_mapTooLarge.erase(parsed->nThreadId);
          }
        }
        line.clear();
        continue;
      }
      line += c;
    }
    offset += consumed;
  }
}

}  // namespace cli
