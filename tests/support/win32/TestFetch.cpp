// Windows backend of support/TestFetch.h, for tests under Wine: the native
// curl command line started through /bin/sh (the options mirror the posix
// backend's libcurl settings), and a Winsock connection.
#include "support/TestFetch.h"

#include <winsock2.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "support/TempDir.h"
#include "support/win32/WineHost.h"

namespace {

constexpr int FETCH_TIMEOUT_MS = 40000;  // curl itself gives up after 20 s

std::string Quote(const std::string& arg) { return "'" + arg + "'"; }

}  // namespace

SFetched FetchUrl(const std::string& url, const std::string& proxy, const std::string& caFile) {
  CTempDir folder;
  const std::string unixFolder = WineUnixPath(folder.Path());
  std::string curl = "curl -s -o " + Quote(unixFolder + "/body") + " -w '%{http_code} %{http_connect}'" +
                     " --proxy " + Quote(proxy) + " --noproxy '' --max-time 20";
  if (url.compare(0, 6, "https:") == 0) curl += " --cacert " + Quote(WineUnixPath(caFile));
  curl += " " + Quote(url);
  const std::string shell = curl + " >" + Quote(unixFolder + "/status") + " 2>/dev/null; echo $? >" +
                            Quote(unixFolder + "/rc.tmp") + " && mv " + Quote(unixFolder + "/rc.tmp") + " " +
                            Quote(unixFolder + "/rc");
  if (!StartNativeProgram("Z:\\bin\\sh -c \"" + shell + "\""))
    throw std::runtime_error("FetchUrl: cannot run curl");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(FETCH_TIMEOUT_MS);
  while (!FileExists(folder.File("rc")) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (!FileExists(folder.File("rc"))) throw std::runtime_error("FetchUrl: curl did not end");
  SFetched f;
  f.bOk = std::atoi(ReadFileBytes(folder.File("rc")).c_str()) == 0;
  if (FileExists(folder.File("body"))) f.strBody = ReadFileBytes(folder.File("body"));
  // "<response code> <CONNECT response code>", each 000 when there was none.
  const std::string status = ReadFileBytes(folder.File("status"));
  f.nStatus = std::atol(status.c_str());
  const size_t space = status.find(' ');
  if (f.nStatus == 0 && space != std::string::npos) f.nStatus = std::atol(status.c_str() + space + 1);
  return f;
}

bool LoopbackPortAccepts(int port) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  bool ok = false;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s != INVALID_SOCKET) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<u_short>(port));
    ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    closesocket(s);
  }
  WSACleanup();
  return ok;
}
