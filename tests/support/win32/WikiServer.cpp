// CWikiServer for test programs that run under Wine: the server stays the
// native Linux program. Wine can start a Linux executable with
// CreateProcessW, but cannot hand its standard output to the test or signal
// it, so tests/support/wiki-launcher.sh starts it, reports the port through
// a file and stops it on request or when the test process ends.
#include "support/WikiServer.h"

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "support/TempDir.h"
#include "support/win32/WineHost.h"

namespace {

constexpr int START_TIMEOUT_MS = 10000;
constexpr int STOP_TIMEOUT_MS = 5000;

// The Linux process id of this (Wine) process: /proc/self seen through Z:.
std::string UnixProcessId() {
  std::ifstream stat("Z:\\proc\\self\\stat");
  std::string pid;
  stat >> pid;
  return pid;
}

std::string Quote(const std::string& arg) { return "\"" + arg + "\""; }

}  // namespace

// The Linux path of a Windows path (Wine's own kernel32 export).
std::string WineUnixPath(const std::string& path) {
  if (path.size() < 2 || path[1] != ':') return path;  // already a Linux path
  typedef char*(__cdecl * UnixName)(const wchar_t*);
  auto convert = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (convert == nullptr) throw std::runtime_error("CWikiServer: not running under Wine");
  char* unix = convert(FromUtf8(path).c_str());
  if (unix == nullptr) throw std::runtime_error("CWikiServer: no Linux path for " + path);
  std::string result = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

bool StartNativeProgram(const std::string& commandLine) {
  std::wstring command = FromUtf8(commandLine);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};  // not to be trusted, see WineHost.h
  return CreateProcessW(L"Z:\\bin\\sh", &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process) != FALSE;
}

void CWikiServer::Start(const SWikiServerOptions& options) {
  const std::string& root = options.root;
  {
    CTempDir state;  // a fresh name; the folder itself is kept until Stop
    m_stateDir = state.Path() + "-wiki";
  }
  std::filesystem::create_directories(std::filesystem::u8path(m_stateDir + "/root"));
  auto file = [this](const char* name) { return m_stateDir + "/" + name; };
  std::string folder = root.empty() ? file("root") : root;
  m_logFile = file("err");  // the launcher sends the --log output there
  const std::string parent = UnixProcessId();
  const std::string launcher = std::string(VERSEWELL_SOURCE_DIR) + "/tests/support/wiki-launcher.sh";
  std::string line = "Z:\\bin\\sh " + Quote(launcher) + " " + Quote(ProgramPath()) + " " + Quote(WineUnixPath(folder)) +
                     " " + Quote(WineUnixPath(m_stateDir)) + " " + parent;
  for (const std::string& option : WikiServerOptionArguments(options, WineUnixPath)) line += " " + Quote(option);
  if (!StartNativeProgram(line)) {
    Stop();
    throw std::runtime_error("CWikiServer: cannot start the launcher");
  }

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(START_TIMEOUT_MS);
  while (!FileExists(file("port")) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  m_port = std::atoi(ReadFileBytes(file("port")).c_str());
  if (m_port <= 0) {
    const std::string err = ReadFileBytes(file("err"));
    Stop();
    throw std::runtime_error("CWikiServer: the server did not start: " + err);
  }
}

void CWikiServer::Stop() {
  if (m_stateDir.empty()) return;
  auto file = [this](const char* name) { return m_stateDir + "/" + name; };
  WriteFileBytes(file("stop"), "");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(STOP_TIMEOUT_MS);
  while (FileExists(file("port")) && !FileExists(file("stopped")) &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::error_code ec;
  std::filesystem::remove_all(std::filesystem::u8path(m_stateDir), ec);  // a launcher still waiting sees it gone
  m_stateDir.clear();
  m_logFile.clear();
}
